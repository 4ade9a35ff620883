#include "archive/extract_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include "archive/byte_source.h"
#include "archive/header_prefix.h"
#include "archive_builder.h"
#include "memory_byte_source.h"
#include "output_capture.h"
#include "temp_dir.h"
#include "test_files.h"

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

// A fresh directory with an empty ./tolvex to extract entries into, one at a time.
class ExtractFileTest : public ::testing::Test {
 protected:
  ExtractFileTest() : root_((mkdir("tolvex", 0777), open("tolvex", O_RDONLY | O_DIRECTORY))) {}

  Result extract(ByteSource& source, uint32_t dataBase, const std::string& offset,
                 const JsonValue& size, const std::string& name = "f", int directory = -2) {
    ArchiveContext context{source, dataBase};
    Owned<JsonString> offsetValue(JsonString::make(offset));
    OutputCapture output;
    bool ok = extractFile(context, directory == -2 ? root_.get() : directory, name,
                          "tolvex/" + name, *offsetValue, size);
    return {output.text(), ok};
  }

  // An archive file holding `data` as its data region (base 20), read through a
  // FileByteSource.
  Result extractFromFile(const std::string& data, const std::string& offset, const JsonValue& size,
                         const std::string& name = "f") {
    writeFile("archive", archiveFromHeader("{}", data));
    FilePtr file(std::fopen("archive", "rb"));
    FileByteSource source(file.get());
    return extract(source, 20, offset, size, name);
  }

  TempDir dir_;
  UniqueFd root_;
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
    JsonNumber size(NumberForm::Unsigned, c.count);
    Result result = extractFromFile(data, "10", size);
    EXPECT_EQ(c.line, result.line);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(pattern(c.count), readFile("tolvex/f"));
  }
}

// Larger than the output buffer, so the buffer is written out several times on the way.
TEST_F(ExtractFileTest, CopiesEntryLargerThanOutputBuffer) {
  const std::string contents = pattern(3 * 1024 * 1024 + 5);
  JsonNumber size(NumberForm::Unsigned, contents.size());
  Result result = extractFromFile("xy" + contents, "2", size);
  EXPECT_EQ("Extracting tolvex/f (3145733) " + std::string(3073, '.') + " OK\n", result.line);
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(contents == readFile("tolvex/f"));
}

// A source over an archive file that moves entries out itself (copyTo), as the program's
// own does, and that can be made to misbehave the ways a move can: stop after
// `copyLimit` bytes (0: it cannot move at all), find the archive shorter than bytesLeft
// claimed (`extraClaimed` more), or fail every read that would deliver the byte at
// `failFrom` or later.
class CopyingSource final : public ByteSource {
 public:
  explicit CopyingSource(std::FILE* archive) : file_(archive) {}

  bool read(char* buffer, uint32_t count, uint32_t& got) override {
    if (count != 0 && position_ + count > failFrom) return false;
    if (!file_.read(buffer, count, got)) return false;
    position_ += got;
    bytesRead += got;
    return true;
  }
  void seek(uint64_t position) override {
    file_.seek(position);
    position_ = position;
  }
  bool bytesLeft(uint64_t& count) override {
    if (!file_.bytesLeft(count)) return false;
    count += extraClaimed;
    return true;
  }
  uint64_t copyTo(int out, uint64_t count) override {
    uint64_t moved = file_.copyTo(out, std::min(count, copyLimit - bytesCopied));
    position_ += moved;
    bytesCopied += moved;
    return moved;
  }

  uint64_t copyLimit = UINT64_MAX;
  uint64_t extraClaimed = 0;
  uint64_t failFrom = UINT64_MAX;
  uint64_t bytesRead = 0;
  uint64_t bytesCopied = 0;

 private:
  FileByteSource file_;
  uint64_t position_ = 0;
};

