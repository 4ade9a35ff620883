#ifndef TOLVEX_ARCHIVE_COPY_THREADS_H_
#define TOLVEX_ARCHIVE_COPY_THREADS_H_

#include <cstddef>
#include <cstdint>

namespace tolvex {

// How many threads make entries at once (the walking one among them): one copy in flight
// each.
// - As many as the processors the program may run on, to begin with: while copies keep
//   the processors busy, more would only take turns on them.
// - More, doubling up to maxThreads, while copies spend most of their time waiting for
//   something other than a processor (a file system that makes each file wait: a network,
//   an on-access scanner), and as long as each doubling pays. Threads report how long they
//   were busy making entries and, of that, how long they ran or were ready to run, waiting
//   only for a processor: while that is less than half of their busy time, the count
//   doubles on trial. A trial that does not make the work done in a while grow by a
//   quarter (a file system whose own daemon needs the processors, as FUSE's does) is
//   taken back, and the count stays where it was for a second, then two, four, and so on
//   after each trial that fails again: trials cost ever less of the run, and a file system
//   that slows down later is still seen. The count stays too while copies keep the
//   processors busy, or other programs do.
// - Fewer when the limit of open files is short: each copy holds its file and its
//   directory open, beside the directories the walk keeps open.
// Not thread-safe: its owner serialises the calls.
class CopyThreads {
 public:
  static constexpr size_t maxThreads = 16;

  // Chooses for itself, for `processors` (at least 1) under a limit of `fileLimit` open
  // files (0: none), of which the output directories may hold their budget
  // (directoryBudget).
  CopyThreads(size_t processors, size_t fileLimit);
  // Exactly `threads` (1 to maxThreads), whatever is measured: for tests and benchmarks.
  static CopyThreads fixed(size_t threads);

  // How many threads may make entries now.
  size_t count() const { return count_; }
  // Whether the count may still change, so that measuring is worth it.
  bool measuring() const { return trial_ || (!fixed_ && count_ < most_); }

  // What a thread measured over a stretch of its work: `busy` nanoseconds of wall time
  // spent making entries, of which it ran or was ready to run for `used` nanoseconds; and,
  // at `now` (nanoseconds of a steady clock), the `work` all threads have done so far
  // (entries made, and pieces copied). True when the count changed.
  bool observe(uint64_t busy, uint64_t used, uint64_t work, uint64_t now);

 private:
  CopyThreads() = default;

  size_t count_ = 1;
  size_t most_ = 1;
  bool fixed_ = false;
  bool trial_ = false;                             // the count was doubled at the last decision
  uint64_t pausedUntil_ = 0;                       // no trial before then, since one did not pay
  uint64_t pause_ = uint64_t{1000} * 1000 * 1000;  // how long the next trial that fails pauses
  size_t before_ = 1;                              // the count before the trial
  double rateBefore_ = 0;                          // the work done per nanosecond before the trial
  // Since the last decision.
  uint64_t busy_ = 0;  // summed over the threads
  uint64_t used_ = 0;
  uint64_t since_ = 0;  // the time of the last decision (0: none yet)
  uint64_t workSince_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_COPY_THREADS_H_
