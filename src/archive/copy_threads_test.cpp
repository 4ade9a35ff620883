#include "archive/copy_threads.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvex {
namespace {

constexpr uint64_t ms = 1000 * 1000;

// Processors and limits in, threads out; then what the threads report, stretch by
// stretch (busy and processor time, in ms), and the count after each.
struct Case {
  size_t processors;
  size_t fileLimit;
  size_t directoryBudget;
  size_t count;
  std::vector<std::vector<uint64_t>> reports;  // {busy, used, count after}
};

TEST(CopyThreads, AsManyAsTheProcessorsAndMoreWhileCopiesWait) {
  const Case cases[] = {
      {2, 1024, 64, 2, {{20, 19, 2}, {40, 30, 2}}},  // copies busy with the processors
      {1, 0, 64, 1, {{20, 12, 1}, {20, 9, 2}}},      // half or more of one processor
      {2, 1024, 64, 2, {{10, 1, 2}, {10, 1, 4}, {20, 2, 8}, {20, 2, 16}, {20, 0, 16}}},
      {2, 1024, 64, 2, {{20, 2, 4}, {20, 12, 4}}},  // four keep the processors busy
      {64, 0, 64, 16, {}},
      {2, 6, 2, 1, {{20, 0, 1}}},    // the smallest limit: one at a time
      {8, 32, 8, 8, {{20, 0, 10}}},  // (32 - 4 - 8) / 2 files for copies
  };
  for (const Case& c : cases) {
    CopyThreads threads(c.processors, c.fileLimit, c.directoryBudget);
    EXPECT_EQ(c.count, threads.count()) << c.processors << " processors";
    for (const auto& report : c.reports) {
      threads.observe(report[0] * ms, report[1] * ms);
      EXPECT_EQ(report[2], threads.count()) << c.processors << " processors";
    }
  }
  CopyThreads fixed = CopyThreads::fixed(4);
  fixed.observe(100 * ms, 0);
  EXPECT_EQ(4u, fixed.count());
}

}  // namespace
}  // namespace tolvex
