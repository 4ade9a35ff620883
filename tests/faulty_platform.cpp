#include "faulty_platform.h"

#include <errno.h>

#include <algorithm>

namespace tolvex {

const char* callName(PlatformCall call) {
  static const char* const names[platformCallCount] = {
      "openRoot",   "makeDirectory",   "openDirectory", "identify", "createFile", "kindOf",
      "removeFile", "removeDirectory", "write",         "close",    "read",       "view"};
  return names[static_cast<int>(call)];
}

bool FaultCounter::fails(PlatformCall call, const std::string& file) {
  uint64_t n = ++counts_[static_cast<int>(call)];
  if (fault_.occurrence == 0 || fault_.call != callName(call)) return false;
  if (!fault_.file.empty()) {
    if (file != fault_.file) return false;
    n = ++namedWrites_;
  }
  if (fault_.fromThereOn ? n < fault_.occurrence : n != fault_.occurrence) return false;
  ++failed_;
  return true;
}

FsStatus FaultyFileSystem::failure(std::initializer_list<FsStatus> possible) const {
  const int error = counter_.fault().error;
  FsStatus wanted = error == ENOSPC || error == EDQUOT   ? FsStatus::NoSpace
                    : error == EMFILE || error == ENFILE ? FsStatus::NoDescriptors
                                                         : FsStatus::Failed;
  return std::find(possible.begin(), possible.end(), wanted) != possible.end() ? wanted
                                                                               : FsStatus::Failed;
}

FsStatus FaultyFileSystem::openRoot(const std::string& path, Handle& root, DirectoryId& id) {
  if (counter_.fails(PlatformCall::OpenRoot)) return failure({FsStatus::NoDescriptors});
  return real_.openRoot(path, root, id);
}

FsStatus FaultyFileSystem::makeDirectory(const Handle& parent, const std::string& name) {
  if (counter_.fails(PlatformCall::MakeDirectory)) return failure({FsStatus::NoSpace});
  return real_.makeDirectory(parent, name);
}

FsStatus FaultyFileSystem::openDirectory(const Handle& parent, const std::string& name,
                                         Handle& directory, DirectoryId* id) {
  if (counter_.fails(PlatformCall::OpenDirectory)) return failure({FsStatus::NoDescriptors});
  return real_.openDirectory(parent, name, directory, id);
}

bool FaultyFileSystem::identify(const Handle& directory, DirectoryId& id) {
  return !counter_.fails(PlatformCall::Identify) && real_.identify(directory, id);
}

FsStatus FaultyFileSystem::createFile(const Handle& parent, const std::string& name, Handle& file) {
  if (counter_.fails(PlatformCall::CreateFile))
    return failure({FsStatus::NoDescriptors, FsStatus::NoSpace});
  FsStatus status = real_.createFile(parent, name, file);
  if (status == FsStatus::Ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    names_[file.value()] = name;
  }
  return status;
}

NodeKind FaultyFileSystem::kindOf(const Handle& parent, const std::string& name) {
  if (counter_.fails(PlatformCall::KindOf)) return NodeKind::Other;
  return real_.kindOf(parent, name);
}

bool FaultyFileSystem::removeFile(const Handle& parent, const std::string& name) {
  return !counter_.fails(PlatformCall::RemoveFile) && real_.removeFile(parent, name);
}

bool FaultyFileSystem::removeDirectory(const Handle& parent, const std::string& name) {
  return !counter_.fails(PlatformCall::RemoveDirectory) && real_.removeDirectory(parent, name);
}

FsStatus FaultyFileSystem::write(const Handle& file, const char* bytes, size_t count,
                                 size_t& written) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = names_.find(file.value());
    if (found != names_.end()) name = found->second;
  }
  if (!counter_.fails(PlatformCall::Write, name)) return real_.write(file, bytes, count, written);
  FsStatus taken = real_.write(file, bytes, count / 2, written);
  return taken != FsStatus::Ok ? taken : failure({FsStatus::NoSpace});
}

bool FaultyFileSystem::close(Handle& file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    names_.erase(file.value());
  }
  bool fails = counter_.fails(PlatformCall::Close);
  return real_.close(file) && !fails;
}

bool FaultyByteSource::read(char* buffer, uint32_t count, uint32_t& got) {
  if (counter_.fails(PlatformCall::Read)) return false;
  return next_.read(buffer, count, got);
}

uint32_t FaultyByteSource::view(uint32_t count, const char*& data) {
  bool fails = counter_.fails(PlatformCall::View);
  uint32_t delivered = next_.view(count, data);
  return fails ? delivered / 2 : delivered;
}

}  // namespace tolvex
