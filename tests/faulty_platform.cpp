#include "faulty_platform.h"

#include <errno.h>

namespace tolvex {

bool FaultCounter::fails(const std::string& call, const std::string& file) {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t n = ++counts_[call];
  if (fault_.occurrence == 0 || fault_.call != call) return false;
  if (!fault_.file.empty()) {
    if (file != fault_.file) return false;
    n = ++namedWrites_;
  }
  return fault_.fromThereOn ? n >= fault_.occurrence : n == fault_.occurrence;
}

void failAsCounted(ScriptedFileSystem& files, FaultCounter& counter) {
  files.script = [&counter](const std::string& call, const std::string& name) {
    if (!counter.fails(call, call == "write" ? name : "")) return FsStatus::Ok;
    const int error = counter.fault().error;
    if ((error == ENOSPC || error == EDQUOT) &&
        (call == "makeDirectory" || call == "createFile" || call == "write"))
      return FsStatus::NoSpace;
    if ((error == EMFILE || error == ENFILE) &&
        (call == "openRoot" || call == "openDirectory" || call == "createFile"))
      return FsStatus::NoDescriptors;
    return FsStatus::Failed;
  };
}

bool FaultyByteSource::read(char* buffer, uint32_t count, uint32_t& got) {
  if (counter_.fails("read")) return false;
  return next_.read(buffer, count, got);
}

uint32_t FaultyByteSource::view(uint32_t count, const char*& data) {
  bool fails = counter_.fails("view");
  uint32_t delivered = next_.view(count, data);
  return fails ? delivered / 2 : delivered;
}

}  // namespace tolvex
