#ifndef TOLVEX_TESTS_FAULT_SCENARIOS_H_
#define TOLVEX_TESTS_FAULT_SCENARIOS_H_

#include <sys/stat.h>

#include <string>
#include <vector>

#include "archive_builder.h"
#include "extraction_check.h"
#include "test_files.h"

namespace tolvex {

// The archives and output trees that the fault runs (in-process and of the built program)
// extract while one call after another fails.

inline std::string faultPattern(size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 1024) & 0xFF);
  return bytes;
}

// A tree with files of every size class: empty, a few bytes, a few pieces, many pieces
// (more than one 256 KiB window), in nested directories, and an empty directory.
inline const std::string& mixedArchive() {
  static const std::string archive = [] {
    ArchiveBuilder builder;
    builder.addFile("big.bin", faultPattern(300000, 1));
    builder.addFile("d1/a.txt", "ten bytes!");
    builder.addFile("d1/b.bin", faultPattern(5000, 2));
    builder.addFile("d1/sub/c.txt", "c");
    builder.addFile("d1/sub/empty", "");
    builder.addFile("d2/x.bin", faultPattern(2048, 3));
    builder.addFile("d2/y.txt", "why");
    builder.addDirectory("e");
    builder.addFile("z.txt", faultPattern(700, 4));
    return builder.build();
  }();
  return archive;
}

// Overlaps the mixed tree with other bytes, and adds to it.
inline const std::string& secondArchive() {
  static const std::string archive = [] {
    ArchiveBuilder builder;
    builder.addFile("d1/a.txt", "second a");
    builder.addFile("new/n.bin", faultPattern(3000, 5));
    builder.addFile("z.txt", "second z");
    return builder.build();
  }();
  return archive;
}

// The names that the files of `archive` with any bytes are created under, for faults in
// one file's writes.
inline std::vector<std::string> fileNames(const std::string& archive) {
  std::vector<std::string> names;
  std::vector<WalkEntry> entries;
  walkArchive(archive, entries);
  for (const WalkEntry& entry : entries)
    if (!entry.isDirectory && entry.count > 0)
      names.push_back(entry.path.substr(entry.path.rfind('/') + 1));
  return names;
}

// Every file of the mixed tree already there with other bytes, a file of no archive's,
// and an empty directory that the archive also makes: a run replaces the files, leaves
// the rest, and never removes what it did not make.
inline void fillOutputDirectory() {
  std::vector<WalkEntry> entries;
  walkArchive(mixedArchive(), entries);
  mkdir("tolvex", 0777);
  for (const WalkEntry& entry : entries) {
    if (entry.isDirectory)
      mkdir(entry.path.c_str(), 0777);
    else
      writeFile(entry.path, "old " + entry.path);
  }
  writeFile("tolvex/keep.txt", "no archive has it");
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_FAULT_SCENARIOS_H_
