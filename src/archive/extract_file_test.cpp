#include "archive/extract_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "archive/byte_source.h"
#include "archive/copy_scheduler.h"
#include "archive/output_directory.h"
#include "archive_builder.h"
#include "memory_byte_source.h"
#include "output_capture.h"
#include "platform/platform.h"
#include "scripted_file_system.h"
#include "temp_dir.h"
#include "test_files.h"
#include "unique_fd.h"

namespace tolvex {
namespace {

// Bytes that differ from chunk to chunk, so a chunk written twice or skipped shows.
std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

struct Result {
  std::string line;
  bool ok;
};

// A fresh directory with an empty ./tolvex to extract entries into, each through the
// whole copy path on one thread, printing its line.
class ExtractFileTest : public ::testing::Test {
 protected:
  ExtractFileTest() { mkdir("tolvex", 0777); }

  // Copies the entries `tasks` into ./tolvex, itself unusable when not `rootUsable`.
  Result extractTasks(ByteSource& source, uint32_t dataBase, std::vector<FileTask> tasks,
                      bool rootUsable = true, FileSystem& files = nativeFileSystem()) {
    DirectoryId id;
    Handle root;
    if (rootUsable) files.openRoot("tolvex", root, id);
    auto directory = std::make_shared<OutputDirectory>("tolvex", std::move(root), id);
    directory->mayFold = false;
    OutputCapture output;
    bool ok = true;
    {
      ArchiveContext context{source, dataBase};
      CopyScheduler scheduler(files, context, directory);
      for (FileTask& task : tasks)
        ok = ok && scheduler.addFile(directory, std::move(task));
      ok = scheduler.finish() && ok;
    }
    return {output.text(), ok};
  }

  Result extract(ByteSource& source, uint32_t dataBase, uint64_t offset, uint32_t size,
                 const std::string& name = "f", bool rootUsable = true,
                 FileSystem& files = nativeFileSystem()) {
    return extractTasks(source, dataBase, {{name, "tolvex/" + name, offset, size}}, rootUsable,
                        files);
  }

  // An archive file holding `data` as its data region (base 20), read through a
  // FileByteSource.
  Result extractFromFile(const std::string& data, uint64_t offset, uint32_t size,
                         const std::string& name = "f") {
    writeFile("archive", archiveFromHeader("{}", data));
    Handle file = openForReading("archive");
    FileByteSource source(file);
    return extract(source, 20, offset, size, name);
  }

