#include "disk_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "unique_fd.h"

namespace tolvex {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

int openDirectoryAt(int parent, const std::string& name) {
  return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

bool listDirectory(int directory, std::vector<std::string>& names) {
  UniqueFd copy(dup(directory));
  if (copy.get() < 0) return false;
  DirPtr dir(fdopendir(copy.get()));
  if (!dir) return false;
  copy.release();        // the stream owns it now
  rewinddir(dir.get());  // the copy shares its position with `directory`
  while (const dirent* entry = readdir(dir.get())) {
    std::string name(entry->d_name);
    if (name != "." && name != "..") names.push_back(name);
  }
  return true;
}

namespace {

bool readAll(int fd, std::string& contents) {
  contents.clear();
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    contents.append(buffer, static_cast<size_t>(got));
  }
}

bool readFileAt(int parent, const std::string& name, std::string& contents) {
  UniqueFd fd(openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return fd.get() >= 0 && readAll(fd.get(), contents);
}

bool removeAt(int parent, const std::string& name) {
  struct stat status;
  if (fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(status.st_mode)) return unlinkat(parent, name.c_str(), 0) == 0;
  UniqueFd directory(openDirectoryAt(parent, name));
  std::vector<std::string> names;
  if (directory.get() < 0 || !listDirectory(directory.get(), names)) return false;
  bool ok = true;
  for (const std::string& child : names)
    ok = removeAt(directory.get(), child) && ok;
  return unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0 && ok;
}

std::string describe(int parent, const std::string& name, const struct stat& status) {
  if (S_ISDIR(status.st_mode)) return "dir";
  if (S_ISREG(status.st_mode)) {
    std::string contents;
    return readFileAt(parent, name, contents) ? "file:" + contents : "file (unreadable)";
  }
  if (S_ISLNK(status.st_mode)) {
    std::string target(4096, '\0');
    ssize_t length = readlinkat(parent, name.c_str(), target.data(), target.size());
    return "link:" + target.substr(0, length < 0 ? 0 : static_cast<size_t>(length));
  }
  return "other";
}

void snapshotAt(int directory, const std::string& prefix, const std::set<std::string>& skip,
                TreeSnapshot& snapshot) {
  std::vector<std::string> names;
  if (!listDirectory(directory, names)) {
    snapshot[prefix + "*"] = "unreadable";
    return;
  }
  for (const std::string& name : names) {
    std::string path = prefix + name;
    if (skip.count(path) != 0) continue;
    struct stat status;
    if (fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      snapshot[path] = "vanished";
      continue;
    }
    snapshot[path] = describe(directory, name, status);
    if (S_ISDIR(status.st_mode)) {
      UniqueFd child(openDirectoryAt(directory, name));
      if (child.get() >= 0) snapshotAt(child.get(), path + "/", skip, snapshot);
    }
  }
}

}  // namespace

bool removeTree(const std::string& path) {
  return removeAt(AT_FDCWD, path);
}

TreeSnapshot snapshotTree(const std::string& directory, const std::set<std::string>& skip) {
  TreeSnapshot snapshot;
  UniqueFd fd(openDirectoryAt(AT_FDCWD, directory));
  if (fd.get() < 0)
    snapshot["*"] = "missing";
  else
    snapshotAt(fd.get(), "", skip, snapshot);
  return snapshot;
}

bool readFileBelow(const std::string& path, std::string& contents) {
  UniqueFd directory(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  size_t start = 0;
  for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    if (directory.get() < 0) return false;
    directory.reset(openDirectoryAt(directory.get(), path.substr(start, slash - start)));
  }
  return directory.get() >= 0 && readFileAt(directory.get(), path.substr(start), contents);
}

}  // namespace tolvex