// Moving an entry whole prints what the chunked copy prints and leaves the same file, and
// a source that cannot move entries (copied through the buffer) gives the same again.
TEST_F(ExtractFileTest, WholeMoveMatchesChunkedCopy) {
  struct Case {
    uint32_t count;
    size_t marks;
  };
  const Case cases[] = {
      {0, 0},    {1, 1},        {1023, 1},       {1024, 1},       {1025, 2},
      {3000, 3}, {300000, 293}, {4194305, 4097}, {9437684, 9217},
  };
  const std::string data = "0123456789" + pattern(9437684) + "trailing";
  const std::string archive = archiveFromHeader("{}", data);
  writeFile("archive", archive);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const std::string line = "Extracting tolvex/f (" + std::to_string(c.count) + ") " +
                             std::string(c.marks, '.') + " OK\n";
    JsonNumber size(NumberForm::Unsigned, c.count);
    FilePtr file(std::fopen("archive", "rb"));
    CopyingSource moving(file.get());
    Result result = extract(moving, 20, "10", size);
    EXPECT_TRUE(line == result.line);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(c.count, moving.bytesCopied);
    EXPECT_EQ(0u, moving.bytesRead);
    EXPECT_TRUE(pattern(c.count) == readFile("tolvex/f"));

    MemoryByteSource memory(archive);
    result = extract(memory, 20, "10", size);
    EXPECT_TRUE(line == result.line);
    EXPECT_TRUE(pattern(c.count) == readFile("tolvex/f"));
  }
}

