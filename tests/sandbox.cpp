#include "sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include "archive/process_archive.h"
#include "cli/driver.h"
#include "output_capture.h"
#include "test_files.h"

namespace tolvex {
namespace {

const std::string archivePath = "work/archive";

const std::set<std::string>& notOutside() {
  static const std::set<std::string> paths = {std::string("work/") + OUTPUT_ROOT};
  return paths;
}

}  // namespace

Sandbox::Sandbox() {
  if (dir_.path().empty() || mkdir("work", 0777) != 0 || chdir("work") != 0) return;
  writeFile("../sentinel", "unmodified above");
  writeFile("sentinel", "unmodified beside");
  rememberOutside();
  ready_ = true;
}

Sandbox::~Sandbox() {
  // The output root may be deeper than PATH_MAX, which the temporary directory's own
  // removal cannot take. (Without the layout the working directory is not the sandbox's.)
  if (ready_) clearOutput();
}

std::string Sandbox::extract(const std::string& archive, bool asTerminal) {
  writeFile("archive", archive);
  outside_[archivePath] = "file:" + archive;  // and it must stay as written
  OutputCapture output(asTerminal);
  static const size_t threadCounts[] = {1, 2, 4, 16};
  static size_t extractions = 0;
  openArchive("archive", threadCounts[extractions++ % 4]);
  return output.text();
}

void Sandbox::clearOutput() {
  removeTree(OUTPUT_ROOT);
}

void Sandbox::rememberOutside() {
  outside_ = snapshotTree(dir_.path(), notOutside());
}

std::string Sandbox::changesOutside() const {
  return describeChanges(outside_, snapshotTree(dir_.path(), notOutside()));
}

}  // namespace tolvex
