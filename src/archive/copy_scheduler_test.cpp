#include "archive/copy_scheduler.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "folded_names.h"
#include "memory_extraction.h"
#include "output_capture.h"
#include "scripted_file_system.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

using Folding = ScriptedFileSystem::Folding;

// Rules that timing decides are checked with 1, 2, 4 and 16 threads, many times over, so
// that the timing of the threads varies from run to run, against what one thread (which
// makes every entry at its turn) prints and leaves; every other round as on a file system
// that may fold names, where names in a directory are made in order. The faults that only
// one interleaving shows are checked with a script that forces it, with 2, 4 and 16
// threads: it needs a copy ahead.
constexpr int repeats = 40;

class SchedulerTest : public ::testing::TestWithParam<int> {
 protected:
  int threads() const { return GetParam(); }
};
class CopiesAhead : public SchedulerTest {};

struct Outcome {
  std::string output;
  bool ok;
  TreeSnapshot tree;
};

// Extracts the archive of `builder` into ./tolvex through `files` with `threads` copying
// threads (one: each entry at its turn), printing into `output`: what was printed and left.
Outcome extract(const ArchiveBuilder& builder, int threads, FileSystem& files,
                OutputCapture& output) {
  JsonDocument document;
  Extraction run =
      extractInMemory(builder.build(), builder.filesValue(document), threads, files, output);
  return {run.output, run.ok, snapshotTree("tolvex")};
}

Outcome extract(const ArchiveBuilder& builder, int threads, FileSystem& files) {
  OutputCapture output;
  return extract(builder, threads, files, output);
}

// Where a name folds to one made earlier, the outcome is that of making one entry after
// the other, not of which thread got there first. Before directories were made in walk
// order, "a" could be made before the file "A" and take its place.
TEST_P(SchedulerTest, FoldedNamesGiveTheOneByOneOutcome) {
  ScriptedFileSystem files;
  files.folding = Folding::Folds;
  slowFirstFile(files);
  expectFoldedNamesOneByOne(files, repeats, threads());
}

