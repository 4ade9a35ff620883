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

#include "archive/extract_tree.h"
#include "archive/header_prefix.h"
#include "platform/platform.h"
#include "archive_builder.h"
#include "forwarding_file_system.h"
#include "memory_byte_source.h"
#include "output_capture.h"
#include "temp_dir.h"

namespace tolvex {
namespace {

using namespace std::string_literals;

// Every entry below `directory`: "dir", or "file:" and the contents; names as on disk.
using Tree = std::map<std::string, std::string>;

Tree readTree(const std::string& directory) {
  namespace fs = std::filesystem;
  Tree tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(fs::u8path(directory), error), end;
       !error && it != end; it.increment(error)) {
    std::string path = it->path().lexically_relative(fs::u8path(directory)).generic_u8string();
    if (it->is_directory(error)) {
      tree[path] = "dir";
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      tree[path] = "file:" + bytes.str();
    }
  }
  return tree;
}

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
  ASSERT_EQ(FsStatus::Ok, files_.openDirectory(root_, "d", byLower, lowerId));
  ASSERT_EQ(FsStatus::Ok, files_.openDirectory(root_, "D", byUpper, upperId));
  EXPECT_EQ(lowerId, upperId);
  EXPECT_NE(rootId_, lowerId);
  EXPECT_EQ(FsStatus::Failed, files_.openDirectory(root_, "a.txt", notADirectory, fileId));
  EXPECT_EQ((Tree{{"a.txt", "file:first"}, {"d", "dir"}}), readTree("tolvex"));
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
    EXPECT_EQ(FsStatus::Failed, files_.openDirectory(root_, name, directory, id));
    EXPECT_EQ(NodeKind::Other, files_.kindOf(root_, name));
  }
  EXPECT_TRUE(files_.takesName(std::string(255, 'n')));
  EXPECT_TRUE(readTree("tolvex").empty());
  EXPECT_EQ((Tree{{"tolvex", "dir"}}), readTree("."));
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
  EXPECT_EQ((Tree{{"self.asar", "file:new"}}), readTree("tolvex"));

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
    ASSERT_EQ(FsStatus::Ok, files_.openDirectory(*parent, name, level, id));
    parent = &level;
  }
  ASSERT_TRUE(writeAt(files_, *parent, "deep.txt", "deep"));
  // Found again from the root, one name at a time, then taken down the same way.
  Handle again[depth];
  parent = &root_;
  for (Handle& level : again) {
    ASSERT_EQ(FsStatus::Ok, files_.openDirectory(*parent, name, level, id));
    parent = &level;
  }
  EXPECT_EQ(NodeKind::RegularFile, files_.kindOf(*parent, "deep.txt"));
  EXPECT_TRUE(files_.removeFile(*parent, "deep.txt"));
  for (size_t level = depth; level-- > 0;) {
    levels[level].reset();
    again[level].reset();
    EXPECT_TRUE(files_.removeDirectory(level == 0 ? root_ : again[level - 1], name));
  }
  EXPECT_TRUE(readTree("tolvex").empty());
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

TEST(WindowsArchiveReading, NamelessCopyIsGoneWhenClosed) {
  TempDir dir;
  {
    Handle file = createNamelessFile();
    ASSERT_TRUE(file.isOpen());
    ASSERT_TRUE(writeAll(file, "abc", 3));
    char back[3] = {};
    EXPECT_EQ(3, readAt(file, back, 3, 0));
    EXPECT_EQ("abc", std::string(back, 3));
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
  EXPECT_EQ((Tree{{"out", "file:" + bytes}}), readTree("."));
}

// Writes to the file "0" take a while, so that the other thread makes the entries after
// it ahead of their turn, differently from one round to the next.
class SlowFirstFile final : public ForwardingFileSystem {
 public:
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    FsStatus status = real_.createFile(parent, name, file);
    if (status == FsStatus::Ok && name == "0") slowFile_ = file.value();
    return status;
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    if (file.value() == slowFile_)
      std::this_thread::sleep_for(std::chrono::microseconds(500 * (waits_++ % 7)));
    return real_.write(file, bytes, count, written);
  }

 private:
  std::atomic<intptr_t> slowFile_{Handle::none};
  std::atomic<int> waits_{0};
};

// The file system itself folds case: two threads must leave what making one entry after
// the other leaves, the spelling made first staying on disk.
TEST(WindowsExtraction, FoldedNamesGiveTheOneByOneOutcome) {
  const std::string slow(3000, 's');
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // after the slow file "0"
    std::string output;                                      // after the slow file's line
    Tree tree;                                               // besides "0"
  };
  const Case cases[] = {
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
  };
  SlowFirstFile files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder;
    builder.addFile("0", slow);
    for (const auto& [path, contents] : c.files)
      builder.addFile(path, contents);
    Tree tree = c.tree;
    tree["0"] = "file:" + slow;
    const std::string archive = builder.build();
    JsonDocument document;
    const JsonValue& filesValue = builder.filesValue(document);
    for (int round = 0; round < 10; ++round) {
      TempDir dir;
      MemoryByteSource source(archive);
      MemoryByteSource ahead(archive);
      ArchiveContext context{source, 0, round > 0 ? &ahead : nullptr};
      JsonDocument header;
      ASSERT_TRUE(readHeader(context, header));
      OutputCapture output;
      extractTree(context, "tolvex", filesValue, files);
      ASSERT_EQ("Extracting tolvex/0 (3000) ... OK\n" + c.output, output.text())
          << "round " << round;
      ASSERT_EQ(tree, readTree("tolvex")) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tolvex
