#include "archive/copy_scheduler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive/extract_tree.h"
#include "archive/header_prefix.h"
#include "archive_builder.h"
#include "disk_tree.h"
#include "folded_names.h"
#include "forwarding_file_system.h"
#include "memory_byte_source.h"
#include "memory_extraction.h"
#include "output_capture.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

// Each rule of the scheduler is checked with two threads many times over, so that the
// second thread's timing varies from run to run, against what one thread (which makes
// every entry at its turn) prints and leaves; every other round as on a file system that
// may fold names, where names in a directory are made in order.
constexpr int repeats = 40;

struct Outcome {
  std::string output;
  bool ok;
  TreeSnapshot tree;
};

// Extracts `archive` (its "files" value `files`) into ./tolvex through `files`, on one
// thread or two, and returns what was printed and left.
Outcome extract(const ArchiveBuilder& builder, bool twoThreads, FileSystem& files) {
  JsonDocument document;
  Extraction run =
      extractInMemory(builder.build(), builder.filesValue(document), twoThreads ? 2 : 1, files);
  return {run.output, run.ok, snapshotTree("tolvex")};
}

// A file system that takes names without regard to case, as two major desktop systems
// do by default: a name that equals one in the same directory but for case stands for
// that one, which keeps the spelling it was made with.
class FoldingFileSystem final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    return real_.makeDirectory(parent, spelling(parent, name));
  }
  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    return real_.openDirectory(parent, spelling(parent, name), directory, id);
  }
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    return real_.createFile(parent, spelling(parent, name), file);
  }
  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    return real_.kindOf(parent, spelling(parent, name));
  }
  bool mayFoldNames(const Handle&) override { return true; }
  bool removeFile(const Handle& parent, const std::string& name) override {
    return real_.removeFile(parent, spelling(parent, name));
  }
  bool removeDirectory(const Handle& parent, const std::string& name) override {
    return real_.removeDirectory(parent, spelling(parent, name));
  }

 private:
  static std::string lower(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
  }
  // The name in `parent` that `name` stands for: one there already, or `name` itself.
  static std::string spelling(const Handle& parent, const std::string& name) {
    std::vector<std::string> names;
    listDirectory(static_cast<int>(parent.value()), names);
    for (const std::string& existing : names)
      if (lower(existing) == lower(name)) return existing;
    return name;
  }
};

// Where a name folds to one made earlier, the outcome is that of making one entry after
// the other, not of which thread got there first. Before directories were made in walk
// order, "a" could be made before the file "A" and take its place.
TEST(CopyScheduler, FoldedNamesGiveTheOneByOneOutcome) {
  FoldingFileSystem folding;
  SlowFirstFile files(folding);
  expectFoldedNamesOneByOne(files, repeats);
}

// Ahead of its turn a file is only ever created: an existing file right after an entry
// that fails stays as it was (the same file, with its old bytes), as making one entry
// after the other would leave it, and what was made ahead of the failure is gone.
TEST(CopyScheduler, ExistingFileAfterAFailureStaysUntouched) {
  ArchiveBuilder builder;
  builder.addFile("0", slowContents);
  builder.addFile("a/b", "never");
  builder.addFile("c", "new");
  for (char name = 'd'; name <= 'k'; ++name)
    builder.addFile(std::string(1, name), std::string(3000, name));
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    ASSERT_EQ(0, mkdir("tolvex", 0777));
    ASSERT_EQ(0, mkdir("tolvex/a", 0777));
    ASSERT_EQ(0, mkdir("tolvex/a/b", 0777));  // where the file a/b should go
    writeFile("outside", "old");
    ASSERT_EQ(0, link("outside", "tolvex/c"));
    struct stat before;
    ASSERT_EQ(0, stat("tolvex/c", &before));
    SlowFirstFile files(nativeFileSystem(), round % 2 == 1);
    Outcome run = extract(builder, round > 0, files);
    ASSERT_FALSE(run.ok);
    ASSERT_EQ(slowLine + "Extracting tolvex/a/b o NG\n", run.output) << "round " << round;
    ASSERT_EQ((TreeSnapshot{
                  {"0", "file:" + slowContents}, {"a", "dir"}, {"a/b", "dir"}, {"c", "file:old"}}),
              run.tree)
        << "round " << round;
    struct stat after;
    ASSERT_EQ(0, stat("tolvex/c", &after));
    ASSERT_EQ(before.st_ino, after.st_ino);
  }
}