// A failure takes back what was made ahead of it, and nothing else: ahead of its turn a file
// is only ever created, so an existing file after the failure stays as it was (the same
// file, with its old bytes), and an empty directory that was there before stays, though a
// file was made in it ahead. Rollbacks used to remove every directory the failed entries
// named.
TEST_P(SchedulerTest, AFailureTakesBackWhatWasMadeAheadAndNothingElse) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // after "0" and "a/b"
    std::vector<std::string> directories;                    // there before, besides "a/b"
    TreeSnapshot tree;  // besides "0", "a", "a/b" and "c", linked from outside
  };
  std::vector<std::pair<std::string, std::string>> existing = {{"c", "new"}};
  for (char name = 'd'; name <= 'k'; ++name)
    existing.push_back({std::string(1, name), std::string(3000, name)});
  const Case cases[] = {
      {"an existing file after the failure", existing, {}, {}},
      {"a directory that was there",
       {{"e/x", "ahead"}, {"f/y", "ahead too"}},
       {"e"},
       {{"e", "dir"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder;
    builder.addFile("0", slowContents);
    builder.addFile("a/b", "never");
    for (const auto& [path, contents] : c.files)
      builder.addFile(path, contents);
    TreeSnapshot tree = c.tree;
    tree.insert({{"0", "file:" + slowContents}, {"a", "dir"}, {"a/b", "dir"}, {"c", "file:old"}});
    for (int round = 0; round < repeats; ++round) {
      TempDir dir;
      for (const char* path : {"tolvex", "tolvex/a", "tolvex/a/b"})
        ASSERT_EQ(0, mkdir(path, 0777));
      for (const std::string& path : c.directories)
        ASSERT_EQ(0, mkdir(("tolvex/" + path).c_str(), 0777));
      writeFile("outside", "old");
      ASSERT_EQ(0, link("outside", "tolvex/c"));
      struct stat before;
      ASSERT_EQ(0, stat("tolvex/c", &before));
      ScriptedFileSystem files;
      files.folding = round % 2 == 1 ? Folding::SaysItMay : Folding::AsTheSystemSays;
      slowFirstFile(files);
      Outcome run = extract(builder, round > 0 ? threads() : 1, files);
      ASSERT_FALSE(run.ok);
      ASSERT_EQ(slowLine + "Extracting tolvex/a/b o NG\n", run.output) << "round " << round;
      ASSERT_EQ(tree, run.tree) << "round " << round;
      struct stat after;
      ASSERT_EQ(0, stat("tolvex/c", &after));
      ASSERT_EQ(before.st_ino, after.st_ino);
    }
  }
}

// Room taken by files copied ahead of their turns must not make an earlier file fail: the
// first file that does not fit is the one that would not have fitted one by one, and it
// holds what fitted. On a file system that holds the first, large file but not the second,
// the second, copied ahead while the first waits, takes the room the first still needs; it
// must be taken back, and that must count as room made. The first file used to fail.
TEST_P(SchedulerTest, FullFileSystemFailsTheFileThatWouldHaveFailedOneByOne) {
  ArchiveBuilder many;
  many.addFile("0", slowContents);
  for (int i = 0; i < 30; ++i)
    many.addFile("d" + std::to_string(i % 3) + "/f" + std::to_string(10 + i),
                 std::string(20000 + 1000 * i, static_cast<char>('a' + i % 26)));
  const std::string first = repeat("0123456789", 30000), second(40000, 's');
  ArchiveBuilder two;
  two.addFile("a", first);
  two.addFile("b", second);
  const auto slowAndFolding = [](ScriptedFileSystem& files, int round) {
    files.folding = round % 2 == 1 ? Folding::SaysItMay : Folding::AsTheSystemSays;
    slowFirstFile(files);
  };
  // The second file's copy ahead ends before the first one's second write.
  const auto secondAhead = [](ScriptedFileSystem& files, int) {
    files.folding = Folding::Never;  // names in one directory may be made out of order
    files.script = [&files](const std::string& call, const std::string& name) {
      if (call == "write" && name == "a" && files.calls("write", "a") == 2)
        ScriptedFileSystem::waitFor([&files] { return files.calls("close", "b") > 0; });
      return FsStatus::Ok;
    };
  };
  // The second file's copy ahead holds room when the first runs out, and then fails too,
  // ahead of its turn: removing it is room made for the first.
  ArchiveBuilder twoLarge;
  twoLarge.addFile("a", first);
  twoLarge.addFile("b", std::string(first.size(), 's'));
  const auto secondFailsAhead = [](ScriptedFileSystem& files, int) {
    files.folding = Folding::Never;
    files.script = [&files](const std::string& call, const std::string& name) {
      if (call == "write" && name == "a" && files.calls("write", "a") == 1)
        ScriptedFileSystem::waitFor([&files] { return files.calls("write", "b") == 2; });
      if (call == "write" && name == "b" && files.calls("write", "b") == 2)
        ScriptedFileSystem::waitFor([&files] { return files.full(); });
      return FsStatus::Ok;
    };
  };
  struct Case {
    const char* name;
    const ArchiveBuilder& builder;
    uint64_t room;
    std::function<void(ScriptedFileSystem&, int round)> setUp;  // for threads()
    int rounds;
  };
  const Case cases[] = {
      {"many files", many, slowContents.size() + 250000, slowAndFolding, repeats},
      {"the second file copied ahead", two, 320000, secondAhead, 3},
      {"the second file failing ahead", twoLarge, 320000, secondFailsAhead, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // One by one: every file that fits whole, then the first that does not, holding what
    // fitted, one mark per whole piece.
    Outcome expected{"", false, {}};
    uint64_t room = c.room;
    for (const ArchiveBuilder::Entry& entry : c.builder.entries()) {
      const uint64_t held = std::min(room, entry.size);
      room -= held;
      expected.tree[entry.path.substr(7)] =
          entry.isDirectory ? "dir" : "file:" + entry.contents.substr(0, held);
      if (held == entry.size) {
        expected.output += entry.isDirectory ? "" : okLine(entry.path, entry.size);
        continue;
      }
      expected.output += "Extracting " + entry.path + " (" + std::to_string(entry.size) + ") " +
                         std::string(held / 1024, '.') + "< NG\n";
      break;
    }
    for (int round = -1; round < (threads() > 1 ? c.rounds : 0); ++round) {
      TempDir dir;
      ScriptedFileSystem files;
      files.room = c.room;
      if (round >= 0) c.setUp(files, round);
      Outcome run = extract(c.builder, round >= 0 ? threads() : 1, files);
      ASSERT_EQ(expected.output, run.output) << "round " << round;
      ASSERT_EQ(expected.tree, run.tree) << "round " << round;
    }
  }
}

// Off a terminal the lines of files done are written before a long copy starts, while it
// runs: whoever reads a pipe sees progress. Lines used to be held back until the archive
// ended.
TEST_P(SchedulerTest, LinesOffATerminalAreWrittenWhileLaterFilesAreCopied) {
  ArchiveBuilder builder;
  builder.addFile("a", "first");
  builder.addFile("b", std::string(300000, 'b'));
  TempDir dir;
  OutputCapture output;
  ScriptedFileSystem files;
  std::atomic<bool> sawLine{false};
  files.script = [&](const std::string& call, const std::string& name) {
    if (call == "write" && name == "b")
      sawLine = ScriptedFileSystem::waitFor([&output] {
        return output.written().find("Extracting tolvex/a (5) . OK\n") != std::string::npos;
      });
    return FsStatus::Ok;
  };
  EXPECT_TRUE(extract(builder, threads(), files, output).ok);
  EXPECT_TRUE(sawLine);
}

// While one thread creates in a directory, another makes what follows in another one
// first, rather than wait on the same directory's lock; the lines stay in walk order. (With
// more than two threads the third takes what follows in the same directory, there being
// no other.)
TEST_P(CopiesAhead, WorkInAnotherDirectoryThanTheOtherThreadsComesFirst) {
  ArchiveBuilder builder;
  for (const char* name : {"a/0", "a/1", "a/2", "b/x"})
    builder.addFile(name, name);
  TempDir dir;
  ScriptedFileSystem files;
  files.script = [&files](const std::string& call, const std::string& name) {
    if (call == "createFile" && name == "0")  // a while: until the other thread made "x"
      ScriptedFileSystem::waitFor([&files] {
        std::vector<std::string> created = files.created();
        return std::find(created.begin(), created.end(), "x") != created.end();
      });
    return FsStatus::Ok;
  };
  Outcome outcome = extract(builder, threads(), files);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(okLine("tolvex/a/0", 3) + okLine("tolvex/a/1", 3) + okLine("tolvex/a/2", 3) +
                okLine("tolvex/b/x", 3),
            outcome.output);
  std::vector<std::string> created = files.created();
  const auto at = [&created](const char* name) {
    return std::find(created.begin(), created.end(), name) - created.begin();
  };
  EXPECT_LT(at("x"), at("0"));
  if (threads() == 2) {
    EXPECT_LT(at("x"), at("1"));
  }
}

// At its turn a file that found no descriptor gets the ones that can be freed and is
// created in its own directory, which stays open for it: closing the directories no entry
// uses must leave the ones in use alone. The directory used to be closed under the file.
TEST_P(SchedulerTest, FileThatFindsNoDescriptorIsMadeInItsOwnDirectory) {
  ArchiveBuilder builder;
  builder.addFile("d/e/f", "deep");
  builder.addFile("d/g", "g");
  builder.addFile("h", "h");
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    ScriptedFileSystem files;
    files.script = [&files](const std::string& call, const std::string& name) {
      bool first = call == "createFile" && name == "f" && files.calls(call, name) == 1;
      return first ? FsStatus::NoDescriptors : FsStatus::Ok;
    };
    Outcome run = extract(builder, round % 2 == 0 ? 1 : threads(), files);
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(okLine("tolvex/d/e/f", 4) + okLine("tolvex/d/g", 1) + okLine("tolvex/h", 1),
              run.output);
    ASSERT_EQ("file:deep", run.tree["d/e/f"]);
  }
}

// While it lives the process can open three more files, as a program started under
// `ulimit -n 7` can once it has its standard streams and the archive open.
class ThreeMoreFiles {
 public:
  ThreeMoreFiles() {
    getrlimit(RLIMIT_NOFILE, &previous_);
    int fd = 0;
    for (int free = 0; free < 3; ++fd)
      if (fcntl(fd, F_GETFD) == -1) ++free;
    rlimit limit = previous_;
    limit.rlim_cur = static_cast<rlim_t>(fd);
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  ThreeMoreFiles(const ThreeMoreFiles&) = delete;
  ThreeMoreFiles& operator=(const ThreeMoreFiles&) = delete;
  ~ThreeMoreFiles() { setrlimit(RLIMIT_NOFILE, &previous_); }

 private:
  rlimit previous_ = {};
};

// A file 120 directories down, whose directories were closed to make room for others, under
// the smallest limit of open files: at its turn, the directories are opened again while the
// other thread holds a file it copies ahead, and run short; the file waits for that copy to
// end and tries again, as one by one it would have had the descriptors. It used to fail with
// "o NG".
TEST_P(CopiesAhead, ADeepFileGetsTheDescriptorsFreedForItAtItsTurn) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own to check a call";
#endif
  std::string deep;
  for (int level = 0; level < 120; ++level)
    deep += "l" + std::to_string(100 + level) + "/";
  ArchiveBuilder builder;
  builder.addFile(deep + "a/b/c/y", "below");  // closes the deep directories
  builder.addFile(deep + "x", "deep");         // opens them again at its turn
  builder.addFile("z", "ahead");               // copied ahead meanwhile
  const std::string expected = okLine("tolvex/" + deep + "a/b/c/y", 5) +
                               okLine("tolvex/" + deep + "x", 4) + okLine("tolvex/z", 5);
  TempDir dir;
  OutputCapture output;
  ScriptedFileSystem files;
  files.folding = Folding::Never;  // so that "z" may be copied ahead at once
  // The copy of "z" starts ahead before anything is made, goes on once "y" is done, and
  // holds its file until the directories ran short; they are opened again only once it
  // holds it.
  files.script = [&](const std::string& call, const std::string& name) {
    if (call == "makeDirectory" && name == "l100")
      ScriptedFileSystem::waitFor([&files] { return files.calls("createFile", "z") > 0; });
    if (call == "createFile" && name == "z")  // (more threads may run short before)
      ScriptedFileSystem::waitFor([&output, &expected, &files] {
        return files.ranShort() ||
               output.text().find(expected.substr(0, expected.find('\n'))) != std::string::npos;
      });
    if (call == "openDirectory" && name == "l100" && files.calls(call, name) == 2)
      ScriptedFileSystem::waitFor([&files] { return files.calls("write", "z") > 0; });
    if (call == "write" && name == "z")  // (or until "x" is made without running short)
      ScriptedFileSystem::waitFor([&files, &output, &expected] {
        return files.ranShort() || output.text().size() >= expected.rfind("Extracting");
      });
    return FsStatus::Ok;
  };
  Outcome run;
  {
    ThreeMoreFiles limit;
    run = extract(builder, threads(), files, output);  // the tree read under the limit is cut short
  }
  // The script forces the shortage with two threads; with more, the other threads' copies
  // change when descriptors are freed, and "x" may find them without running short.
  if (threads() == 2) {
    EXPECT_TRUE(files.ranShort());
  }
  EXPECT_EQ(expected, run.output);
  EXPECT_EQ("file:deep", snapshotTree("tolvex")[deep + "x"]);
}

// Extracting again over files that are there: a file that finds its name taken ahead of its
// turn is made again at its turn, replacing the old file, even when its turn came while it
// found out. It used to count as done, and failed with "o NG".
TEST_P(CopiesAhead, AFileWhoseTurnComesAsItFindsItsNameTakenReplacesTheOldOne) {
  ArchiveBuilder builder;
  builder.addFile("a", "new a");
  builder.addFile("b", "new b");
  for (int round = 0; round < 3; ++round) {
    TempDir dir;
    ASSERT_EQ(0, mkdir("tolvex", 0777));
    writeFile("tolvex/a", "old a");
    writeFile("tolvex/b", "old b");
    OutputCapture output;
    ScriptedFileSystem files;
    files.folding = Folding::Never;
    // "b" is tried ahead while "a" is copied, and finds its name taken once "a" is done.
    files.script = [&files, &output](const std::string& call, const std::string& name) {
      if (call == "write" && name == "a")
        ScriptedFileSystem::waitFor([&files] { return files.calls("createFile", "b") > 0; });
      if (call == "createFile" && name == "b")
        ScriptedFileSystem::waitFor(
            [&output] { return output.text().find(okLine("tolvex/a", 5)) != std::string::npos; });
      return FsStatus::Ok;
    };
    Outcome run = extract(builder, threads(), files, output);
    ASSERT_EQ(okLine("tolvex/a", 5) + okLine("tolvex/b", 5), run.output) << "round " << round;
    ASSERT_EQ((TreeSnapshot{{"a", "file:new a"}, {"b", "file:new b"}}), run.tree);
  }
}

// A file that meets a full disk half way keeps what its marks claim: the marks count the
// pieces it holds, and when room is made by taking back what was made ahead, the copy goes
// on from there. A retry used to start the file over, and its first write failing left the
// marks of the first try on a line whose file held nothing.
TEST_P(SchedulerTest, AFullDiskNeverLeavesMoreMarksThanTheFileHolds) {
  const std::string big = std::string(300000, 'q');
  ArchiveBuilder builder;
  builder.addFile("big", big);
  for (int i = 0; i < 20; ++i)
    builder.addFile("later" + std::to_string(10 + i), std::string(2000, 'l'));
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    ScriptedFileSystem files;
    // Full from the second write of "big" on, until something is removed.
    std::atomic<bool> removed{false};
    files.script = [&files, &removed](const std::string& call, const std::string& name) {
      removed = removed || call == "removeFile" || call == "removeDirectory";
      bool full = call == "write" && name == "big" && files.calls(call, name) > 1 && !removed;
      return full ? FsStatus::NoSpace : FsStatus::Ok;
    };
    Outcome run = extract(builder, round % 2 == 0 ? 1 : threads(), files);
    const std::string held = run.tree["big"];
    ASSERT_EQ("file:", held.substr(0, 5));
    const size_t bytes = held.size() - 5;
    const std::string start = "Extracting tolvex/big (300000) ";
    ASSERT_EQ(start, run.output.substr(0, start.size())) << "round " << round;
    if (run.ok) {
      // Room was made: the file was finished from where it stood.
      ASSERT_EQ("file:" + big, held) << "round " << round;
      continue;
    }
    // Nothing to take back: it fails with one mark per piece it holds, the first piece and
    // half the second (which the failed write took).
    ASSERT_EQ(start + std::string(bytes / 1024, '.') + "< NG\n", run.output) << "round " << round;
    ASSERT_EQ(256u * 1024 + (300000 - 256 * 1024) / 2, bytes);
  }
}

std::string threadsName(const ::testing::TestParamInfo<int>& info) {
  return std::to_string(info.param) + "Threads";
}
INSTANTIATE_TEST_SUITE_P(CopyScheduler, SchedulerTest, ::testing::Values(1, 2, 4, 16), threadsName);
INSTANTIATE_TEST_SUITE_P(CopyScheduler, CopiesAhead, ::testing::Values(2, 4, 16), threadsName);

}  // namespace
}  // namespace tolvex
