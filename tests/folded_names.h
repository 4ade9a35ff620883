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
#include "forwarding_file_system.h"
#include "json/json_value.h"
#include "memory_extraction.h"
#include "temp_dir.h"

namespace tolvex {

// A file that keeps the thread copying it busy while the other goes on ahead: each write
// to the file "0" takes a while (see SlowFirstFile).
const std::string slowContents(3000, 's');
const std::string slowLine = "Extracting tolvex/0 (3000) ... OK\n";

// Writes to the file "0" wait first, from none to five milliseconds, and so does the
// making of every name that begins with a capital letter, from none to two: so that the
// other thread goes on meanwhile, differently from one run to the next. With
// `saysItFolds`, directories say they may fold names (whether or not they do), so that
// the scheduler keeps the order of names in each directory.
class SlowFirstFile final : public ForwardingFileSystem {
 public:
  explicit SlowFirstFile(FileSystem& next = nativeFileSystem(), bool saysItFolds = false)
      : ForwardingFileSystem(next), saysItFolds_(saysItFolds) {}

  bool mayFoldNames(const Handle& directory) override {
    return saysItFolds_ || real_.mayFoldNames(directory);
  }
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    waitBefore(name);
    FsStatus status = real_.createFile(parent, name, file);
    if (status == FsStatus::Ok && name == "0") slowFile_ = file.value();
    return status;
  }
  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    waitBefore(name);
    return real_.makeDirectory(parent, name);
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    if (file.value() == slowFile_)
      std::this_thread::sleep_for(std::chrono::microseconds(500 * (waits() % 11)));
    return real_.write(file, bytes, count, written);
  }
  bool close(Handle& file) override {
    if (file.value() == slowFile_) slowFile_ = Handle::none;
    return real_.close(file);
  }

 private:
  // Counts on from one file system to the next.
  static int waits() {
    static std::atomic<int> count{0};
    return count++;
  }
  static void waitBefore(const std::string& name) {
    if (!name.empty() && name[0] >= 'A' && name[0] <= 'Z')
      std::this_thread::sleep_for(std::chrono::microseconds(200 * (waits() % 11)));
  }

  const bool saysItFolds_;
  std::atomic<intptr_t> slowFile_{Handle::none};
};

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
// `files`, a file system that folds case: on one thread first, then on two, where the
// outcome must not depend on which thread got where first.
inline void expectFoldedNamesOneByOne(FileSystem& files, int rounds) {
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
      Extraction run = extractInMemory(archive, filesValue, round > 0 ? 2 : 1, files);
      ASSERT_EQ(slowLine + c.output, run.output) << "round " << round;
      ASSERT_EQ(tree, snapshotTree("tolvex")) << "round " << round;
    }
  }
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FOLDED_NAMES_H_