// A file system with room for `quota` bytes of file contents, however many files hold
// them; a write past it takes what fits and reports the file system full.
class QuotaFileSystem final : public ForwardingFileSystem {
 public:
  explicit QuotaFileSystem(uint64_t quota) : quota_(quota) {}
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t allowed = static_cast<size_t>(std::min<uint64_t>(count, quota_ - used_));
    FsStatus status = real_.write(file, bytes, allowed, written);
    used_ += written;
    return status == FsStatus::Ok && allowed < count ? FsStatus::NoSpace : status;
  }

  bool removeFile(const Handle& parent, const std::string& name) override {
    struct stat status;
    if (fstatat(static_cast<int>(parent.value()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        !real_.removeFile(parent, name))
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= static_cast<uint64_t>(status.st_size);
    return true;
  }

 private:
  std::mutex mutex_;
  const uint64_t quota_;
  uint64_t used_ = 0;
};

// Room taken by files copied ahead of their turns must not make an earlier file fail: the
// first file that does not fit is the one that would not have fitted one by one, and it
// holds what fitted.
TEST(CopyScheduler, FullFileSystemFailsTheFileThatWouldHaveFailedOneByOne) {
  ArchiveBuilder builder;
  builder.addFile("0", slowContents);
  for (int i = 0; i < 30; ++i)
    builder.addFile("d" + std::to_string(i % 3) + "/f" + std::to_string(10 + i),
                    std::string(20000 + 1000 * i, static_cast<char>('a' + i % 26)));
  const uint64_t quota = slowContents.size() + 250000;
  Outcome expected;
  {
    TempDir dir;
    QuotaFileSystem quotaFiles(quota);
    SlowFirstFile files(quotaFiles);
    expected = extract(builder, false, files);
  }
  ASSERT_FALSE(expected.ok);
  ASSERT_NE(std::string::npos, expected.output.find("< NG\n"));
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    QuotaFileSystem quotaFiles(quota);
    SlowFirstFile files(quotaFiles, round % 2 == 1);
    Outcome run = extract(builder, true, files);
    ASSERT_EQ(expected.output, run.output) << "round " << round;
    ASSERT_EQ(expected.tree, run.tree) << "round " << round;
  }
}

// A rollback takes back only what the run made: an empty directory that was there before
// stays, though a file was made in it ahead of a failure. Rollbacks used to remove every
// directory the failed entries named.
TEST(CopyScheduler, RollbackKeepsDirectoriesTheRunDidNotMake) {
  ArchiveBuilder builder;
  builder.addFile("0", slowContents);
  builder.addFile("a/b", "never");
  builder.addFile("e/x", "made ahead");
  builder.addFile("f/y", "made ahead too");
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    ASSERT_EQ(0, mkdir("tolvex", 0777));
    ASSERT_EQ(0, mkdir("tolvex/a", 0777));
    ASSERT_EQ(0, mkdir("tolvex/a/b", 0777));  // where the file a/b should go: "o NG"
    ASSERT_EQ(0, mkdir("tolvex/e", 0777));
    SlowFirstFile files(nativeFileSystem(), round % 2 == 1);
    Outcome run = extract(builder, round > 0, files);
    ASSERT_EQ(slowLine + "Extracting tolvex/a/b o NG\n", run.output) << "round " << round;
    ASSERT_EQ(
        (TreeSnapshot{{"0", "file:" + slowContents}, {"a", "dir"}, {"a/b", "dir"}, {"e", "dir"}}),
        run.tree)
        << "round " << round;
  }
}

// A file system on which writes to the file `blocked` wait until `output` shows the line
// of an earlier file, for at most five seconds.
class WaitsForALine final : public ForwardingFileSystem {
 public:
  WaitsForALine(OutputCapture& output, std::string blocked, std::string line)
      : output_(output), blocked_(std::move(blocked)), line_(std::move(line)) {}

  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    FsStatus status = real_.createFile(parent, name, file);
    if (status == FsStatus::Ok && name == blocked_) blockedFile_ = file.value();
    return status;
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    if (file.value() == blockedFile_) {
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (output_.written().find(line_) == std::string::npos &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      sawLine = output_.written().find(line_) != std::string::npos;
    }
    return real_.write(file, bytes, count, written);
  }

  std::atomic<bool> sawLine{false};

 private:
  OutputCapture& output_;
  const std::string blocked_;
  const std::string line_;
  std::atomic<intptr_t> blockedFile_{Handle::none};
};

// Off a terminal the lines of files done are written before a long copy starts, while it
// runs: whoever reads a pipe sees progress. Lines used to be held back until the archive
// ended.
TEST(CopyScheduler, LinesOffATerminalAreWrittenWhileLaterFilesAreCopied) {
  ArchiveBuilder builder;
  builder.addFile("a", "first");
  builder.addFile("b", std::string(300000, 'b'));
  for (bool twoThreads : {false, true}) {
    SCOPED_TRACE(twoThreads ? "two threads" : "one thread");
    TempDir dir;
    JsonDocument document;
    OutputCapture output;
    WaitsForALine files(output, "b", "Extracting tolvex/a (5) . OK\n");
    EXPECT_TRUE(extractInMemory(builder.build(), builder.filesValue(document), twoThreads ? 2 : 1,
                                files, output)
                    .ok);
    EXPECT_TRUE(files.sawLine);
  }
}

