#include "json/json_scalars.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json_value.h"

namespace tolvex {
namespace {

__extension__ typedef unsigned __int128 Uint128;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The end of the run of digits that starts at `position`.
size_t endOfDigits(std::string_view text, size_t position) {
  while (position < text.size() && isDigit(text[position]))
    ++position;
  return position;
}

// The positions of one number's pieces in the text; `end` is one past its last byte.
struct NumberText {
  bool negative = false;
  size_t integerStart = 0;
  size_t integerEnd = 0;
  size_t fractionEnd = 0;  // equals integerEnd when there is no fraction
  bool hasFraction = false;
  int32_t exponent = 0;
  size_t end = 0;
};

// Matches the number grammar at `position`: an optional '-', a lone '0' or a run of digits,
// an optional '.' with digits, an optional exponent with an optional sign and digits.
bool matchNumber(std::string_view text, size_t position, NumberText& number) {
  size_t i = position;
  if (i < text.size() && text[i] == '-') {
    number.negative = true;
    ++i;
  }
  number.integerStart = i;
  if (i < text.size() && text[i] == '0') {
    ++i;
  } else {
    i = endOfDigits(text, i);
    if (i == number.integerStart) return false;
  }
  number.integerEnd = i;
  if (i < text.size() && text[i] == '.') {
    size_t digits = i + 1;
    i = endOfDigits(text, digits);
    if (i == digits) return false;
    number.hasFraction = true;
  }
  number.fractionEnd = i;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negativeExponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      negativeExponent = text[i] == '-';
      ++i;
    }
    size_t digits = i;
    // 32-bit arithmetic that wraps, as the format's readers always did.
    uint32_t value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
      value = value * 10u + uint32_t(text[i] - '0');
    if (i == digits) return false;
    if (negativeExponent) value = 0u - value;
    number.exponent = value <= INT32_MAX ? int32_t(value) : -int32_t(~value) - 1;
  }
  number.end = i;
  return true;
}

// The digits as an unsigned number, saturated at `limit`.
uint64_t saturatedDecimal(std::string_view digits, uint64_t limit) {
  uint64_t value = 0;
  for (char c : digits) {
    value = value * 10 + uint64_t(c - '0');
    if (value > limit) return limit;
  }
  return value;
}

// `value` times 10^exponent modulo 2^64; 10^64 is a multiple of 2^64.
uint64_t scaleIntegerByTens(uint64_t value, int32_t exponent) {
  if (exponent >= 64) return 0;
  for (int32_t i = 0; i < exponent; ++i)
    value *= 10;
  return value;
}

// The decimal mantissa (digits with an optional '.') rounded to the nearest binary64; too
// large a mantissa gives infinity.
double decimalToDouble(std::string_view integerDigits, std::string_view fractionDigits) {
  // Significant digits and the power of ten of the last one. Rounding to binary64 never needs
  // more than 767 significant digits, so a longer run is cut to 780 and a final '1' stands for
  // the nonzero digits cut away: the result is the same, and strtod's work stays bounded.
  std::string digits;
  int64_t scale = -int64_t(fractionDigits.size());
  size_t cut = 0;
  bool sticky = false;
  const size_t kept = 780;
  for (std::string_view part : {integerDigits, fractionDigits}) {
    for (char c : part) {
      if (digits.empty() && c == '0') continue;
      if (digits.size() < kept) {
        digits.push_back(c);
      } else {
        ++cut;
        sticky = sticky || c != '0';
      }
    }
  }
  if (digits.empty()) return 0.0;
  scale += int64_t(cut);
  if (sticky) {
    digits.push_back('1');
    --scale;
  }
  // No decimal point, so the conversion does not depend on the locale.
  digits += 'e';
  digits += std::to_string(scale);
  return std::strtod(digits.c_str(), nullptr);
}

// A finite, nonzero magnitude as significand * 2^exponent with the significand in [2^52, 2^53):
// a binary64 with unbounded exponent range.
struct WideFloat {
  uint64_t significand;
  int64_t exponent;
};

// Rounds significand * 2^exponent, with any significand below 2^116, to 53 bits, ties to even.
WideFloat roundTo53Bits(Uint128 significand, int64_t exponent) {
  int shift = 0;
  while ((significand >> shift) >= (Uint128(1) << 53))
    ++shift;
  if (shift > 0) {
    Uint128 kept = significand >> shift;
    Uint128 rest = significand & ((Uint128(1) << shift) - 1);
    Uint128 half = Uint128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1))) ++kept;
    if (kept == (Uint128(1) << 53)) {
      kept >>= 1;
      ++shift;
    }
    significand = kept;
  }
  return WideFloat{uint64_t(significand), exponent + shift};
}

