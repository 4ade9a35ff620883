#ifndef TOLVEX_ARCHIVE_HEADER_PREFIX_H_
#define TOLVEX_ARCHIVE_HEADER_PREFIX_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex {

class ByteSource;
class CopySources;
class JsonDocument;

// One archive on its way through extraction: its bytes (borrowed; the source must outlive
// the context), the absolute position of its data region, 0 until readHeader sets it, and
// optionally the sources over the same archive of the threads that copy files while the
// walk goes on (borrowed too; without them the walking thread makes every entry), and how
// many threads make entries: 0 lets the extraction choose, as the program always does;
// tests and benchmarks may fix the count.
struct ArchiveContext {
  ByteSource& source;
  uint32_t dataBase;
  CopySources* copySources = nullptr;
  size_t copyThreads = 0;
};

// The header text exactly as the archive holds it; any byte, NUL included, is content.
using HeaderText = std::string;

// The length of the prefix that starts every archive: four 32-bit little-endian numbers.
constexpr uint32_t prefixSize = 16;

// True when `prefix`, the first prefixSize bytes of a file, follow the layout rules that
// readHeader checks before it reads the text: an 8-byte block giving the header block's
// size, then a header block holding the text length and the text padded to a multiple of
// 4, with the data region starting at a position that fits 32 bits. A file whose prefix
// fails them is not an archive, whatever follows.
bool isArchivePrefix(const unsigned char* prefix);

// Reads the 16-byte prefix at the source's current position, checks it and reads the
// header text that follows straight into `document` (JsonBuilder::placeText), where it is
// parsed and stays while the tree lives. True on success, with `context.dataBase` set to
// the start of the data region and the whole text in the document (possibly empty). On any
// failure (a read that fails or comes up short, a prefix that breaks the layout rules or
// whose sums exceed 32 bits, a text longer than the archive holds, no memory for the text)
// false, the document reset and `dataBase` as it was. Prints nothing. Never allocates more
// for the text than the archive's size: the text is read with one read when the source
// can tell its size, else piece by piece, the memory growing only as bytes arrive, and
// then copied once into the document.
bool readHeader(ArchiveContext& context, JsonDocument& document);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_HEADER_PREFIX_H_
