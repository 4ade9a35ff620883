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
  processors_ = std::max<size_t>(processors, 1);
  most_ = maxThreads;
  if (fileLimit > 0) {
    // Each copy: its file, and its directory when the cache has closed that.
    size_t spare = fileLimit > fixedDescriptors + directoryBudget
                       ? fileLimit - fixedDescriptors - directoryBudget
                       : 0;
    most_ = std::clamp<size_t>(spare / 2, 1, maxThreads);
  }
  count_ = std::min(processors_, most_);
}

CopyThreads CopyThreads::fixed(size_t threads) {
  CopyThreads plan;
  plan.count_ = plan.most_ = plan.processors_ = std::clamp<size_t>(threads, 1, maxThreads);
  return plan;
}

bool CopyThreads::observe(uint64_t busy, uint64_t used) {
  if (!mayGrow()) return false;
  busy_ += busy;
  used_ += std::min(used, busy);
  if (busy_ < decisionBusy) return false;
  // The processors that the copies keep busy, all together: the share of its busy time a
  // copy spends on a processor, times the copies in flight.
  const double demand =
      static_cast<double>(count_) * static_cast<double>(used_) / static_cast<double>(busy_);
  busy_ = used_ = 0;
  if (demand >= static_cast<double>(processors_) / 2) return false;
  count_ = std::min(count_ * 2, most_);
  return true;
}

}  // namespace tolvex
