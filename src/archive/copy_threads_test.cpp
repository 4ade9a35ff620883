#include "archive/copy_threads.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvex {
namespace {

// Processors and the open-file limit in, threads out; then what the threads report, decision by
// decision: busy and used time (ms) and the work done in it, the time it took (ms), and
// the count after it.
struct Case {
  const char* what;
  size_t processors, fileLimit, count;
  std::vector<std::vector<uint64_t>> reports;
};

TEST(CopyThreads, AsManyAsTheProcessorsAndMoreWhileCopiesWaitAndMoreCopiesPay) {
  // clang-format off
  const Case cases[] = {
      {"copies busy with the processors", 2, 1024, 2, {{40, 38, 1000, 50, 2}}},
      {"waiting, each doubling paying", 2, 1024, 2,
       {{40, 4, 1000, 50, 4}, {80, 8, 2000, 50, 8}, {160, 16, 3000, 50, 16}, {9, 0, 1, 50, 16}}},
      {"a doubling that does not pay is taken back, tried again after 1 s, then 2 s", 2, 1024, 2,
       {{40, 4, 1000, 50, 4}, {80, 8, 1200, 50, 2}, {40, 4, 1000, 950, 2}, {40, 4, 1000, 50, 4},
        {80, 8, 1000, 50, 2}, {40, 4, 1000, 1950, 2}, {40, 4, 1000, 50, 4}}},
      {"no decision on a short measure", 2, 1024, 2, {{40, 4, 10, 20, 2}, {9, 0, 0, 30, 4}}},
      {"half of one processor is busy enough", 1, 0, 1, {{40, 20, 100, 50, 1}}},
      {"the smallest limit: one at a time", 2, 6, 1, {{40, 0, 100, 50, 1}}},
      {"(32 - 4 - 8) / 2 files for copies", 8, 32, 8, {{40, 0, 100, 50, 10}}},
      {"never more than 16", 64, 0, 16, {{40, 0, 100, 50, 16}}},
  };
  // clang-format on
  const uint64_t ms = 1000 * 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CopyThreads threads(c.processors, c.fileLimit);
    EXPECT_EQ(c.count, threads.count());
    uint64_t now = 1, work = 0;
    threads.observe(0, 0, work, now);  // the first report starts the measure
    for (const std::vector<uint64_t>& report : c.reports) {
      threads.observe(report[0] * ms, report[1] * ms, work += report[2], now += report[3] * ms);
      EXPECT_EQ(report[4], threads.count());
    }
  }
  CopyThreads fixed = CopyThreads::fixed(4);
  EXPECT_FALSE(fixed.measuring());
  EXPECT_EQ(4u, fixed.count());
}

}  // namespace
}  // namespace tolvex
