// Extracts arbitrary bytes as one archive, the way the driver does (openArchive on a file),
// in a private scratch directory:
//   <scratch>/sentinel, <scratch>/work/sentinel   files outside the output root
//   <scratch>/work/archive                         the input
//   <scratch>/work/tolvex/                         the output root
// After every input, anything changed outside the output root (the archive included) is a
// finding, and so is anything below it that the archive does not describe or a file that
// holds more or other bytes than the archive's at its entry (see checkExtraction). The
// output root is then removed. Standard output goes nowhere, for speed.

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "archive/process_archive.h"
#include "cli/driver.h"
#include "console/console.h"
#include "disk_tree.h"
#include "extraction_check.h"
#include "test_files.h"

namespace {

// Swallows everything the program prints.
class NullSink final : public tolvex::ConsoleSink {
 public:
  void write(const char*, size_t) override {}
};

NullSink nullSink;
std::string scratch;

void removeScratch() {
  if (!scratch.empty() && chdir("/") == 0) tolvex::removeTree(scratch);
}

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "process_archive finding: %s\n", what.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::error_code error;
  std::string pattern =
      (std::filesystem::temp_directory_path(error) / "tolvex-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) finding("no scratch directory");
  scratch = pattern;
  std::atexit(removeScratch);
  if (chdir(scratch.c_str()) != 0 || mkdir("work", 0777) != 0 || chdir("work") != 0)
    finding("no working directory");
  tolvex::writeFile("../sentinel", "unmodified above");
  tolvex::writeFile("sentinel", "unmodified beside");
  tolvex::setConsoleSink(&nullSink, false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive(reinterpret_cast<const char*>(data), size);
  const std::set<std::string> outputRoot = {std::string("work/") + tolvex::OUTPUT_ROOT};
  tolvex::writeFile("archive", archive);
  const tolvex::TreeSnapshot before = tolvex::snapshotTree(scratch, outputRoot);
  tolvex::openArchive("archive");
  std::string changes = tolvex::describeChanges(before, tolvex::snapshotTree(scratch, outputRoot));
  if (!changes.empty()) finding("changed outside the output root:\n" + changes);
  std::string fault = tolvex::checkExtraction(archive, tolvex::OUTPUT_ROOT);
  if (!fault.empty()) finding(fault);
  if (!tolvex::removeTree(tolvex::OUTPUT_ROOT)) finding("cannot remove the output root");
  return 0;
}
