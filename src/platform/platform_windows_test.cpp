// The Windows platform on the file system at hand (Wine's, when run on Linux).

#include "platform/utf8.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "disk_tree.h"
#include "platform/platform.h"
#include "temp_dir.h"

namespace tolvex {
namespace {

using namespace std::string_literals;

bool writeAt(FileSystem& files, const Handle& directory, const std::string& name,
             const std::string& bytes) {
  Handle file;
  size_t written = 0;
  return files.createFile(directory, name, file) == FsStatus::Ok &&
         files.write(file, bytes.data(), bytes.size(), written) == FsStatus::Ok &&
         files.close(file);
}

class WindowsFileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    files_.openRoot("tolvex", root_, rootId_);
    ASSERT_TRUE(root_.isOpen());
  }

  TempDir dir_;
  FileSystem& files_ = nativeFileSystem();
  DirectoryId rootId_;
  Handle root_;
};

TEST_F(WindowsFileSystemTest, CreatesOnlyNewFilesAndTellsWhatANameHolds) {
  ASSERT_TRUE(writeAt(files_, root_, "a.txt", "first"));
  Handle again;
  EXPECT_EQ(FsStatus::Exists, files_.createFile(root_, "a.txt", again));
  EXPECT_EQ(FsStatus::Exists, files_.createFile(root_, "A.TXT", again));  // names fold
  ASSERT_EQ(FsStatus::Ok, files_.makeDirectory(root_, "d"));
  EXPECT_EQ(FsStatus::Exists, files_.makeDirectory(root_, "D"));
  EXPECT_EQ(FsStatus::Exists, files_.createFile(root_, "d", again));
  EXPECT_EQ(NodeKind::RegularFile, files_.kindOf(root_, "A.txt"));
  EXPECT_EQ(NodeKind::Directory, files_.kindOf(root_, "d"));
  EXPECT_EQ(NodeKind::Absent, files_.kindOf(root_, "none"));
  EXPECT_TRUE(files_.mayFoldNames(root_));

  Handle byLower, byUpper, notADirectory;
  DirectoryId lowerId, upperId, fileId;
  ASSERT_EQ(FsStatus::Ok, files_.openDirectory(root_, "d", byLower, &lowerId));
  ASSERT_EQ(FsStatus::Ok, files_.openDirectory(root_, "D", byUpper, &upperId));
  EXPECT_EQ(lowerId, upperId);
  EXPECT_NE(rootId_, lowerId);
  EXPECT_EQ(FsStatus::Failed, files_.openDirectory(root_, "a.txt", notADirectory, &fileId));
  EXPECT_EQ((TreeSnapshot{{"a.txt", "file:first"}, {"d", "dir"}}), snapshotTree("tolvex"));
}

// Refused before the system sees them: on NTFS "a:b" would be a stream of the file "a",
// and "con.txt" the console, wherever they stand.
TEST_F(WindowsFileSystemTest, RefusesNamesWindowsWouldMisread) {
  for (const std::string& name : {"con.txt"s, "Nul"s, "a:b"s, "x."s, "x "s, "a?b"s, "a\x01"s,
                                  "a\\b"s, "\xFF"s, std::string(256, 'n')}) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_FALSE(files_.takesName(name));
    Handle file, directory;
    DirectoryId id;
    EXPECT_EQ(FsStatus::Failed, files_.createFile(root_, name, file));
    EXPECT_EQ(FsStatus::Failed, files_.makeDirectory(root_, name));
    EXPECT_EQ(FsStatus::Failed, files_.openDirectory(root_, name, directory, &id));
    EXPECT_EQ(NodeKind::Other, files_.kindOf(root_, name));
  }
  EXPECT_TRUE(files_.takesName(std::string(255, 'n')));
  EXPECT_TRUE(snapshotTree("tolvex").empty());
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}}), snapshotTree("."));
}

// The archive being extracted may be the file that the extraction replaces: its name must
// be free at once, and the open archive must still read its old bytes.
TEST_F(WindowsFileSystemTest, ReplacesAFileThatIsOpenForReading) {
  ASSERT_TRUE(writeAt(files_, root_, "self.asar", "old bytes"));
  Handle archive = openForReading("tolvex/self.asar");
  ASSERT_TRUE(archive.isOpen());
  ASSERT_TRUE(files_.removeFile(root_, "self.asar"));
  ASSERT_TRUE(writeAt(files_, root_, "self.asar", "new"));
  char buffer[16];
  ASSERT_EQ(9, readAt(archive, buffer, sizeof buffer, 0));
  EXPECT_EQ("old bytes", std::string(buffer, 9));
  archive.reset();
  EXPECT_EQ((TreeSnapshot{{"self.asar", "file:new"}}), snapshotTree("tolvex"));

  ASSERT_EQ(FsStatus::Ok, files_.makeDirectory(root_, "empty"));
  EXPECT_FALSE(files_.removeFile(root_, "empty"));
  EXPECT_TRUE(files_.removeDirectory(root_, "empty"));
  EXPECT_FALSE(files_.removeDirectory(root_, "self.asar"));
  EXPECT_EQ(NodeKind::Absent, files_.kindOf(root_, "empty"));
}

