#include "cli/driver.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>
#include <utility>

#include "archive/byte_source.h"
#include "archive/console.h"
#include "archive/platform.h"
#include "archive/process_archive.h"
#include "archive/stream_spool.h"

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

// Puts in place of `stream`, whose bytes come only once and in order, a copy of them that
// can be read at positions. `stream` is replaced only when the result is Copied.
SpoolResult replaceByCopy(FilePtr& stream) {
  Handle copy;
  SpoolResult result = spoolStream(fileno(stream.get()), copy);
  if (result != SpoolResult::Copied) return result;
  FilePtr copied(fdopen(static_cast<int>(copy.value()), "rb"));
  if (!copied) return SpoolResult::Failed;
  copy.release();  // closed with the copied stream from here on
  stream = std::move(copied);
  return result;
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
  bool opened = stream && !isDirectory(stream.get());
  if (opened && !readsAtPositions(fileno(stream.get()))) {
    SpoolResult result = replaceByCopy(stream);
    if (result == SpoolResult::NotAnArchive) return;  // no line, as for such a file
    opened = result == SpoolResult::Copied;
  }
  if (!opened) {
    if (!interrupted()) printLine("Error: Cannot open archive.");
    return;
  }
  // The sources read the file through windows of their own, never through the stream's
  // buffer; the second one serves the thread that copies files ahead of the walk.
  FileByteSource source(stream.get());
  FileByteSource ahead(stream.get());
  processArchive(source, &ahead);
}

}  // namespace tolvex