// Records the order in which files are created; the file "0" takes a while to create.
class SlowZeroRecorder final : public ForwardingFileSystem {
 public:
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    if (name == "0") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FsStatus status = real_.createFile(parent, name, file);
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(name);
    return status;
  }
  size_t position(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(created_.begin(), created_.end(), name) - created_.begin();
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> created_;
};

// While one thread creates in a directory, the other makes what follows in another one
// first, rather than wait on the same directory's lock; the lines stay in walk order.
TEST(CopyScheduler, WorksAheadInAnotherDirectoryThanTheOtherThread) {
  ArchiveBuilder builder;
  for (const char* name : {"a/0", "a/1", "a/2", "b/x"})
    builder.addFile(name, name);
  TempDir dir;
  SlowZeroRecorder files;
  Outcome outcome = extract(builder, true, files);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(
      "Extracting tolvex/a/0 (3) . OK\nExtracting tolvex/a/1 (3) . OK\n"
      "Extracting tolvex/a/2 (3) . OK\nExtracting tolvex/b/x (3) . OK\n",
      outcome.output);
  EXPECT_LT(files.position("x"), files.position("1"));
}

// Reports no descriptor left, once, when the file `name` is created.
class OutOfDescriptorsOnce final : public ForwardingFileSystem {
 public:
  explicit OutOfDescriptorsOnce(std::string name) : name_(std::move(name)) {}
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    if (name == name_ && !failed_.exchange(true)) return FsStatus::NoDescriptors;
    return real_.createFile(parent, name, file);
  }

 private:
  const std::string name_;
  std::atomic<bool> failed_{false};
};

// At its turn a file that found no descriptor gets the ones that can be freed and is
// created in its own directory, which stays open for it: closing the directories no entry
// uses must leave the ones in use alone. The directory used to be closed under the file.
TEST(CopyScheduler, FileThatFindsNoDescriptorIsMadeInItsOwnDirectory) {
  ArchiveBuilder builder;
  builder.addFile("d/e/f", "deep");
  builder.addFile("d/g", "g");
  builder.addFile("h", "h");
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    OutOfDescriptorsOnce files("f");
    Outcome run = extract(builder, round % 2 == 1, files);
    ASSERT_TRUE(run.ok);
    ASSERT_EQ(
        "Extracting tolvex/d/e/f (4) . OK\nExtracting tolvex/d/g (1) . OK\n"
        "Extracting tolvex/h (1) . OK\n",
        run.output);
    ASSERT_EQ("file:deep", run.tree["d/e/f"]);
  }
}

// A file system that is full from the second write of `name` on, until something is removed.
class FullFromSecondWrite final : public ForwardingFileSystem {
 public:
  explicit FullFromSecondWrite(std::string name) : name_(std::move(name)) {}
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    FsStatus status = real_.createFile(parent, name, file);
    if (status == FsStatus::Ok && name == name_) file_ = file.value();
    return status;
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    if (file.value() == file_ && writes_++ > 0 && !freed_) {
      written = 0;
      return FsStatus::NoSpace;
    }
    return real_.write(file, bytes, count, written);
  }
  bool removeFile(const Handle& parent, const std::string& name) override {
    freed_ = true;
    return real_.removeFile(parent, name);
  }

 private:
  const std::string name_;
  std::atomic<intptr_t> file_{Handle::none};
  std::atomic<int> writes_{0};
  std::atomic<bool> freed_{false};
};

// A file that meets a full disk half way keeps what its marks claim: the marks count the
// pieces it holds, and when room is made by taking back what was made ahead, the copy goes
// on from there. A retry used to start the file over, and its first write failing left the
// marks of the first try on a line whose file held nothing.
TEST(CopyScheduler, AFullDiskNeverLeavesMoreMarksThanTheFileHolds) {
  const std::string big = std::string(300000, 'q');
  ArchiveBuilder builder;
  builder.addFile("big", big);
  for (int i = 0; i < 20; ++i)
    builder.addFile("later" + std::to_string(10 + i), std::string(2000, 'l'));
  for (int round = 0; round < repeats; ++round) {
    TempDir dir;
    FullFromSecondWrite files("big");
    Outcome run = extract(builder, round % 2 == 1, files);
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
    // Nothing to take back: it fails with one mark per piece it holds.
    ASSERT_EQ(start + std::string(bytes / 1024, '.') + "< NG\n", run.output) << "round " << round;
    ASSERT_EQ(256u * 1024, bytes);
  }
}

}  // namespace
}  // namespace tolvex