WideFloat widen(double magnitude) {
  int binaryExponent;
  double fraction = std::frexp(magnitude, &binaryExponent);  // in [0.5, 1)
  auto significand = uint64_t(std::ldexp(fraction, 53));
  return WideFloat{significand, int64_t(binaryExponent) - 53};
}

// Rounds to binary64 once: overflow gives infinity, and a value below the normal range is
// rounded to a subnormal (ties to even) or to zero.
double narrow(WideFloat value) {
  int64_t top = value.exponent + 52;  // the binary exponent of the leading bit
  if (top > 1023) return HUGE_VAL;
  if (top >= -1022) return std::ldexp(double(value.significand), int(value.exponent));
  int64_t shift = -1074 - value.exponent;  // at least 1 here
  if (shift > 54) return 0.0;
  uint64_t kept = value.significand >> shift;
  uint64_t rest = value.significand & ((uint64_t(1) << shift) - 1);
  uint64_t half = uint64_t(1) << (shift - 1);
  if (rest > half || (rest == half && (kept & 1))) ++kept;
  return std::ldexp(double(kept), -1074);
}

// Most numbers of a header are short unsigned integers: up to 19 digits, nothing after.
// Reads one at `end`, and moves `end` past it; false (and nothing moved) for any other.
bool readPlainUnsigned(std::string_view text, size_t& end, uint64_t& payload) {
  size_t i = end;
  uint64_t value = 0;
  if (i == text.size() || !isDigit(text[i])) return false;
  if (text[i] == '0') {
    ++i;
  } else {
    for (; i < text.size() && i - end < 19 && isDigit(text[i]); ++i)
      value = value * 10 + uint64_t(text[i] - '0');
  }
  char after = i < text.size() ? text[i] : ' ';
  if (isDigit(after) || after == '.' || after == 'e' || after == 'E') return false;
  payload = value > UINT32_MAX ? UINT32_MAX : value;
  end = i;
  return true;
}

// The form and payload of the number `number` matched in `text`.
uint64_t numberPayload(std::string_view text, const NumberText& number, NumberForm& form) {
  std::string_view integerDigits =
      text.substr(number.integerStart, number.integerEnd - number.integerStart);
  if (number.hasFraction || number.exponent < 0) {
    form = NumberForm::Real;
    std::string_view fractionDigits;
    if (number.hasFraction)
      fractionDigits =
          text.substr(number.integerEnd + 1, number.fractionEnd - number.integerEnd - 1);
    double mantissa = decimalToDouble(integerDigits, fractionDigits);
    double real = scaleByTens(number.negative ? -mantissa : mantissa, number.exponent);
    uint64_t payload;
    std::memcpy(&payload, &real, sizeof payload);
    return payload;
  }
  if (number.negative) {
    form = NumberForm::Signed;
    uint64_t magnitude = saturatedDecimal(integerDigits, uint64_t(1) << 31);
    return scaleIntegerByTens(0 - magnitude, number.exponent);
  }
  form = NumberForm::Unsigned;
  return scaleIntegerByTens(saturatedDecimal(integerDigits, UINT32_MAX), number.exponent);
}

}  // namespace

double scaleByTens(double value, int32_t exponent) {
  if (exponent == 0 || value == 0.0 || std::isinf(value) || std::isnan(value)) return value;
  const bool negative = std::signbit(value);
  WideFloat wide = widen(std::fabs(value));
  if (exponent > 0) {
    for (int64_t step = 0; step < exponent; ++step) {
      // Multiplying by 10 only grows the value: past the binary64 range it stays past it.
      if (wide.exponent + 52 > 1023) return negative ? -HUGE_VAL : HUGE_VAL;
      wide = roundTo53Bits(Uint128(wide.significand) * 10, wide.exponent);
    }
  } else {
    // 0.1 as binary64: 0x1999999999999A * 2^-56.
    const uint64_t tenthSignificand = 0x1999999999999Au;
    for (int64_t step = 0; step < -int64_t(exponent); ++step) {
      // Below 2^-1075 the final rounding gives zero, and multiplying by 0.1 only shrinks.
      if (wide.exponent + 52 < -1075) return negative ? -0.0 : 0.0;
      wide = roundTo53Bits(Uint128(wide.significand) * tenthSignificand, wide.exponent - 56);
    }
  }
  double result = narrow(wide);
  return negative ? -result : result;
}

bool readNumber(std::string_view& text, NumberForm& form, uint64_t& payload) {
  const size_t start = firstNonWhitespace(text);
  size_t end = start;
  if (readPlainUnsigned(text, end, payload)) {
    form = NumberForm::Unsigned;
  } else {
    NumberText number;
    if (!matchNumber(text, start, number)) return false;
    payload = numberPayload(text, number, form);
    end = number.end;
  }
  text.remove_prefix(end);
  return true;
}

}  // namespace tolvex
