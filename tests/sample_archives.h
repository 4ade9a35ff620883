#ifndef TOLVEX_TESTS_SAMPLE_ARCHIVES_H_
#define TOLVEX_TESTS_SAMPLE_ARCHIVES_H_

#include <string>
#include <vector>

#include "archive_builder.h"

namespace tolvex {

// Small archives that the hostile-archive tests cut and mutate and that seed the fuzz
// corpora. In each, the last file in extraction order is not empty and its bytes end the
// archive, so any cut inside the data region fails some file.
struct SampleArchive {
  const char* name;
  ArchiveBuilder builder;
};

inline std::vector<SampleArchive> sampleArchives() {
  std::vector<SampleArchive> samples(3);

  samples[0].name = "nested_directories";
  ArchiveBuilder& nested = samples[0].builder;
  nested.addFile("a/b/c/deep.txt", "deep down");
  nested.addFile("a/b/mid.txt", "middle");
  nested.addDirectory("a/b/empty");
  nested.addFile("a/top.txt", "top");
  nested.addFile("z.txt", "last file");

  samples[1].name = "empty_file";
  ArchiveBuilder& empty = samples[1].builder;
  empty.addFile("a", "1");
  empty.addFile("b", "");
  empty.addFile("c", "end");

  samples[2].name = "chunk_crossing";
  ArchiveBuilder& crossing = samples[2].builder;
  std::string big(2500, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7 + 3);
  crossing.addFile("big.bin", big);
  crossing.addFile("tail", "xyz");

  return samples;
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_SAMPLE_ARCHIVES_H_
