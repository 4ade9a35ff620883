// Extracts arbitrary bytes as one archive, the way the driver does (openArchive on a file),
// in a private scratch directory:
//   <scratch>/sentinel, <scratch>/work/sentinel   files outside the output root
//   <scratch>/work/archive                         the input
//   <scratch>/work/tolvex/                         the output root
// After every input, anything changed outside the output root (the archive included) is a
// finding, and so is what it printed and left when it does not hold for any input: lines
// out of walk order, a file without its line or holding other than the archive's bytes as
// its line claims, anything left after a failed file (see checkExtraction). The output root
// is then removed. What is printed is kept in memory, for speed.

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

// Keeps what the program prints for the input at hand.
class Printed final : public tolvex::ConsoleSink {
 public:
  void write(const char* bytes, size_t count) override { text.append(bytes, count); }
  std::string text;
};

Printed printed;
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
  tolvex::setConsoleSink(&printed, false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string archive(reinterpret_cast<const char*>(data), size);
  const std::set<std::string> outputRoot = {std::string("work/") + tolvex::OUTPUT_ROOT};
  tolvex::writeFile("archive", archive);
  const tolvex::TreeSnapshot before = tolvex::snapshotTree(scratch, outputRoot);
  printed.text.clear();
  tolvex::openArchive("archive");
  tolvex::flushOutput();
  std::string changes = tolvex::describeChanges(before, tolvex::snapshotTree(scratch, outputRoot));
  if (!changes.empty()) finding("changed outside the output root:\n" + changes);
  std::string fault = tolvex::checkExtraction(archive, printed.text, tolvex::OUTPUT_ROOT);
  if (!fault.empty()) finding(fault);
  if (!tolvex::removeTree(tolvex::OUTPUT_ROOT)) finding("cannot remove the output root");
  return 0;
}
