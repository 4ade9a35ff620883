#ifndef TOLVEX_TESTS_EXTRACTION_CHECK_H_
#define TOLVEX_TESTS_EXTRACTION_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tolvex {

// One entry of an archive's tree, as extraction visits it: keys in ascending byte order,
// depth first, a directory before what it holds.
struct WalkEntry {
  std::string path;  // from the output root on: "tolvex/a/b"
  bool isDirectory = false;
  bool isPlain = true;  // its key is one plain path component
  uint32_t count = 0;   // a file's size
  std::string bytes;    // a file's bytes as the archive holds them (fewer when it runs short)
};

// The entries of `archive` that make something (directories whose "files" member is an
// object, file entries), in walk order. False when the archive describes no tree (its
// prefix, its header or its "files" member is not one), so that nothing at all is made.
bool walkArchive(const std::string& archive, std::vector<WalkEntry>& entries);

// Judges what extracting the archive `archive` (its bytes, whatever they are) left in the
// output root `root`, a directory of the working directory that did not exist before. What
// may be there follows from the archive alone:
// - nothing at all when the prefix is broken, the header text is empty or cut short, the
//   header does not parse, or its "files" member is not an object;
// - otherwise the root directory, and below it only directories and regular files that
//   the header describes, each under a plain key: a directory for a directory entry whose
//   "files" member is an object, a file for a file entry;
// - a file holds a prefix of the entry's bytes, exactly as the archive has them at the
//   data region's start plus the entry's offset: all `count` bytes, or a whole number of
//   1024-byte chunks when the copy stopped early; never more, never other bytes.
// Anything may be missing (the walk stops at the first failed entry). Returns "" when all
// holds, or a description of the first fault found.
std::string checkExtraction(const std::string& archive, const std::string& root);

}  // namespace tolvex

#endif  // TOLVEX_TESTS_EXTRACTION_CHECK_H_
