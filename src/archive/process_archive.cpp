// Memory. tolvex never ends for want of memory: an archive either gets what it needs or
// fails on its own, and the next one is tried. Allocation failures are caught once per
// archive, here, and show as follows:
// - reading the header: the archive is passed over in silence, as one that cannot be read
//   (readHeader gives up before it allocates more than the archive holds);
// - parsing it: "Error: Header malformed." (the parser gives up and frees what it built);
// - extracting the tree: the run winds down as for a failed file (the lines of finished
//   files stay, everything made for the entries after them is taken back), then
//   "Error: Extraction failed.".
// The copy itself allocates nothing per file; the other copying threads hand a failure to
// the walking one, which raises it here. The driver catches what its own loop allocates.

#include "archive/process_archive.h"

#include <new>

#include "archive/byte_source.h"
#include "archive/extract_tree.h"
#include "archive/header_prefix.h"
#include "console/console.h"
#include "json/json_parser.h"
#include "json/json_value.h"
#include "platform/platform.h"

namespace tolvex {
namespace {

// A header's large pieces of memory, backed by huge pages where the system offers them.
class HugePages final : public LargeMemory {
 public:
  void* allocate(size_t bytes) override { return allocateLargeBlock(bytes); }
  void release(void* memory, size_t bytes) override { freeLargeBlock(memory, bytes); }
};

}  // namespace

void processArchive(ByteSource& source, CopySources* copySources) {
  processArchive(source, copySources, nativeFileSystem());
}

void processArchive(ByteSource& source, CopySources* copySources, FileSystem& files,
                    size_t copyThreads) {
  // The name line shows before a long header is read, even on a terminal.
  flushOutput();
  ArchiveContext context{source, 0, copySources, copyThreads};
  source.seek(0);
  try {
    // Holds the header text, read straight into it, and the tree parsed from it; frees both
    // on every way out.
    HugePages hugePages;
    JsonDocument document(&hugePages);
    if (!readHeader(context, document) || document.text().empty())
      return;  // not an archive, or nothing in it: say nothing
    if (!parseDocument(document)) {
      printLine("Error: Header malformed.");
      return;
    }
    if (extractTree(context, OUTPUT_ROOT, document.member("files"), files) || interrupted()) return;
  } catch (const std::bad_alloc&) {
    if (interrupted()) return;
  }
  printLine("Error: Extraction failed.");
}

}  // namespace tolvex
