#ifndef TOLVEX_ARCHIVE_EXTRACT_TREE_H_
#define TOLVEX_ARCHIVE_EXTRACT_TREE_H_

#include <string>

#include "platform/platform.h"

namespace tolvex {

struct ArchiveContext;
class JsonValue;

// Recreates the tree that `node` (a header's "files" value) describes in the directory
// `path`, which is made first when `node` is an object; a node of any other kind makes
// nothing and succeeds. Members are visited in ascending key order, depth first, each
// directory made before its contents; every file entry prints its progress line. What is
// printed and made is that of making one entry after the other, though a second thread
// copies files ahead of the walk when `context` has a second source (see CopyScheduler).
// `path` itself may be or pass through a symbolic link; nothing below it is followed. A
// member whose key is not a plain component (isPlainComponent), or that `files` does not
// take (FileSystem::takesName), and that would create something fails like a file that
// cannot be created, and makes nothing. Returns false at
// the first failed entry, leaving the rest unmade and what was made before in place, or
// when the program is interrupted. Borrows `node` for the call; makes the tree through
// `files`.
bool extractTree(ArchiveContext& context, const std::string& path, const JsonValue& node,
                 FileSystem& files = nativeFileSystem());

// True when `key` is exactly one plain path component, so that a path joined from it
// cannot name anything outside its parent: not empty, "." or "..", and without "/", "\"
// or a NUL byte.
bool isPlainComponent(const std::string& key);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_EXTRACT_TREE_H_
