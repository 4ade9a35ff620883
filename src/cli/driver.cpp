#include "cli/driver.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>

#include "archive/byte_source.h"
#include "archive/console.h"
#include "archive/platform.h"
#include "archive/process_archive.h"

namespace tolvex {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool isDirectory(std::FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

const char bannerText[] = "Tolvex v0.91, an ASAR extractor by the tolvex developers";
const char usageText[] = "Usage: tolvex <file> [<file> ...]";

void runCommandLine(int count, const char* const* arguments) {
  printLine(bannerText);
  printLine("");
  if (count < 1) {
    printLine(usageText);
    return;
  }
  for (int i = 0; i < count && !interrupted(); ++i) {
    try {
      const std::string path(arguments[i]);  // the platform hands out terminated strings
      printArchiveName(path);
      openArchive(path);
    } catch (const std::bad_alloc&) {
      // Out of memory for this archive's name: the next one may still fit.
    }
  }
  flushOutput();
}

void printArchiveName(const std::string& path) {
  size_t separator = path.find_last_of("/\\");
  printName(separator == std::string::npos ? path : path.substr(separator + 1));
  printLine("");
}

void openArchive(const std::string& path) {
  FilePtr stream(std::fopen(path.c_str(), "rb"));
  if (!stream || isDirectory(stream.get())) {
    printLine("Error: Cannot open archive.");
    return;
  }
  // The sources read the file through windows of their own, never through the stream's
  // buffer; the second one serves the thread that copies files ahead of the walk.
  FileByteSource source(stream.get());
  FileByteSource ahead(stream.get());
  processArchive(source, &ahead);
}

}  // namespace tolvex
