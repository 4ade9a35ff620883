#ifndef TOLVEX_PLATFORM_UTF8_H_
#define TOLVEX_PLATFORM_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8, read one sequence at a time, and turned to UTF-16 and back: what a terminal is
// shown, which names Windows takes, and how Windows' text becomes bytes all read UTF-8
// through decodeUtf8. The same rules on every system, so that they are tested anywhere.

namespace tolvex {

// The sequence at the front of some text.
struct Utf8Sequence {
  // The bytes it takes: the whole sequence, or, when ill-formed, its maximal subpart (a
  // byte that cannot start a sequence, or a lead byte with the continuation bytes after it
  // that still fit a well-formed sequence), at least 1.
  size_t length = 0;
  bool wellFormed = false;
  uint32_t codePoint = 0xFFFD;  // U+FFFD when ill-formed
};

// Decodes the sequence at the front of `text` (not empty). The ranges are those of the
// Unicode standard's table of well-formed byte sequences: overlong forms (C0 80, E0 80 80),
// the surrogates (ED A0 80 to ED BF BF) and code points above U+10FFFF are ill-formed,
// except that with `loneSurrogates` a surrogate encoded on its own is well formed, as
// utf8FromWide makes it.
Utf8Sequence decodeUtf8(std::string_view text, bool loneSurrogates = false);

// Appends the UTF-8 of `codePoint` (up to U+10FFFF; a surrogate as its own 3 bytes).
void appendUtf8(uint32_t codePoint, std::string& text);

// UTF-16 of `text`, in units of wchar_t. Well-formed UTF-8 is decoded, and so is a surrogate
// encoded on its own, so that any Windows name survives the trip to bytes and back; each
// maximal ill-formed subpart becomes U+FFFD.
std::wstring wideFromUtf8(std::string_view text);

// UTF-8 of `wide`, UTF-16 in units of wchar_t: a surrogate pair becomes one 4-byte sequence,
// a lone surrogate the 3-byte sequence of its own value (the one byte string a name holding
// one can have).
std::string utf8FromWide(std::wstring_view wide);

// How many bytes at the end of `text` begin a sequence that the bytes after them could
// still complete: 0 to 3. A writer keeps them for its next piece.
size_t incompleteTail(std::string_view text);

}  // namespace tolvex

#endif  // TOLVEX_PLATFORM_UTF8_H_
