#ifndef TOLVEX_TESTS_DISK_TREE_H_
#define TOLVEX_TESTS_DISK_TREE_H_

#include <map>
#include <set>
#include <string>
#include <vector>

namespace tolvex {

// Trees on disk, as every test reads them. On POSIX systems everything here works relative
// to directory descriptors, so paths longer than PATH_MAX and names of any bytes are
// handled, and no symbolic link is ever followed; on Windows (disk_tree_windows.cpp) the
// first three, with names in UTF-8.

// Removes `path` and everything below it; a link is removed, not followed. True when
// nothing is left (an absent path included).
bool removeTree(const std::string& path);

// Every entry below `directory`, by its path relative to `directory`, with a description
// of what it is: "dir", "file:" and the contents, "link:" and the target, or "other".
// Paths in `skip` are left out, with everything below them.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot snapshotTree(const std::string& directory, const std::set<std::string>& skip = {});

// "" when `after` equals `before`; otherwise one line per path that appeared, disappeared
// or changed.
inline std::string describeChanges(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::string changes;
  for (const auto& [path, what] : before) {
    auto found = after.find(path);
    if (found == after.end())
      changes += "gone: " + path + "\n";
    else if (found->second != what)
      changes += "changed: " + path + " (" + what + " -> " + found->second + ")\n";
  }
  for (const auto& [path, what] : after)
    if (before.count(path) == 0) changes += "new: " + path + " (" + what + ")\n";
  return changes;
}

// The names in the directory open as `directory` (borrowed), "." and ".." left out, in no
// particular order; false when it cannot be read.
bool listDirectory(int directory, std::vector<std::string>& names);

// The contents of the regular file at `path`, reached component by component without
// following links (so `path` may be longer than PATH_MAX). False when it is not there.
bool readFileBelow(const std::string& path, std::string& contents);

}  // namespace tolvex

#endif  // TOLVEX_TESTS_DISK_TREE_H_
