#include "cli/driver.h"

#include <memory>
#include <new>
#include <utility>

#include "archive/byte_source.h"
#include "archive/process_archive.h"
#include "archive/stream_spool.h"
#include "console/console.h"
#include "platform/platform.h"

namespace tolvex {

const char bannerText[] = "Tolvex v0.91, an ASAR extractor by the tolvex developers";
const char usageText[] = "Usage: tolvex <file> [<file> ...]";

void runCommandLine(const std::vector<std::string>& arguments, size_t copyThreads) {
  OutputScope output;
  printLine(bannerText);
  printLine("");
  if (arguments.empty()) {
    printLine(usageText);
    return;
  }
  for (const std::string& path : arguments) {
    if (interrupted()) break;
    try {
      printArchiveName(path);
      openArchive(path, copyThreads);
    } catch (const std::bad_alloc&) {
      // Out of memory for this archive's name: the next one may still fit.
    }
  }
}

void printArchiveName(const std::string& path) {
  size_t separator = path.find_last_of("/\\");
  printName(separator == std::string::npos ? path : path.substr(separator + 1));
  printLine("");
}

void openArchive(const std::string& path, size_t copyThreads) {
  // Opening a FIFO waits for a writer: the name line shows meanwhile, even on a terminal.
  // An interrupt that came while it was written must not be left to wait with it.
  flushOutput();
  if (interrupted()) return;
  Handle file = openForReading(path);
  bool opened = file.isOpen();
  if (opened && !readsAtPositions(file)) {
    Handle copy;
    SpoolResult result = spoolStream(file, copy);
    if (result == SpoolResult::NotAnArchive) return;  // no line, as for such a file
    opened = result == SpoolResult::Copied;
    file = std::move(copy);
  }
  if (!opened) {
    if (!interrupted()) printLine("Error: Cannot open archive.");
    return;
  }
  // Each source reads the file at a position of its own: one for the walking thread, and
  // one for each other thread that copies files ahead of the walk.
  FileByteSource source(file);
  MadeSources copySources(
      [&file] { return std::unique_ptr<FileByteSource>(new (std::nothrow) FileByteSource(file)); });
  processArchive(source, &copySources, nativeFileSystem(), copyThreads);
}

}  // namespace tolvex
