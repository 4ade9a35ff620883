// Trees on disk for the Windows tests: the same readings as disk_tree.cpp gives on POSIX
// systems, through the standard library's file system, names in UTF-8.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "disk_tree.h"

namespace tolvex {
namespace {

namespace fs = std::filesystem;

std::string describe(const fs::directory_entry& entry) {
  std::error_code error;
  if (entry.is_symlink(error)) return "link:" + fs::read_symlink(entry.path(), error).u8string();
  if (entry.is_directory(error)) return "dir";
  if (!entry.is_regular_file(error)) return "other";
  std::ifstream in(entry.path(), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return "file:" + bytes.str();
}

}  // namespace

bool removeTree(const std::string& path) {
  std::error_code error;
  fs::remove_all(fs::u8path(path), error);
  return !error;
}

TreeSnapshot snapshotTree(const std::string& directory, const std::set<std::string>& skip) {
  TreeSnapshot snapshot;
  std::error_code error;
  const fs::path top = fs::u8path(directory);
  if (!fs::is_directory(fs::symlink_status(top, error))) {
    snapshot["*"] = "missing";
    return snapshot;
  }
  for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
       it.increment(error)) {
    std::string path = it->path().lexically_relative(top).generic_u8string();
    if (skip.count(path) != 0) {
      it.disable_recursion_pending();
      continue;
    }
    snapshot[path] = describe(*it);
  }
  return snapshot;
}

}  // namespace tolvex
