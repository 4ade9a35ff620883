#include "archive/copy_threads.h"

#include <algorithm>

namespace tolvex {
namespace {

// Descriptors the program holds besides those of the copies and the output directories:
// standard input, output and error, and the archive.
constexpr size_t fixedDescriptors = 4;

// How much busy time, summed over the threads, one decision rests on: enough copies that
// one slow file does not decide, soon enough that a slow file system is seen early on.
constexpr uint64_t decisionBusy = 20 * 1000 * 1000;

}  // namespace

CopyThreads::CopyThreads(size_t processors, size_t fileLimit, size_t directoryBudget) {
  most_ = maxThreads;
  if (fileLimit > 0) {
    // Each copy: its file, and its directory when the cache has closed that.
    size_t spare = fileLimit > fixedDescriptors + directoryBudget
                       ? fileLimit - fixedDescriptors - directoryBudget
                       : 0;
    most_ = std::clamp<size_t>(spare / 2, 1, maxThreads);
  }
  count_ = std::min(std::max<size_t>(processors, 1), most_);
}

CopyThreads CopyThreads::fixed(size_t threads) {
  CopyThreads plan;
  plan.count_ = plan.most_ = std::clamp<size_t>(threads, 1, maxThreads);
  return plan;
}

bool CopyThreads::observe(uint64_t busy, uint64_t used) {
  if (!mayGrow()) return false;
  busy_ += busy;
  used_ += std::min(used, busy);
  if (busy_ < decisionBusy) return false;
  // Copies that run, or wait only for a processor, half of their time or more would only
  // take turns on the processors with more of them.
  const bool waiting = used_ * 2 < busy_;
  busy_ = used_ = 0;
  if (!waiting) return false;
  count_ = std::min(count_ * 2, most_);
  return true;
}

}  // namespace tolvex
