#ifndef TOLVEX_ARCHIVE_EXTRACT_TREE_H_
#define TOLVEX_ARCHIVE_EXTRACT_TREE_H_

#include <cstdint>
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

// A file entry's offset into the data region: the text of the JsonString `offset` up to its
// first NUL, read as a base-10 number the way strtoull reads it (leading white space and
// one sign accepted, digits up to the first other byte, none gives 0, too large gives
// 2^64-1, "-" negates modulo 2^64).
uint64_t offsetFromText(const JsonValue& offset);

// A file entry's byte count from the JsonNumber `size`: the low 32 bits of the 64-bit
// integer it holds; a Real is rounded down first, and one outside the signed 64-bit range
// (infinities and NaN included) gives 0.
uint32_t countFromSize(const JsonValue& size);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_EXTRACT_TREE_H_
