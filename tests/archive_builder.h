#ifndef TOLVEX_TESTS_ARCHIVE_BUILDER_H_
#define TOLVEX_TESTS_ARCHIVE_BUILDER_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "json/json_value.h"

namespace tolvex {

// Archive bytes for tests, the packer and the benchmark. An archive is four 32-bit
// little-endian numbers (4, header block size B = H + 4, header payload size H = text
// length rounded up to a multiple of 4, plus 4, text length L), the header text, padding
// to a multiple of 4, then the data region that file offsets count from.

// The values as 32-bit little-endian fields, one after the other.
std::string le32(std::initializer_list<uint32_t> values);

// The valid 16-byte prefix for a header text of `textLength` bytes.
std::string validPrefix(uint32_t textLength);

// A whole archive around `headerText`: the valid prefix, the text, its zero padding
// (left out when `pad` is false) and `data` as the data region.
std::string archiveFromHeader(const std::string& headerText, const std::string& data = "",
                              bool pad = true);

// Writes at `path` an archive of one file of `size` bytes of zeros, named `first`, then
// `count` small files ("z10000" on, 10 bytes each); sparse, so that a large size costs no
// disk. False when it cannot be written.
bool writeArchiveWithLargeFile(const std::string& path, const std::string& first, uint64_t size,
                               int count);

// The progress line of a file of `size` bytes at `path` that was copied whole.
std::string okLine(const std::string& path, uint64_t size);

// `bytes` as a JSON string literal: quotation mark, backslash and control bytes escaped,
// every other byte as it is.
std::string jsonQuoted(const std::string& bytes);

// A directory tree described in memory or taken from disk, written out as an archive.
// Files are laid out in the data region in the order extraction visits them (keys in
// ascending byte order, depth first), offsets as decimal strings, sizes as numbers.
class ArchiveBuilder {
 public:
  // Paths are keys joined with '/'; missing parents are added as directories.
  void addDirectory(const std::string& path);
  void addFile(const std::string& path, const std::string& contents);
  // A file whose `size` bytes are copied from `sourcePath` when the archive is written.
  void addFileFromDisk(const std::string& path, const std::string& sourcePath, uint64_t size);
  // Adds every directory and regular file below `directory` (other kinds are left out).
  // False when part of it cannot be read.
  bool addTree(const std::string& directory);

  // An entry as extraction visits them (keys in ascending byte order, depth first, a
  // directory before what it holds), its path from `root` on.
  struct Entry {
    std::string path;
    bool isDirectory = false;
    std::string contents;  // a file's, when it is held in memory
    uint64_t size = 0;
  };
  std::vector<Entry> entries(const std::string& root = "tolvex") const;

  std::string headerText() const;
  // The header's "files" value as the JSON parser builds it from headerText(), held by
  // `document`.
  const JsonValue& filesValue(JsonDocument& document) const;
  // The whole archive in memory.
  std::string build() const;
  // The whole archive written to `archivePath`, file contents streamed; false on failure.
  bool writeTo(const std::string& archivePath) const;

 private:
  struct Node {
    bool isFile = false;
    std::string contents;
    std::string sourcePath;  // when not empty, the contents come from this file
    uint64_t size = 0;
    std::map<std::string, Node> children;
  };

  Node& entryAt(const std::string& path);

  Node root_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_ARCHIVE_BUILDER_H_