  TempDir dir_;
};

TEST_F(ExtractFileTest, PrintsOneMarkPerChunk) {
  struct Case {
    uint32_t count;
    const char* line;
  };
  const Case cases[] = {
      {0, "Extracting tolvex/f (0)  OK\n"},          {1, "Extracting tolvex/f (1) . OK\n"},
      {1023, "Extracting tolvex/f (1023) . OK\n"},   {1024, "Extracting tolvex/f (1024) . OK\n"},
      {1025, "Extracting tolvex/f (1025) .. OK\n"},  {2500, "Extracting tolvex/f (2500) ... OK\n"},
      {3000, "Extracting tolvex/f (3000) ... OK\n"},
  };
  const std::string data = "0123456789" + pattern(3000) + "trailing";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const uint32_t size = c.count;
    Result result = extractFromFile(data, 10, size);
    EXPECT_EQ(c.line, result.line);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(pattern(c.count), readFile("tolvex/f"));
  }
}

// Entries larger than what the source hands out at once, around the edges of its pieces,
// from an archive file and from memory.
TEST_F(ExtractFileTest, CopiesEntriesOfManyPieces) {
  const uint32_t piece = ByteSource::viewLimit;
  const uint32_t counts[] = {piece - 1, piece, piece + 1, 3 * piece + 5, 9437684};
  const std::string data = "0123456789" + pattern(9437684) + "trailing";
  const std::string archive = archiveFromHeader("{}", data);
  writeFile("archive", archive);
  for (uint32_t count : counts) {
    SCOPED_TRACE(count);
    const std::string line = "Extracting tolvex/f (" + std::to_string(count) + ") " +
                             std::string((count + 1023) / 1024, '.') + " OK\n";
    Handle file = openForReading("archive");
    FileByteSource fromFile(file);
    MemoryByteSource fromMemory(archive);
    for (ByteSource* source :
         {static_cast<ByteSource*>(&fromFile), static_cast<ByteSource*>(&fromMemory)}) {
      const uint32_t size = count;
      Result result = extract(*source, 20, 10, size);
      EXPECT_TRUE(line == result.line);
      EXPECT_TRUE(result.ok);
      EXPECT_TRUE(pattern(count) == readFile("tolvex/f"));
    }
  }
}

// Wherever the archive ends or fails, the file keeps the whole chunks before the chunk
// that could not be read, however large the pieces it was copied in.
TEST_F(ExtractFileTest, ShortOrFailingArchiveKeepsWholeChunksBeforeIt) {
  struct Case {
    const char* name;
    uint32_t count;
    size_t dataLength;
    uint64_t failFrom;  // within the entry; none when past it
    size_t kept;
  };
  const uint64_t never = UINT64_MAX;
  const uint32_t piece = ByteSource::viewLimit;
  const Case cases[] = {
      {"ends in the middle", 3000, 1500, never, 1024},
      {"ends in a later piece", 5242880, 3146228, never, 3145728},
      {"fails inside the third chunk", 3000, 3000, 2148, 2048},
      {"fails at once", 3000, 3000, 0, 0},
      {"fails at a piece's end", 3 * piece, 3 * piece, piece, piece},
      {"fails one byte into a piece", 3 * piece, 3 * piece, 2 * piece + 1, 2 * piece},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryByteSource source(archiveFromHeader("{}", pattern(c.dataLength)));
    source.failFrom = c.failFrom == never ? never : 20 + c.failFrom;
    const uint32_t size = c.count;
    Result result = extract(source, 20, 0, size);
    EXPECT_TRUE("Extracting tolvex/f (" + std::to_string(c.count) + ") " +
                    std::string(c.kept / 1024, '.') + "> NG\n" ==
                result.line);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(pattern(c.kept) == readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, NegativeSizeCopiesUntilArchiveRunsShort) {
  FileSizeCap cap(1 << 20);
  const uint32_t size = 4294967295u;  // what a size of -1 counts
  Result result = extractFromFile(pattern(2500), 0, size);
  EXPECT_EQ("Extracting tolvex/f (4294967295) ..> NG\n", result.line);
  EXPECT_EQ(pattern(2048), readFile("tolvex/f"));
}

TEST_F(ExtractFileTest, RealSizeOf2To32IsAnEmptyFile) {
  const uint32_t size = 0;  // what a size of 4294967296.0 counts
  Result result = extractFromFile(pattern(10), 0, size);
  EXPECT_EQ("Extracting tolvex/f (0)  OK\n", result.line);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("", readFile("tolvex/f"));
}

// An existing file is replaced by a new one: a hard link to it from outside the output
// used to be rewritten with it.
TEST_F(ExtractFileTest, ReplacesExistingFileWithANewOne) {
  writeFile("outside", "an older and much longer content");
  ASSERT_EQ(0, chmod("outside", 0600));
  ASSERT_EQ(0, link("outside", "tolvex/f"));
  const uint32_t size = 3;
  Result result = extractFromFile("abc", 0, size);
  EXPECT_EQ("Extracting tolvex/f (3) . OK\n", result.line);
  EXPECT_EQ("abc", readFile("tolvex/f"));
  EXPECT_EQ("an older and much longer content", readFile("outside"));
  struct stat status;
  ASSERT_EQ(0, stat("tolvex/f", &status));
  EXPECT_EQ(1u, status.st_nlink);
  EXPECT_NE(0600u, status.st_mode & 0777);  // default permissions, not the old file's
}

// An archive that lies in the output at one of its own entries' paths used to be cut
// short by that entry before the entries after it were read.
TEST_F(ExtractFileTest, ArchiveReplacedByItsOwnEntryStaysReadable) {
  const std::string archive = archiveFromHeader("{}", "first" + pattern(5000));
  writeFile("tolvex/self", archive);
  Handle file = openForReading("tolvex/self");
  FileByteSource source(file);
  Result result =
      extractTasks(source, 20, {{"self", "tolvex/self", 0, 5}, {"z", "tolvex/z", 5, 5000}});
  EXPECT_EQ("Extracting tolvex/self (5) . OK\nExtracting tolvex/z (5000) ..... OK\n", result.line);
  EXPECT_EQ("first", readFile("tolvex/self"));
  EXPECT_TRUE(pattern(5000) == readFile("tolvex/z"));
}

// These positions used to be read from wherever the archive stream last stood.
TEST_F(ExtractFileTest, UnreachablePositionReadsNothing) {
  struct Case {
    uint64_t offset;
    uint32_t count;
    const char* line;
  };
  const Case cases[] = {
      {9223372036854775808u, 5, "Extracting tolvex/f (5) > NG\n"},   // beyond off_t
      {18446744073709551615u, 5, "Extracting tolvex/f (5) > NG\n"},  // base + offset > 2^64-1
      {18446744073709551615u, 0, "Extracting tolvex/f (0)  OK\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    const uint32_t size = c.count;
    Result result = extractFromFile(pattern(100), c.offset, size);
    EXPECT_EQ(c.line, result.line);
    EXPECT_EQ("", readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, FileThatCannotBeCreated) {
  const uint32_t size = 3;
  MemoryByteSource source(archiveFromHeader("{}", "abc"));
  // The directory on the way could not be made.
  Result result = extract(source, 20, 0, size, "x", false);
  EXPECT_EQ("Extracting tolvex/x o NG\n", result.line);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(0u, source.readCalls);
  // A directory stands where the file should go.
  mkdir("tolvex/d", 0777);
  result = extract(source, 20, 0, size, "d");
  EXPECT_EQ("Extracting tolvex/d o NG\n", result.line);
}

// A link or a special file planted where an output file goes is neither followed nor
// opened nor replaced: not even a FIFO that a reader holds open, which an open for
// writing would reach without waiting.
TEST_F(ExtractFileTest, LeavesPlantedLinksAndSpecialFilesAlone) {
  writeFile("sentinel", "unmodified");
  ASSERT_EQ(0, symlink("../sentinel", "tolvex/link"));
  ASSERT_EQ(0, symlink("../created-through-link", "tolvex/dangling"));
  ASSERT_EQ(0, mkfifo("tolvex/fifo", 0666));
  ASSERT_EQ(0, mkfifo("tolvex/read-fifo", 0666));
  UniqueFd reader(open("tolvex/read-fifo", O_RDONLY | O_NONBLOCK));
  ASSERT_LE(0, reader.get());
  const uint32_t size = 3;
  for (const char* name : {"link", "dangling", "fifo", "read-fifo"}) {
    SCOPED_TRACE(name);
    Result result = extractFromFile("abc", 0, size, name);
    EXPECT_EQ(std::string("Extracting tolvex/") + name + " o NG\n", result.line);
    EXPECT_FALSE(result.ok);
  }
  EXPECT_EQ("unmodified", readFile("sentinel"));
  EXPECT_NE(0, access("created-through-link", F_OK));
  char received[4];
  EXPECT_GE(0, read(reader.get(), received, sizeof received));
  for (const char* fifo : {"tolvex/fifo", "tolvex/read-fifo"}) {
    struct stat status;
    ASSERT_EQ(0, lstat(fifo, &status));
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
  }
}

TEST_F(ExtractFileTest, NameWithControlBytesIsPrintedAsIsOffTerminal) {
  const uint32_t size = 1;
  Result result = extractFromFile("a", 0, size, "b\x1b\n");
  EXPECT_EQ("Extracting tolvex/b\x1b\n (1) . OK\n", result.line);
}

// Runs `body` in a child process whose files may not grow beyond `limit` bytes, with
// SIGXFSZ ignored as the program ignores it, so that writes past it fail instead of
// killing the process. Returns what `body` returns there.
std::string runWithFileSizeLimit(rlim_t limit, const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string printed = body();
    // A pipe is not bound by the file size limit.
    ssize_t written = write(channel[1], printed.data(), printed.size());
    _exit(written == static_cast<ssize_t>(printed.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string printed;
  char buffer[4096];
  ssize_t n;
  while ((n = read(channel[0], buffer, sizeof buffer)) > 0)
    printed.append(buffer, n);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return printed;
}

// A "." stands for a chunk the file holds: when the disk refuses bytes, the marks count
// what it took. These used to print a mark for every chunk handed to a buffer.
TEST_F(ExtractFileTest, MarksCountWhatTheFileHoldsWhenItRefusesBytes) {
  struct Case {
    uint32_t count;
    rlim_t limit;
    size_t marks;
  };
  const Case cases[] = {{2500, 1000, 0}, {20000, 10000, 9}, {3145728, 1048576, 1024}};
  writeFile("archive", archiveFromHeader("{}", pattern(3145728)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    for (bool fromFile : {true, false}) {
      std::string printed = runWithFileSizeLimit(c.limit, [this, fromFile, &c] {
        Handle file = openForReading("archive");
        FileByteSource fileSource(file);
        MemoryByteSource memorySource(readFile("archive"));
        ByteSource& source = fromFile ? static_cast<ByteSource&>(fileSource) : memorySource;
        const uint32_t size = c.count;
        return extract(source, 20, 0, size).line;
      });
      EXPECT_EQ("Extracting tolvex/f (" + std::to_string(c.count) + ") " +
                    std::string(c.marks, '.') + "< NG\n",
                printed);
      EXPECT_TRUE(pattern(c.limit) == readFile("tolvex/f"));
    }
  }
}

// Closing the file reports that its bytes could not be kept, as a full disk or quota can on
// some file systems.
TEST_F(ExtractFileTest, FailedCloseFailsEntry) {
  ScriptedFileSystem files;
  files.script = [](const std::string& call, const std::string&) {
    return call == "close" ? FsStatus::Failed : FsStatus::Ok;
  };
  MemoryByteSource source(archiveFromHeader("{}", pattern(3000)));
  const uint32_t size = 3000;
  Result result = extract(source, 20, 0, size, "f", true, files);
  EXPECT_EQ("Extracting tolvex/f (3000) ...< NG\n", result.line);
  EXPECT_FALSE(result.ok);
}

// Beyond 4 GiB, created sparse: only the bytes the entries use are written.
TEST_F(ExtractFileTest, ReadsEntriesBeyond2And4GiB) {
  const std::string header = "{}";
  const uint64_t beyond2GiB = 3ull << 30, beyond4GiB = (9ull << 29) + 7;
  {
    UniqueFd archive(open("archive", O_WRONLY | O_CREAT | O_TRUNC, 0666));
    std::string start = archiveFromHeader(header, "first");
    ASSERT_EQ(ssize_t(start.size()), pwrite(archive.get(), start.data(), start.size(), 0));
    ASSERT_EQ(5, pwrite(archive.get(), "third", 5, 20 + beyond2GiB));
    ASSERT_EQ(6, pwrite(archive.get(), "fourth", 6, 20 + beyond4GiB));
  }
  Handle file = openForReading("archive");
  FileByteSource source(file);
  struct Case {
    uint64_t offset;
    const char* contents;
  };
  for (const Case& c : {Case{0, "first"}, Case{beyond2GiB, "third"}, Case{beyond4GiB, "fourth"}}) {
    SCOPED_TRACE(c.contents);
    const uint32_t size = std::strlen(c.contents);
    Result result = extract(source, 20, c.offset, size);
    EXPECT_TRUE(result.ok) << result.line;
    EXPECT_EQ(c.contents, readFile("tolvex/f"));
  }
}

}  // namespace
}  // namespace tolvex
