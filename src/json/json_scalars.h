#ifndef TOLVEX_JSON_JSON_SCALARS_H_
#define TOLVEX_JSON_JSON_SCALARS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvex {

class JsonValue;
enum class NumberForm : uint32_t;

// The recognisers of the header grammar share one working model. `text` is the unparsed rest
// of the header, a view that each recogniser cuts from the front; `slot` is the caller's
// pointer that receives the result. A recogniser skips leading whitespace (exactly space, tab,
// carriage return and line feed) itself. On success it stores a value in `slot`, replacing
// whatever pointer was there without releasing it, and cuts the text through the value's last
// byte; the byte after the value is never examined. The recognisers of this file fail with
// the text and the slot exactly as they were. None prints anything or throws, except
// std::bad_alloc when memory runs out.

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

// "null" (lower case only): stores the shared null value.
bool parseNull(std::string_view& text, JsonValue*& slot);

// "false", then "true": stores the shared false or true value.
bool parseBool(std::string_view& text, JsonValue*& slot);

// A JSON number: stores a new JsonNumber, owned by the slot's holder. Integers without a
// fraction or a negative exponent are Unsigned (saturated to 32 bits, then scaled by their
// exponent modulo 2^64) or Signed when negative (saturated to 32 bits the same way); every
// other number is Real, its mantissa rounded to binary64 and then scaled by 10 or by 0.1 once
// per unit of exponent, each step rounded to 53 bits with no range limit until the final
// rounding to binary64. Once the grammar has matched, every number yields a value.
bool parseNumber(std::string_view& text, JsonValue*& slot);

// The number at the front of `text`, after whitespace, as parseNumber reads it: its form and
// payload, without making a value. Cuts the text through the number; fails with the text
// and both results untouched.
bool readNumber(std::string_view& text, NumberForm& form, uint64_t& payload);

// The binary64 `value` multiplied by 10.0 (positive `exponent`) or by the binary64 nearest to
// 0.1 (negative `exponent`), |exponent| times, as parseNumber scales a Real. Takes bounded
// time for any exponent.
double scaleByTens(double value, int32_t exponent);

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_SCALARS_H_
