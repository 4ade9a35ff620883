#ifndef TOLVEX_TESTS_MEMORY_EXTRACTION_H_
#define TOLVEX_TESTS_MEMORY_EXTRACTION_H_

#include <gtest/gtest.h>

#include <string>

#include "archive/extract_tree.h"
#include "archive/header_prefix.h"
#include "json/json_value.h"
#include "memory_byte_source.h"
#include "output_capture.h"
#include "platform/platform.h"

namespace tolvex {

// What an extraction printed, and whether it went to its end.
struct Extraction {
  std::string output;
  bool ok;
};

// Extracts the tree `files` over the data region of `archive` (bytes in memory) into
// ./tolvex through `fileSystem`, printing into `output`, with `threads` threads making the
// entries (one: one entry after the other).
inline Extraction extractInMemory(const std::string& archive, const JsonValue& files,
                                  size_t threads, FileSystem& fileSystem, OutputCapture& output) {
  MemoryByteSource source(archive);
  MadeSources copySources([&archive] { return std::make_unique<MemoryByteSource>(archive); });
  ArchiveContext context{source, 0, &copySources, threads};
  JsonDocument header;
  EXPECT_TRUE(readHeader(context, header));
  bool ok = extractTree(context, "tolvex", files, fileSystem);
  return {output.text(), ok};
}

inline Extraction extractInMemory(const std::string& archive, const JsonValue& files,
                                  size_t threads, FileSystem& fileSystem = nativeFileSystem()) {
  OutputCapture output;
  return extractInMemory(archive, files, threads, fileSystem, output);
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_MEMORY_EXTRACTION_H_
