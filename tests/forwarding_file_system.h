#ifndef TOLVEX_TESTS_FORWARDING_FILE_SYSTEM_H_
#define TOLVEX_TESTS_FORWARDING_FILE_SYSTEM_H_

#include <string>

#include "platform/platform.h"

namespace tolvex {

// A FileSystem that hands every call to another one, the system's own unless told. Tests
// derive from it to change one or two calls: to make them fail or wait, or to fold names
// as some file systems do.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& next = nativeFileSystem()) : real_(next) {}

  bool takesName(const std::string& name) override { return real_.takesName(name); }
  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override {
    return real_.openRoot(path, root, id);
  }
  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    return real_.makeDirectory(parent, name);
  }
  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    return real_.openDirectory(parent, name, directory, id);
  }
  bool identify(const Handle& directory, DirectoryId& id) override {
    return real_.identify(directory, id);
  }
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    return real_.createFile(parent, name, file);
  }
  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    return real_.kindOf(parent, name);
  }
  bool mayFoldNames(const Handle& directory) override { return real_.mayFoldNames(directory); }
  bool removeFile(const Handle& parent, const std::string& name) override {
    return real_.removeFile(parent, name);
  }
  bool removeDirectory(const Handle& parent, const std::string& name) override {
    return real_.removeDirectory(parent, name);
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    return real_.write(file, bytes, count, written);
  }
  bool close(Handle& file) override { return real_.close(file); }

 protected:
  FileSystem& real_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FORWARDING_FILE_SYSTEM_H_
