#include "archive/stream_spool.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

namespace tolvex {
namespace {

// The way taken where the file system has no O_TMPFILE: the name is gone at once.
TEST(CreateNamelessFile, PortableWayLeavesNoName) {
  TempDir dir;
  Handle file = createNamelessFile(false);
  ASSERT_GE(static_cast<int>(file.value()), 0);
  ASSERT_EQ(3, write(static_cast<int>(file.value()), "abc", 3));
  char back[3] = {};
  EXPECT_EQ(3, pread(static_cast<int>(file.value()), back, 3, 0));
  EXPECT_EQ("abc", std::string(back, 3));
  EXPECT_TRUE(std::filesystem::is_empty("."));
}

}  // namespace
}  // namespace tolvex
