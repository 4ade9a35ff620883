#include "archive/header_prefix.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "archive/byte_source.h"

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

HeaderText readTextWhole(ByteSource& source, uint32_t textLength) {
  HeaderText text(textLength, '\0');
  if (!readExactly(source, text.data(), textLength)) return HeaderText();
  return text;
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

HeaderText readHeader(ArchiveContext& context) {
  unsigned char prefix[prefixSize];
  for (uint32_t field = 0; field < 4; ++field)
    if (!readExactly(context.source, reinterpret_cast<char*>(prefix + 4 * field), 4))
      return HeaderText();
  if (!isArchivePrefix(prefix)) return HeaderText();
  uint32_t blockSize = decodeLittleEndian32(prefix + 4);
  uint32_t textLength = decodeLittleEndian32(prefix + 12);

  uint64_t available = 0;
  bool sizeKnown = context.source.bytesLeft(available);
  // Checked before allocating: a prefix may declare 4 GiB in a file of 20 bytes.
  if (sizeKnown && textLength > available) return HeaderText();
  HeaderText text;
  try {
    text = sizeKnown ? readTextWhole(context.source, textLength)
                     : readTextInPieces(context.source, textLength);
  } catch (const std::bad_alloc&) {
    return HeaderText();
  }
  if (text.size() != textLength) return HeaderText();
  context.dataBase = blockSize + 8;
  return text;
}

}  // namespace tolvex
