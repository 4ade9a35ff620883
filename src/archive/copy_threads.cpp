#include "archive/copy_threads.h"

#include <algorithm>

#include "archive/output_directory.h"

namespace tolvex {
namespace {

// Descriptors the program holds besides those of the copies and the output directories:
// standard input, output and error, and the archive.
constexpr size_t fixedDescriptors = 4;

// How long a decision's measure runs, and how much busy time, summed over the threads, it
// needs: long enough that the entries of one directory or one large file do not decide,
// short enough that a slow file system is seen early on.
constexpr uint64_t decisionTime = 50 * 1000 * 1000;
constexpr uint64_t decisionBusy = 20 * 1000 * 1000;

}  // namespace

CopyThreads::CopyThreads(size_t processors, size_t fileLimit) {
  most_ = maxThreads;
  if (fileLimit > 0) {
    // Each copy: its file, and its directory when the cache has closed that.
    const size_t held = fixedDescriptors + directoryBudget(fileLimit);
    size_t spare = fileLimit > held ? fileLimit - held : 0;
    most_ = std::clamp<size_t>(spare / 2, 1, maxThreads);
  }
  count_ = std::min(std::max<size_t>(processors, 1), most_);
}

CopyThreads CopyThreads::fixed(size_t threads) {
  CopyThreads plan;
  plan.count_ = plan.most_ = std::clamp<size_t>(threads, 1, maxThreads);
  plan.fixed_ = true;
  return plan;
}

bool CopyThreads::observe(uint64_t busy, uint64_t used, uint64_t work, uint64_t now) {
  if (!measuring()) return false;
  if (since_ == 0) {
    since_ = now;
    workSince_ = work;
    return false;
  }
  busy_ += busy;
  used_ += std::min(used, busy);
  if (now - since_ < decisionTime || busy_ < decisionBusy) return false;
  const double rate = static_cast<double>(work - workSince_) / static_cast<double>(now - since_);
  // Copies that run, or wait only for a processor, half of their time or more would only
  // take turns on the processors with more of them.
  const bool waiting = used_ * 2 < busy_;
  busy_ = used_ = 0;
  since_ = now;
  workSince_ = work;
  const size_t counted = count_;
  if (trial_ && rate * 4 < rateBefore_ * 5) {
    count_ = before_;
    pausedUntil_ = now + pause_;
    pause_ *= 2;
  }
  trial_ = false;
  if (now >= pausedUntil_ && waiting && count_ < most_) {
    before_ = count_;
    rateBefore_ = rate;
    count_ = std::min(count_ * 2, most_);
    trial_ = true;
  }
  return count_ != counted;
}

}  // namespace tolvex
