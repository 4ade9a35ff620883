#ifndef TOLVEX_TESTS_FOLDED_NAMES_H_
#define TOLVEX_TESTS_FOLDED_NAMES_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "json/json_value.h"
#include "memory_extraction.h"
#include "scripted_file_system.h"
#include "temp_dir.h"

namespace tolvex {

// A file that keeps the thread copying it busy while the other goes on ahead: each write
// to the file "0" takes a while (see slowFirstFile).
const std::string slowContents(3000, 's');
const std::string slowLine = "Extracting tolvex/0 (3000) ... OK\n";

// Writes to the file "0" pause first, from none to five milliseconds, and so does the making
// of every name that begins with a capital letter, from none to two: so that the other thread
// goes on meanwhile, differently from one run to the next.
inline void slowFirstFile(ScriptedFileSystem& files) {
  files.script = [](const std::string& call, const std::string& name) {
    static std::atomic<int> pauses{0};  // counts on from one file system to the next
    if (call == "write" && name == "0")
      std::this_thread::sleep_for(std::chrono::microseconds(500 * (pauses++ % 11)));
    if ((call == "createFile" || call == "makeDirectory") && !name.empty() && name[0] >= 'A' &&
        name[0] <= 'Z')
      std::this_thread::sleep_for(std::chrono::microseconds(200 * (pauses++ % 11)));
    return FsStatus::Ok;
  };
}

// Names that a file system which folds case takes for one, after the slow file "0": what
// extracting one entry after the other prints and leaves there, a name keeping the
// spelling it was made with (as Windows and macOS keep it).
struct FoldedNamesCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // after the slow file "0"
  std::string output;                                      // after the slow file's line
  TreeSnapshot tree;                                       // besides "0"
};

inline const std::vector<FoldedNamesCase>& foldedNamesCases() {
  static const std::vector<FoldedNamesCase> cases = {
      {"a file, then a directory of the same name",
       {{"A", "file"}, {"a/x", "x"}},
       "Extracting tolvex/A (4) . OK\nExtracting tolvex/a/x o NG\n",
       {{"A", "file:file"}}},
      {"two directories of the same name",
       {{"B/f", "first"}, {"b/f", "second"}, {"b/g", "g"}},
       "Extracting tolvex/B/f (5) . OK\nExtracting tolvex/b/f (6) . OK\n"
       "Extracting tolvex/b/g (1) . OK\n",
       {{"B", "dir"}, {"B/f", "file:second"}, {"B/g", "file:g"}}},
      {"two files of the same name",
       {{"C", "upper"}, {"c", "lower"}, {"d", "d"}},
       "Extracting tolvex/C (5) . OK\nExtracting tolvex/c (5) . OK\n"
       "Extracting tolvex/d (1) . OK\n",
       {{"c", "file:lower"}, {"d", "file:d"}}},
      {"a directory, then a file of the same name",
       {{"E/f", "f"}, {"e", "e"}, {"z", "z"}},
       "Extracting tolvex/E/f (1) . OK\nExtracting tolvex/e o NG\n",
       {{"E", "dir"}, {"E/f", "file:f"}}},
  };
  return cases;
}

// Runs every folded-names case `rounds` times into ./tolvex of a fresh directory through
// `files`, a file system that folds case: on one thread first, then on `threads`, where the
// outcome must not depend on which thread got where first.
inline void expectFoldedNamesOneByOne(FileSystem& files, int rounds, int threads = 2) {
  for (const FoldedNamesCase& c : foldedNamesCases()) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder;
    builder.addFile("0", slowContents);
    for (const auto& [path, contents] : c.files)
      builder.addFile(path, contents);
    TreeSnapshot tree = c.tree;
    tree["0"] = "file:" + slowContents;
    const std::string archive = builder.build();
    JsonDocument document;
    const JsonValue& filesValue = builder.filesValue(document);
    for (int round = 0; round < rounds; ++round) {
      TempDir dir;
      Extraction run = extractInMemory(archive, filesValue, round > 0 ? threads : 1, files);
      ASSERT_EQ(slowLine + c.output, run.output) << "round " << round;
      ASSERT_EQ(tree, snapshotTree("tolvex")) << "round " << round;
    }
  }
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FOLDED_NAMES_H_
