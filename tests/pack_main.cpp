// tolvex_pack <directory> <out.asar>: packs the directories and regular files below
// <directory> into an archive, keys being the names, for tests, the benchmark and demos.

#include <cstdio>

#include "archive_builder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tolvex_pack <directory> <out.asar>\n");
    return 2;
  }
  tolvex::ArchiveBuilder builder;
  if (!builder.addTree(argv[1])) {
    std::fprintf(stderr, "tolvex_pack: cannot read the tree %s\n", argv[1]);
    return 1;
  }
  if (!builder.writeTo(argv[2])) {
    std::fprintf(stderr, "tolvex_pack: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
