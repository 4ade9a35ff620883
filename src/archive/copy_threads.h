#ifndef TOLVEX_ARCHIVE_COPY_THREADS_H_
#define TOLVEX_ARCHIVE_COPY_THREADS_H_

#include <cstddef>
#include <cstdint>

namespace tolvex {

// How many threads make entries at once (the walking one among them): one copy in flight
// each.
// - As many as the processors the program may run on, while copies keep them busy: more
//   would only take turns on them.
// - More, doubling up to maxThreads, while copies spend most of their time waiting (a file
//   system that makes each file wait: a network, FUSE, an on-access scanner): threads
//   report how long they were busy making entries and, of that, how long they ran or were
//   ready to run, waiting only for a processor; while that is less than half of their busy
//   time, the count doubles. Once the copies keep the processors busy, they wait for them
//   more, and the count stays; so it does when other programs keep the processors busy.
//   The count never shrinks: a thread too many only waits.
// - Fewer when the limit of open files is short: each copy holds its file and its
//   directory open, beside the directories the walk keeps open.
// Not thread-safe: its owner serialises the calls.
class CopyThreads {
 public:
  static constexpr size_t maxThreads = 16;

  // Chooses for itself, for `processors` (at least 1) under a limit of `fileLimit` open
  // files (0: none), of which the output directories may hold `directoryBudget`.
  CopyThreads(size_t processors, size_t fileLimit, size_t directoryBudget);
  // Exactly `threads` (1 to maxThreads), whatever is measured: for tests and benchmarks.
  static CopyThreads fixed(size_t threads);

  // How many threads may make entries now.
  size_t count() const { return count_; }
  // Whether the count may still grow, so that measuring is worth it.
  bool mayGrow() const { return count_ < most_; }

  // What a thread measured over a stretch of its work: `busy` nanoseconds of wall time
  // spent making entries, of which it ran or was ready to run for `used` nanoseconds.
  // True when the count grew.
  bool observe(uint64_t busy, uint64_t used);

 private:
  CopyThreads() = default;

  size_t count_ = 1;
  size_t most_ = 1;
  uint64_t busy_ = 0;  // since the last decision, summed over the threads
  uint64_t used_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_COPY_THREADS_H_
