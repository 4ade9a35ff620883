#include "archive/byte_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

FilePtr openWith(const TempDir& dir, const std::string& bytes) {
  std::string path = dir / "archive";
  writeFile(path, bytes);
  return FilePtr(std::fopen(path.c_str(), "rb"));
}

TEST(FileByteSource, ShortReadAtEndThenNothingUntilSeek) {
  TempDir dir(false);
  FilePtr file = openWith(dir, "abcdef");
  FileByteSource source(file.get());
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
  FilePtr file = openWith(dir, "abc");
  FileByteSource source(file.get());
  char buffer[4];
  uint32_t got = 99;
  source.seek(1000);
  EXPECT_TRUE(source.read(buffer, 4, got));
  EXPECT_EQ(0u, got);
}

// Used to read on from wherever the stream stood when a seek could not be carried out.
TEST(FileByteSource, FailedSeekFailsReadsUntilNextSeek) {
  TempDir dir(false);
  FilePtr file = openWith(dir, "abcdef");
  FileByteSource source(file.get());
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
  // Reading a directory's stream is an error (EISDIR), not an end of file.
  FilePtr file(std::fopen(dir.path().c_str(), "rb"));
  ASSERT_TRUE(file);
  FileByteSource source(file.get());
  char buffer[4];
  uint32_t got = 7;
  EXPECT_FALSE(source.read(buffer, 4, got));
  EXPECT_EQ(7u, got);
}

TEST(FileByteSource, TellsBytesLeftOnlyForRegularFiles) {
  TempDir dir(false);
  FilePtr file = openWith(dir, "abcdef");
  FileByteSource source(file.get());
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

  FilePtr directory(std::fopen(dir.path().c_str(), "rb"));
  FileByteSource notAFile(directory.get());
  EXPECT_FALSE(notAFile.bytesLeft(left));
}

}  // namespace
}  // namespace tolvex
