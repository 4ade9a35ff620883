#include "archive/header_prefix.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "archive/byte_source.h"
#include "json/json_builder.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

// Read piece by piece when the source cannot tell its size, so that memory grows only as
// bytes actually arrive: the first piece is small, and each later one as large as what has
// arrived, up to the largest.
constexpr uint32_t firstTextPieceSize = 4096;
constexpr uint32_t textPieceSize = 1 << 20;

// Decodes four bytes, least significant first, on any host.
uint32_t decodeLittleEndian32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool readExactly(ByteSource& source, char* buffer, uint32_t count) {
  uint32_t got = 0;
  return source.read(buffer, count, got) && got == count;
}

// The same result as one read of `textLength` bytes, but the buffer never gets ahead of
// the bytes received by more than it already holds (or the first piece).
HeaderText readTextInPieces(ByteSource& source, uint32_t textLength) {
  HeaderText text;
  while (text.size() < textLength) {
    size_t have = text.size();
    size_t wanted = std::min<size_t>(std::max<size_t>(have, firstTextPieceSize), textPieceSize);
    uint32_t piece = static_cast<uint32_t>(std::min<size_t>(wanted, textLength - have));
    if (have + piece > text.capacity())
      text.reserve(std::min<size_t>(textLength, std::max<size_t>(2 * have, have + piece)));
    text.resize(have + piece);
    if (!readExactly(source, text.data() + have, piece)) return HeaderText();
  }
  return text;
}

// Reads the 16-byte prefix and checks it: the text's length and the start of the data
// region.
bool readPrefix(ByteSource& source, uint32_t& textLength, uint32_t& dataBase) {
  unsigned char prefix[prefixSize];
  for (uint32_t field = 0; field < 4; ++field)
    if (!readExactly(source, reinterpret_cast<char*>(prefix + 4 * field), 4)) return false;
  if (!isArchivePrefix(prefix)) return false;
  textLength = decodeLittleEndian32(prefix + 12);
  dataBase = decodeLittleEndian32(prefix + 4) + 8;
  return true;
}

}  // namespace

bool isArchivePrefix(const unsigned char* prefix) {
  uint32_t payloadSize = decodeLittleEndian32(prefix);
  uint32_t blockSize = decodeLittleEndian32(prefix + 4);
  uint32_t headerPayloadSize = decodeLittleEndian32(prefix + 8);
  uint32_t textLength = decodeLittleEndian32(prefix + 12);
  // Sums in 64 bits: a text length near 2^32 must not wrap round to a small padded size.
  uint64_t padded = uint64_t(textLength) + (4 - textLength % 4) % 4;
  return payloadSize == 4 && uint64_t(headerPayloadSize) == padded + 4 &&
         uint64_t(blockSize) == uint64_t(headerPayloadSize) + 4 &&
         uint64_t(blockSize) + 8 <= UINT32_MAX;
}

bool readHeader(ArchiveContext& context, JsonDocument& document) {
  document.reset();
  uint32_t textLength = 0;
  uint32_t dataBase = 0;
  if (!readPrefix(context.source, textLength, dataBase)) return false;
  uint64_t available = 0;
  bool sizeKnown = context.source.bytesLeft(available);
  if (sizeKnown && textLength > available) return false;
  try {
    JsonBuilder builder(document);
    if (sizeKnown) {
      char* place = builder.placeText(textLength);
      if (place == nullptr || !readExactly(context.source, place, textLength)) {
        document.reset();
        return false;
      }
    } else {
      HeaderText text = readTextInPieces(context.source, textLength);
      if (text.size() != textLength) return false;
      char* place = builder.placeText(textLength);
      if (place == nullptr) return false;
      if (textLength > 0) std::memcpy(place, text.data(), textLength);
    }
  } catch (const std::bad_alloc&) {
    document.reset();
    return false;
  }
  context.dataBase = dataBase;
  return true;
}

}  // namespace tolvex
