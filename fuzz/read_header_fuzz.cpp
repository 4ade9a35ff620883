// Reads the prefix and header text of arbitrary bytes with readHeader, into a document, through a
// source that can tell its size and through one that cannot (as a pipe), and holds every result to
// the layout of the format, worked out here on its own: a prefix of 4, H + 4, H and L with
// H the text length L rounded up to a multiple of 4, plus 4, and the data region inside 32
// bits, followed by at least L bytes. Such an archive yields exactly its L text bytes and
// a data region start of H + 12; every other input yields the empty text and leaves the
// start as it was. A source that fails inside the text must give the empty text too.
// -malloc_limit_mb bounds what the text may take, whatever length the prefix declares.

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/header_prefix.h"
#include "json/json_value.h"
#include "memory_byte_source.h"

namespace {

constexpr uint32_t untouched = 0xDEADBEEF;

uint32_t fieldAt(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Layout {
  bool valid = false;
  uint64_t textLength = 0;
  uint64_t dataBase = 0;
};

Layout layoutOf(const std::string& bytes) {
  Layout layout;
  if (bytes.size() < 16) return layout;
  uint64_t payloadSize = fieldAt(bytes, 0), blockSize = fieldAt(bytes, 4),
           headerPayloadSize = fieldAt(bytes, 8), textLength = fieldAt(bytes, 12);
  layout.valid = payloadSize == 4 && headerPayloadSize == (textLength + 3) / 4 * 4 + 4 &&
                 blockSize == headerPayloadSize + 4 && blockSize + 8 <= UINT32_MAX &&
                 textLength <= bytes.size() - 16;
  layout.textLength = textLength;
  layout.dataBase = blockSize + 8;
  return layout;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const Layout layout = layoutOf(bytes);
  for (bool tellsSize : {true, false}) {
    tolvex::MemoryByteSource source(bytes);
    source.tellsSize = tellsSize;
    tolvex::ArchiveContext context{source, untouched};
    tolvex::JsonDocument document;
    bool read = tolvex::readHeader(context, document);
    const std::string_view text = document.text();
    check(text.size() <= size);
    check(read == layout.valid);
    if (layout.valid) {
      check(text.size() == layout.textLength);
      check(text == std::string_view(bytes).substr(16, layout.textLength));
      check(context.dataBase == layout.dataBase);
    } else {
      check(text.empty());
      check(context.dataBase == untouched);
    }
  }
  if (layout.valid && layout.textLength > 0) {
    // The last byte of the text cannot be read.
    tolvex::MemoryByteSource failing(bytes);
    failing.failFrom = 16 + layout.textLength - 1;
    tolvex::ArchiveContext context{failing, untouched};
    tolvex::JsonDocument document;
    check(!tolvex::readHeader(context, document) && document.text().empty());
    check(context.dataBase == untouched);
  }
  return 0;
}
