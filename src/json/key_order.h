#ifndef TOLVEX_JSON_KEY_ORDER_H_
#define TOLVEX_JSON_KEY_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tolvex {

// The order of object keys: negative, zero or positive as the key of `aLength` bytes at `a`
// comes before, equals or comes after the one at `b`. Bytes compare as unsigned; a key
// that is the beginning of another comes first. Equal words of eight bytes are passed over
// whole, since keys of one object often share a long beginning.
inline int compareKeys(const char* a, size_t aLength, const char* b, size_t bLength) {
  const size_t common = aLength < bLength ? aLength : bLength;
  size_t i = 0;
  for (; common - i >= 8; i += 8) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) break;
  }
  for (; i < common; ++i) {
    if (a[i] != b[i])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
  }
  return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

}  // namespace tolvex

#endif  // TOLVEX_JSON_KEY_ORDER_H_
