#include "archive/byte_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

Handle openWith(const TempDir& dir, const std::string& bytes) {
  std::string path = dir / "archive";
  writeFile(path, bytes);
  return openForReading(path);
}

TEST(FileByteSource, ShortReadAtEndThenNothingUntilSeek) {
  TempDir dir(false);
  Handle file = openWith(dir, "abcdef");
  FileByteSource source(file);
  char buffer[10] = {};
  uint32_t got = 99;
  source.seek(2);
  ASSERT_TRUE(source.read(buffer, 10, got));
  EXPECT_EQ(4u, got);
  EXPECT_EQ("cdef", std::string(buffer, 4));
  got = 99;
  EXPECT_TRUE(source.read(buffer, 10, got));
  EXPECT_EQ(0u, got);
  got = 99;
  EXPECT_TRUE(source.read(buffer, 0, got));
  EXPECT_EQ(0u, got);
  source.seek(0);
  ASSERT_TRUE(source.read(buffer, 3, got));
  EXPECT_EQ("abc", std::string(buffer, got));
}

TEST(FileByteSource, SeekBeyondEndReadsNothing) {
  TempDir dir(false);
  Handle file = openWith(dir, "abc");
  FileByteSource source(file);
  char buffer[4];
  uint32_t got = 99;
  source.seek(1000);
  EXPECT_TRUE(source.read(buffer, 4, got));
  EXPECT_EQ(0u, got);
}

// Used to read on from wherever the stream stood when a seek could not be carried out.
TEST(FileByteSource, FailedSeekFailsReadsUntilNextSeek) {
  TempDir dir(false);
  Handle file = openWith(dir, "abcdef");
  FileByteSource source(file);
  char buffer[4];
  uint32_t got = 0;
  source.seek(UINT64_MAX);
  EXPECT_FALSE(source.read(buffer, 4, got));
  EXPECT_FALSE(source.read(buffer, 0, got));
  uint64_t left = 0;
  EXPECT_FALSE(source.bytesLeft(left));
  source.seek(4);
  ASSERT_TRUE(source.read(buffer, 4, got));
  EXPECT_EQ("ef", std::string(buffer, got));
}

TEST(FileByteSource, ReadErrorLeavesGotUntouched) {
  TempDir dir(false);
  // Reading a directory is an error (EISDIR), not an end of file.
  Handle file(open(dir.path().c_str(), O_RDONLY));
  ASSERT_TRUE(file.isOpen());
  FileByteSource source(file);
  char buffer[4];
  uint32_t got = 7;
  EXPECT_FALSE(source.read(buffer, 4, got));
  EXPECT_EQ(7u, got);
}

TEST(FileByteSource, TellsBytesLeftOnlyForRegularFiles) {
  TempDir dir(false);
  Handle file = openWith(dir, "abcdef");
  FileByteSource source(file);
  uint64_t left = 0;
  ASSERT_TRUE(source.bytesLeft(left));
  EXPECT_EQ(6u, left);
  char buffer[2];
  uint32_t got = 0;
  ASSERT_TRUE(source.read(buffer, 2, got));
  ASSERT_TRUE(source.bytesLeft(left));
  EXPECT_EQ(4u, left);
  source.seek(10);
  ASSERT_TRUE(source.bytesLeft(left));
  EXPECT_EQ(0u, left);

  Handle directory(open(dir.path().c_str(), O_RDONLY));
  FileByteSource notAFile(directory);
  EXPECT_FALSE(notAFile.bytesLeft(left));
}

// Bytes that differ from one read to the next, so a piece read twice or skipped shows.
std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

// Reads of many sizes, some within the source's window, some across its edge, some
// larger than it, each after a seek: every one must hand out exactly the file's bytes.
TEST(FileByteSource, ReadsAcrossAndBeyondItsWindow) {
  TempDir dir(false);
  const std::string bytes = pattern(700 * 1024 + 3);
  Handle file = openWith(dir, bytes);
  FileByteSource source(file);
  struct Case {
    uint64_t position;
    uint32_t count;
  };
  const Case cases[] = {
      {0, 1024},           {1024, 1024},   {262143, 2}, {262144, 1024}, {100, 300 * 1024},
      {0, 700 * 1024 + 3}, {716000, 2000}, {10, 5},     {500000, 1024}, {262000, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    std::string buffer(c.count, '\0');
    uint32_t got = 0;
    source.seek(c.position);
    ASSERT_TRUE(source.read(buffer.data(), c.count, got));
    uint64_t expected = std::min<uint64_t>(c.count, bytes.size() - c.position);
    ASSERT_EQ(expected, got);
    EXPECT_TRUE(bytes.substr(c.position, got) == buffer.substr(0, got));
  }
}

// Views of many sizes, within the window, across its edge and at the end, each after a
// seek or following the one before: each hands out exactly the file's bytes from the
// position, and the position moves past them.
TEST(FileByteSource, ViewsHandOutTheBytesAtThePosition) {
  TempDir dir(false);
  const std::string bytes = pattern(700 * 1024 + 3);
  Handle file = openWith(dir, bytes);
  FileByteSource source(file);
  struct Case {
    int64_t seekTo;  // -1: go on from where the last view ended
    uint32_t count;
    uint32_t delivered;
  };
  const uint32_t window = ByteSource::viewLimit;
  const Case cases[] = {
      {0, 1024, 1024},
      {-1, 1024, 1024},
      {262143, 2, 2},
      {-1, window, window},
      {100, window + 5, window},
      {716000, 2000, 803},
      {-1, 10, 0},
      {10, 5, 5},
      {-1, 0, 0},
      {2000000, 10, 0},
  };
  uint64_t position = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.seekTo) + " " + std::to_string(c.count));
    if (c.seekTo >= 0) {
      source.seek(static_cast<uint64_t>(c.seekTo));
      position = static_cast<uint64_t>(c.seekTo);
    }
    const char* data = nullptr;
    ASSERT_EQ(c.delivered, source.view(c.count, data));
    if (c.delivered > 0) {
      EXPECT_TRUE(bytes.substr(position, c.delivered) == std::string(data, c.delivered));
    }
    position += c.delivered;
  }
  // Reads go on where the views left off.
  source.seek(5);
  const char* data = nullptr;
  ASSERT_EQ(3u, source.view(3, data));
  char buffer[2];
  uint32_t got = 0;
  ASSERT_TRUE(source.read(buffer, 2, got));
  EXPECT_EQ(bytes.substr(8, 2), std::string(buffer, got));
}

}  // namespace
}  // namespace tolvex
