// Extraction on the Windows file system itself, which folds case: two threads must leave
// what making one entry after the other leaves, the spelling made first staying on disk.

#include <gtest/gtest.h>

#include "folded_names.h"
#include "platform/platform.h"

namespace tolvex {
namespace {

TEST(WindowsExtraction, FoldedNamesGiveTheOneByOneOutcome) {
  ScriptedFileSystem files;
  slowFirstFile(files);
  expectFoldedNamesOneByOne(files, 10);
}

}  // namespace
}  // namespace tolvex
