#ifndef TOLVEX_JSON_JSON_SCALARS_H_
#define TOLVEX_JSON_JSON_SCALARS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvex {

enum class NumberForm : uint32_t;

// The scalars of the header grammar: its whitespace, and its numbers as values are made of
// them (json_parser.h makes the values).

// True for the four whitespace bytes of the header grammar.
inline bool isJsonWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The index of the first byte of `text` that is not whitespace, or text.size().
inline size_t firstNonWhitespace(std::string_view text) {
  size_t position = 0;
  while (position < text.size() && isJsonWhitespace(text[position]))
    ++position;
  return position;
}

// The JSON number at the front of `text`, after whitespace: its form and payload. Integers
// without a fraction or a negative exponent are Unsigned (saturated to 32 bits, then scaled
// by their exponent modulo 2^64) or Signed when negative (saturated to 32 bits the same
// way); every other number is Real, its mantissa rounded to binary64 and then scaled by 10
// or by 0.1 once per unit of exponent, each step rounded to 53 bits with no range limit
// until the final rounding to binary64. Once the grammar has matched, every number yields
// a value. Cuts the text through the number, never looking at the byte after it; fails
// with the text and both results untouched.
bool readNumber(std::string_view& text, NumberForm& form, uint64_t& payload);

// The binary64 `value` multiplied by 10.0 (positive `exponent`) or by the binary64 nearest to
// 0.1 (negative `exponent`), |exponent| times, as readNumber scales a Real. Takes bounded
// time for any exponent.
double scaleByTens(double value, int32_t exponent);

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_SCALARS_H_
