#ifndef TOLVEX_TESTS_FAULTY_PLATFORM_H_
#define TOLVEX_TESTS_FAULTY_PLATFORM_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "archive/byte_source.h"
#include "fault_scenarios.h"
#include "scripted_file_system.h"

namespace tolvex {

// Counts the calls of the platform layer that a run in-process makes, by kind (the file
// system's, as ScriptedFileSystem names them, and the archive's reads, "read" and "view"),
// and decides which fail as `fault` says, counting from 1 over every thread; for writes
// `file` names the written file. Safe for every thread.
class FaultCounter {
 public:
  explicit FaultCounter(Fault fault = Fault()) : fault_(std::move(fault)) {}

  bool fails(const std::string& call, const std::string& file = "");
  std::map<std::string, uint64_t> counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }
  const Fault& fault() const { return fault_; }

 private:
  const Fault fault_;
  std::mutex mutex_;
  std::map<std::string, uint64_t> counts_;
  uint64_t namedWrites_ = 0;
};

// Makes `files` fail its calls as `counter` decides, with the status that the fault's error
// stands for when the call can report it (else Failed).
void failAsCounted(ScriptedFileSystem& files, FaultCounter& counter);

// A source that fails as its counter decides: a read fails, a view ends half way.
class FaultyByteSource final : public ByteSource {
 public:
  FaultyByteSource(ByteSource& next, FaultCounter& counter) : next_(next), counter_(counter) {}

  bool read(char* buffer, uint32_t count, uint32_t& got) override;
  void seek(uint64_t position) override { next_.seek(position); }
  bool bytesLeft(uint64_t& count) override { return next_.bytesLeft(count); }
  uint32_t view(uint32_t count, const char*& data) override;

 private:
  ByteSource& next_;
  FaultCounter& counter_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FAULTY_PLATFORM_H_
