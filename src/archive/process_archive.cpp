#include "archive/process_archive.h"

#include <new>

#include "archive/byte_source.h"
#include "archive/console.h"
#include "archive/extract_tree.h"
#include "archive/header_prefix.h"
#include "json/json_parser.h"
#include "json/json_value.h"

namespace tolvex {

void processArchive(ByteSource& source, ByteSource* aheadSource) {
  ArchiveContext context{source, 0, aheadSource};
  source.seek(0);
  // Holds the header text, read straight into it, and the tree parsed from it; frees both on
  // every way out.
  JsonDocument document;
  if (!readHeader(context, document) || document.text().empty())
    return;  // not an archive, or nothing in it: say nothing
  if (!parseDocument(document)) {
    printLine("Error: Header malformed.");
    return;
  }
  bool extracted = false;
  try {
    extracted = extractTree(context, OUTPUT_ROOT, document.member("files"));
  } catch (const std::bad_alloc&) {
    // No memory for a path: this archive cannot go on, and it fails like any other.
  }
  if (!extracted) printLine("Error: Extraction failed.");
}

}  // namespace tolvex
