#ifndef TOLVEX_TESTS_FAULTY_PLATFORM_H_
#define TOLVEX_TESTS_FAULTY_PLATFORM_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "archive/byte_source.h"
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

// One call to fail: the `occurrence`th of `call` (counted from 1 over both threads), or
// every one from there on; for writes, only those to the file created as `name` when it
// is not empty. `status` is what a failed file system call reports.
struct PlatformFault {
  PlatformCall call = PlatformCall::OpenRoot;
  uint64_t occurrence = 0;  // 0: no fault
  bool fromThereOn = false;
  std::string name;
  FsStatus status = FsStatus::Failed;

  std::string describe() const;
};

// Counts calls by kind and decides which fail; shared by a file system and the sources of
// one run, safe for both threads.
class FaultCounter {
 public:
  explicit FaultCounter(PlatformFault fault = PlatformFault()) : fault_(std::move(fault)) {}

  // True when this call must fail. `file` names the written file for writes.
  bool fails(PlatformCall call, const std::string& file = "");
  uint64_t count(PlatformCall call) const { return counts_[static_cast<int>(call)]; }
  uint64_t failed() const { return failed_; }
  const PlatformFault& fault() const { return fault_; }

 private:
  const PlatformFault fault_;
  std::atomic<uint64_t> counts_[platformCallCount] = {};
  std::atomic<uint64_t> namedWrites_{0};
  std::atomic<uint64_t> failed_{0};
};

// The system's file system, failing as its counter decides. A failed write takes half of
// what it was given first; a failed close closes all the same.
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

// The sources of the other copying threads over the archive `file`, failing as counted.
class FaultySources final : public CopySources {
 public:
  FaultySources(const Handle& file, FaultCounter& counter) : file_(file), counter_(counter) {}

  ByteSource* source(size_t index) override {
    if (index < 1 || index > most) return nullptr;
    Made& made = made_[index - 1];
    if (!made.faulty) {
      made.file = std::make_unique<FileByteSource>(file_);
      made.faulty = std::make_unique<FaultyByteSource>(*made.file, counter_);
    }
    return made.faulty.get();
  }

 private:
  struct Made {
    std::unique_ptr<FileByteSource> file;
    std::unique_ptr<FaultyByteSource> faulty;
  };
  const Handle& file_;
  FaultCounter& counter_;
  Made made_[most];
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FAULTY_PLATFORM_H_