// Wherever a move stops, the copy through the buffer takes over after the last whole
// chunk moved, so the end, a read error or nothing at all shows exactly as in the chunked
// copy.
TEST_F(ExtractFileTest, WholeMoveThatStopsHandsOverAfterLastWholeChunk) {
  struct Case {
    const char* name;
    uint32_t count;
    size_t dataLength;
    uint64_t copyLimit;
    uint64_t failFrom;  // within the entry
    uint64_t extraClaimed;
    const char* marks;
    size_t kept;  // bytes in the file afterwards
  };
  const uint64_t never = UINT64_MAX;
  const Case cases[] = {
      {"cannot move at all", 3000, 3000, 0, never, 0, "... OK", 3000},
      {"stops inside a chunk, reads work", 3000, 3000, 2500, never, 0, "... OK", 3000},
      {"stops inside a chunk, reads fail there", 3000, 3000, 2500, 2100, 0, "..> NG", 2048},
      {"stops at a chunk's end, next read fails", 3000, 3000, 2048, 2500, 0, "..> NG", 2048},
      {"cannot move, first read fails", 3000, 3000, 0, 0, 0, "> NG", 0},
      {"archive shorter than it said", 3000, 2500, never, never, 1000, "..> NG", 2048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile("archive", archiveFromHeader("{}", pattern(c.dataLength)));
    FilePtr file(std::fopen("archive", "rb"));
    CopyingSource source(file.get());
    source.copyLimit = c.copyLimit;
    source.failFrom = c.failFrom == never ? never : 20 + c.failFrom;
    source.extraClaimed = c.extraClaimed;
    JsonNumber size(NumberForm::Unsigned, c.count);
    Result result = extract(source, 20, "0", size);
    EXPECT_EQ("Extracting tolvex/f (3000) " + std::string(c.marks) + "\n", result.line);
    EXPECT_TRUE(pattern(c.kept) == readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, ShortArchiveKeepsWholeChunksBeforeIt) {
  struct Case {
    uint32_t count;
    size_t dataLength;
    size_t marks;
    size_t kept;
  };
  const Case cases[] = {{3000, 1500, 1, 1024}, {5242880, 3146228, 3072, 3145728}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    JsonNumber size(NumberForm::Unsigned, c.count);
    Result result = extractFromFile(pattern(c.dataLength), "0", size);
    EXPECT_TRUE("Extracting tolvex/f (" + std::to_string(c.count) + ") " +
                    std::string(c.marks, '.') + "> NG\n" ==
                result.line);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(pattern(c.kept) == readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, ReadErrorKeepsWholeChunksBeforeIt) {
  const std::string archive = archiveFromHeader("{}", pattern(3000));
  JsonNumber size(NumberForm::Unsigned, 3000);
  {
    MemoryByteSource source(archive);
    source.failFrom = 20 + 2048 + 100;  // inside the third chunk
    Result result = extract(source, 20, "0", size);
    EXPECT_EQ("Extracting tolvex/f (3000) ..> NG\n", result.line);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(pattern(2048), readFile("tolvex/f"));
  }
  MemoryByteSource source(archive);
  source.failNextRead = true;
  Result result = extract(source, 20, "0", size);
  EXPECT_EQ("Extracting tolvex/f (3000) > NG\n", result.line);
  EXPECT_EQ("", readFile("tolvex/f"));
}

TEST_F(ExtractFileTest, NegativeSizeCopiesUntilArchiveRunsShort) {
  JsonNumber size(NumberForm::Signed, static_cast<uint64_t>(int64_t{-1}));
  Result result = extractFromFile(pattern(2500), "0", size);
  EXPECT_EQ("Extracting tolvex/f (4294967295) ..> NG\n", result.line);
  EXPECT_EQ(pattern(2048), readFile("tolvex/f"));
}

TEST_F(ExtractFileTest, RealSizeOf2To32IsAnEmptyFile) {
  JsonNumber size(NumberForm::Real, 0x41F0000000000000);  // 4294967296.0
  Result result = extractFromFile(pattern(10), "0", size);
  EXPECT_EQ("Extracting tolvex/f (0)  OK\n", result.line);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("", readFile("tolvex/f"));
}

TEST_F(ExtractFileTest, RewritesExistingFile) {
  writeFile("tolvex/f", "an older and much longer content");
  JsonNumber size(NumberForm::Unsigned, 3);
  Result result = extractFromFile("abc", "0", size);
  EXPECT_EQ("Extracting tolvex/f (3) . OK\n", result.line);
  EXPECT_EQ("abc", readFile("tolvex/f"));
}

// These positions used to be read from wherever the archive stream last stood.
TEST_F(ExtractFileTest, UnreachablePositionReadsNothing) {
  struct Case {
    const char* offset;
    uint32_t count;
    const char* line;
  };
  const Case cases[] = {
      {"9223372036854775808", 5, "Extracting tolvex/f (5) > NG\n"},   // beyond off_t
      {"18446744073709551615", 5, "Extracting tolvex/f (5) > NG\n"},  // base + offset > 2^64-1
      {"-1", 5, "Extracting tolvex/f (5) > NG\n"},
      {"18446744073709551615", 0, "Extracting tolvex/f (0)  OK\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    JsonNumber size(NumberForm::Unsigned, c.count);
    Result result = extractFromFile(pattern(100), c.offset, size);
    EXPECT_EQ(c.line, result.line);
    EXPECT_EQ("", readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, FileThatCannotBeCreated) {
  JsonNumber size(NumberForm::Unsigned, 3);
  MemoryByteSource source(archiveFromHeader("{}", "abc"));
  // The directory on the way could not be made.
  Result result = extract(source, 20, "0", size, "x", -1);
  EXPECT_EQ("Extracting tolvex/x o NG\n", result.line);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(0u, source.readCalls);
  // A directory stands where the file should go.
  mkdir("tolvex/d", 0777);
  result = extract(source, 20, "0", size, "d");
  EXPECT_EQ("Extracting tolvex/d o NG\n", result.line);
}

// A link or a special file planted where an output file goes is neither followed nor
// written to, and no open waits for a reader.
TEST_F(ExtractFileTest, LeavesPlantedLinksAndSpecialFilesAlone) {
  writeFile("sentinel", "unmodified");
  ASSERT_EQ(0, symlink("../sentinel", "tolvex/link"));
  ASSERT_EQ(0, symlink("../created-through-link", "tolvex/dangling"));
  ASSERT_EQ(0, mkfifo("tolvex/fifo", 0666));
  JsonNumber size(NumberForm::Unsigned, 3);
  for (const char* name : {"link", "dangling", "fifo"}) {
    SCOPED_TRACE(name);
    Result result = extractFromFile("abc", "0", size, name);
    EXPECT_EQ(std::string("Extracting tolvex/") + name + " o NG\n", result.line);
    EXPECT_FALSE(result.ok);
  }
  EXPECT_EQ("unmodified", readFile("sentinel"));
  EXPECT_NE(0, access("created-through-link", F_OK));
  struct stat status;
  ASSERT_EQ(0, lstat("tolvex/fifo", &status));
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(ExtractFileTest, NameWithControlBytesIsPrintedAsIsOffTerminal) {
  JsonNumber size(NumberForm::Unsigned, 1);
  Result result = extractFromFile("a", "0", size, "b\x1b\n");
  EXPECT_EQ("Extracting tolvex/b\x1b\n (1) . OK\n", result.line);
}

TEST_F(ExtractFileTest, MarksShowWhileCopyingOnATerminal) {
  writeFile("archive", archiveFromHeader("{}", pattern(3000)));
  FilePtr file(std::fopen("archive", "rb"));
  FileByteSource source(file.get());
  ArchiveContext context{source, 20};
  Owned<JsonString> offset(JsonString::make("0"));
  JsonNumber size(NumberForm::Unsigned, 3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  OutputCapture terminal(true);
  EXPECT_TRUE(extractFile(context, root_.get(), "f", "tolvex/f", *offset, size));
  EXPECT_EQ("Extracting tolvex/f (3000) ... OK\n", terminal.text());
  EXPECT_LE(2, terminal.flushes());  // the end of the line, and marks before it
}

// Runs `body` in a child process whose files may not grow beyond `limit` bytes, with
// SIGXFSZ ignored so that writes past it fail instead of killing the process. Returns what
// the child printed on std::cout.
std::string runWithFileSizeLimit(rlim_t limit, const std::function<void()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  std::fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string printed;
    {
      OutputCapture output;
      body();
      printed = output.text();
    }
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

// Used to end in OK: every chunk went into the buffer, and the write that failed was only
// tried when the file was closed.
// The same whether moving the entry whole meets the full disk first (an archive file) or
// the copy through the buffer does (a source in memory).
TEST_F(ExtractFileTest, FailedWriteAtCloseFailsEntry) {
  const std::string contents = pattern(3000);
  const std::string archive = archiveFromHeader("{}", contents);
  writeFile("archive", archive);
  for (bool fromFile : {true, false}) {
    SCOPED_TRACE(fromFile ? "archive file" : "memory");
    std::string printed = runWithFileSizeLimit(1000, [this, fromFile, &archive] {
      FilePtr file(std::fopen("archive", "rb"));
      FileByteSource fileSource(file.get());
      MemoryByteSource memorySource(archive);
      ByteSource& source = fromFile ? static_cast<ByteSource&>(fileSource) : memorySource;
      ArchiveContext context{source, 20};
      Owned<JsonString> offset(JsonString::make("0"));
      JsonNumber size(NumberForm::Unsigned, 3000);
      extractFile(context, root_.get(), "f", "tolvex/f", *offset, size);
    });
    EXPECT_EQ("Extracting tolvex/f (3000) ...< NG\n", printed);
    EXPECT_EQ(contents.substr(0, 1000), readFile("tolvex/f"));
  }
}

TEST_F(ExtractFileTest, FailedWriteDuringCopyStopsIt) {
  writeFile("archive", archiveFromHeader("{}", pattern(3 * 1024 * 1024)));
  std::string printed = runWithFileSizeLimit(1024 * 1024, [this] {
    FilePtr file(std::fopen("archive", "rb"));
    FileByteSource source(file.get());
    ArchiveContext context{source, 20};
    Owned<JsonString> offset(JsonString::make("0"));
    JsonNumber size(NumberForm::Unsigned, 3 * 1024 * 1024);
    extractFile(context, root_.get(), "f", "tolvex/f", *offset, size);
  });
  const std::string start = "Extracting tolvex/f (3145728) ";
  ASSERT_EQ(start, printed.substr(0, start.size()));
  EXPECT_EQ("< NG\n", printed.substr(printed.size() - 5));
  EXPECT_LT(printed.size(), start.size() + 3072 + 5);
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
  FilePtr file(std::fopen("archive", "rb"));
  FileByteSource source(file.get());
  struct Case {
    uint64_t offset;
    const char* contents;
  };
  for (const Case& c : {Case{0, "first"}, Case{beyond2GiB, "third"}, Case{beyond4GiB, "fourth"}}) {
    SCOPED_TRACE(c.contents);
    JsonNumber size(NumberForm::Unsigned, std::strlen(c.contents));
    Result result = extract(source, 20, std::to_string(c.offset), size);
    EXPECT_TRUE(result.ok) << result.line;
    EXPECT_EQ(c.contents, readFile("tolvex/f"));
  }
}

TEST(OffsetFromText, ReadsLikeStrtoull) {
  struct Case {
    std::string text;
    uint64_t offset;
  };
  const Case cases[] = {
      {"0", 0},
      {"1234", 1234},
      {"  12", 12},
      {"\t\n\v\f\r 7", 7},
      {"12abc", 12},
      {"12 34", 12},
      {"", 0},
      {"abc", 0},
      {"0x10", 0},
      {"+5", 5},
      {"-0", 0},
      {"-1", 18446744073709551615u},
      {"-18446744073709551615", 1},
      {"4294967296", 4294967296u},
      {"18446744073709551615", 18446744073709551615u},
      {"18446744073709551616", 18446744073709551615u},
      {"99999999999999999999999", 18446744073709551615u},
      {"-99999999999999999999999", 18446744073709551615u},
      {"+-1", 0},
      {std::string("1\0"
                   "2",
                   3),
       1},
      {std::string("\0"
                   "5",
                   2),
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Owned<JsonString> offset(JsonString::make(c.text));
    EXPECT_EQ(c.offset, offsetFromText(*offset));
  }
}

TEST(CountFromSize, TakesLow32BitsByForm) {
  struct Case {
    const char* name;
    NumberForm form;
    uint64_t payload;
    uint32_t count;
  };
  auto real = [](double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
  };
  const double infinity = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"Real 10.9", NumberForm::Real, real(10.9), 10},
      {"Real -0.5", NumberForm::Real, real(-0.5), 4294967295u},
      {"Real -1.0", NumberForm::Real, real(-1.0), 4294967295u},
      {"Real 1e30", NumberForm::Real, real(1e30), 0},
      {"Real infinity", NumberForm::Real, real(infinity), 0},
      {"Real -infinity", NumberForm::Real, real(-infinity), 0},
      {"Real NaN", NumberForm::Real, real(std::nan("")), 0},
      {"Real 4294967296.0", NumberForm::Real, real(4294967296.0), 0},
      {"Real 4294967296.5", NumberForm::Real, real(4294967296.5), 0},
      {"Real 4294967297.0", NumberForm::Real, real(4294967297.0), 1},
      {"Real 2^63", NumberForm::Real, real(9223372036854775808.0), 0},
      {"Real -2^63 - 1", NumberForm::Real, real(-9223372036854777856.0), 0},
      {"Real -(2^63 - 2^10)", NumberForm::Real, real(-9223372036854774784.0), 1024},
      {"Unsigned 5e9", NumberForm::Unsigned, 5000000000u, 705032704},
      {"Unsigned 2^64-1", NumberForm::Unsigned, 18446744073709551615u, 4294967295u},
      {"Signed -1", NumberForm::Signed, 18446744073709551615u, 4294967295u},
      {"Signed -2", NumberForm::Signed, 18446744073709551614u, 4294967294u},
      {"Signed 3000", NumberForm::Signed, 3000, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JsonNumber size(c.form, c.payload);
    EXPECT_EQ(c.count, countFromSize(size));
  }
}

}  // namespace
}  // namespace tolvex