// Each step relative to the last directory: no path is ever longer than one name, so the
// tree may go deeper than a path of MAX_PATH (260) characters reaches. Wine holds no path
// to that limit: this shows the relative opens at depth, not the limit avoided.
TEST_F(WindowsFileSystemTest, MakesTreesDeeperThanMaxPath) {
  const std::string name(40, 'd');
  constexpr size_t depth = 12;  // tolvex and 12 times 41 characters
  Handle levels[depth];
  DirectoryId id;
  const Handle* parent = &root_;
  for (Handle& level : levels) {
    ASSERT_EQ(FsStatus::Ok, files_.makeDirectory(*parent, name));
    ASSERT_EQ(FsStatus::Ok, files_.openDirectory(*parent, name, level, &id));
    parent = &level;
  }
  ASSERT_TRUE(writeAt(files_, *parent, "deep.txt", "deep"));
  // Found again from the root, one name at a time, then taken down the same way.
  Handle again[depth];
  parent = &root_;
  for (Handle& level : again) {
    ASSERT_EQ(FsStatus::Ok, files_.openDirectory(*parent, name, level, &id));
    parent = &level;
  }
  EXPECT_EQ(NodeKind::RegularFile, files_.kindOf(*parent, "deep.txt"));
  EXPECT_TRUE(files_.removeFile(*parent, "deep.txt"));
  for (size_t level = depth; level-- > 0;) {
    levels[level].reset();
    again[level].reset();
    EXPECT_TRUE(files_.removeDirectory(level == 0 ? root_ : again[level - 1], name));
  }
  EXPECT_TRUE(snapshotTree("tolvex").empty());
}

TEST(WindowsArchiveReading, ReadsAtPositionsAndKnowsItsSize) {
  TempDir dir;
  std::ofstream("a.asar", std::ios::binary) << "0123456789";
  Handle file = openForReading("a.asar");
  ASSERT_TRUE(file.isOpen());
  EXPECT_TRUE(readsAtPositions(file));
  uint64_t size = 0;
  ASSERT_TRUE(regularFileSize(file, size));
  EXPECT_EQ(10u, size);
  char buffer[8];
  EXPECT_EQ(4, readAt(file, buffer, 4, 6));
  EXPECT_EQ("6789", std::string(buffer, 4));
  EXPECT_EQ(0, readAt(file, buffer, 4, 10));
  EXPECT_EQ(0, readAt(file, buffer, 4, uint64_t(1) << 40));
  EXPECT_EQ(-1, readAt(file, buffer, 4, UINT64_MAX));
  std::filesystem::create_directory("dir");
  EXPECT_FALSE(openForReading("dir").isOpen());
  EXPECT_FALSE(openForReading("missing").isOpen());
  EXPECT_FALSE(openForReading("").isOpen());
}

// A read at a position leaves the file's own where it was: the next write still goes to the
// end. Windows moves it with every read; it used to land a write in the middle.
TEST(WindowsArchiveReading, NamelessCopyTakesWritesAfterReadsAndIsGoneWhenClosed) {
  TempDir dir;
  {
    Handle file = createNamelessFile();
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(writeAll(file, "abc", 3));
    char back[5] = {};
    EXPECT_EQ(2, readAt(file, back, 2, 0));
    ASSERT_TRUE(writeAll(file, "de", 2));
    EXPECT_EQ(5, readAt(file, back, 5, 0));
    EXPECT_EQ("abcde", std::string(back, 5));
  }
  EXPECT_TRUE(std::filesystem::is_empty("."));
}

// Standard output that is not a console gets the bytes as they are: no line ends turned
// into CR LF, no code page.
TEST(WindowsStandardOutput, RedirectedOutputIsTheBytesUnchanged) {
  TempDir dir;
  HANDLE file = CreateFileW(L"out", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  HANDLE previous = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, file);
  const bool terminal = standardOutputIsTerminal();
  const std::string bytes = "a\nb\r\n\xC3\xA9\xFF\0\x1B"s;
  const bool written = writeStandardOutput(bytes.data(), bytes.size());
  SetStdHandle(STD_OUTPUT_HANDLE, previous);
  CloseHandle(file);
  EXPECT_FALSE(terminal);
  EXPECT_TRUE(written);
  EXPECT_EQ((TreeSnapshot{{"out", "file:" + bytes}}), snapshotTree("."));
}

}  // namespace
}  // namespace tolvex
