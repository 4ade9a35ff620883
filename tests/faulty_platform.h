#ifndef TOLVEX_TESTS_FAULTY_PLATFORM_H_
#define TOLVEX_TESTS_FAULTY_PLATFORM_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "archive/byte_source.h"
#include "fault_scenarios.h"
#include "forwarding_file_system.h"

namespace tolvex {

// The calls of the platform layer that an extraction makes, as the in-process fault runs
// count and fail them: the file system's, and the archive's reads.
enum class PlatformCall {
  OpenRoot,
  MakeDirectory,
  OpenDirectory,
  Identify,
  CreateFile,
  KindOf,
  RemoveFile,
  RemoveDirectory,
  Write,
  Close,
  Read,
  View,
};
constexpr int platformCallCount = 12;

const char* callName(PlatformCall call);

// Counts calls by kind and decides which fail; shared by a file system and the sources of
// one run, safe for both threads.
class FaultCounter {
 public:
  explicit FaultCounter(Fault fault = Fault()) : fault_(std::move(fault)) {}

  // True when this call must fail. `file` names the written file for writes.
  bool fails(PlatformCall call, const std::string& file = "");
  uint64_t count(PlatformCall call) const { return counts_[static_cast<int>(call)]; }
  uint64_t failed() const { return failed_; }
  const Fault& fault() const { return fault_; }

 private:
  const Fault fault_;
  std::atomic<uint64_t> counts_[platformCallCount] = {};
  std::atomic<uint64_t> namedWrites_{0};
  std::atomic<uint64_t> failed_{0};
};

// The system's file system, failing as its counter decides, with the status that the
// fault's error stands for when the call can report it (else Failed). A failed write takes
// half of what it was given first; a failed close closes all the same.
class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  explicit FaultyFileSystem(FaultCounter& counter) : counter_(counter) {}

  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override;
  FsStatus makeDirectory(const Handle& parent, const std::string& name) override;
  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override;
  bool identify(const Handle& directory, DirectoryId& id) override;
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override;
  NodeKind kindOf(const Handle& parent, const std::string& name) override;
  bool removeFile(const Handle& parent, const std::string& name) override;
  bool removeDirectory(const Handle& parent, const std::string& name) override;
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override;
  bool close(Handle& file) override;

 private:
  // Failures other than the ones a call can report are reported as Failed.
  FsStatus failure(std::initializer_list<FsStatus> possible) const;

  FaultCounter& counter_;
  std::mutex mutex_;
  std::map<intptr_t, std::string> names_;  // open files by handle, for faults of one file
};

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
