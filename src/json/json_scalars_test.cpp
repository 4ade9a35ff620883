#include "json/json_scalars.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "json/json_parser.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

using Recogniser = bool (*)(std::string_view&, JsonDocument&);

// Runs a recogniser on `input` into `document`; returns its result and what it left.
bool run(Recogniser recognise, const std::string& input, JsonDocument& document,
         std::string& left) {
  std::string_view text(input);
  bool ok = recognise(text, document);
  left = std::string(text);
  return ok;
}

TEST(ParseNullAndBool, MakeTheirValueAndCutTheirWord) {
  struct Case {
    Recogniser recognise;
    std::string input;
    const char* value;  // "null", "false", "true", or null when the recogniser must fail
    std::string left;
  };
  const Case cases[] = {
      {parseNull, "null", "null", ""},
      {parseNull, " \t\r\nnull", "null", ""},
      {parseNull, "nullx", "null", "x"},
      {parseNull, "null ,", "null", " ,"},
      {parseNull, "Null", nullptr, ""},
      {parseNull, "NULL", nullptr, ""},
      {parseNull, "nul", nullptr, ""},
      {parseNull, "\fnull", nullptr, ""},
      {parseNull, "\vnull", nullptr, ""},
      {parseNull, std::string("\0null", 5), nullptr, ""},
      {parseNull, "", nullptr, ""},
      {parseNull, "  ", nullptr, ""},
      {parseBool, "false", "false", ""},
      {parseBool, "true", "true", ""},
      {parseBool, "\n true]", "true", "]"},
      {parseBool, "truefalse", "true", "false"},
      {parseBool, "falsetrue", "false", "true"},
      {parseBool, "True", nullptr, ""},
      {parseBool, "FALSE", nullptr, ""},
      {parseBool, "fals", nullptr, ""},
      {parseBool, "tru", nullptr, ""},
      {parseBool, "null", nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    JsonDocument document;
    std::string left;
    bool ok = run(c.recognise, c.input, document, left);
    EXPECT_EQ(c.value != nullptr, ok);
    EXPECT_EQ(c.value != nullptr ? c.left : c.input, left);
    if (c.value == nullptr) {
      EXPECT_EQ(nullptr, document.root());
      continue;
    }
    ASSERT_NE(nullptr, document.root());
    const std::string value = c.value;
    if (value == "null") {
      EXPECT_EQ(JsonKind::Null, document.root()->kind);
    } else {
      ASSERT_EQ(JsonKind::Boolean, document.root()->kind);
      EXPECT_EQ(value == "true", static_cast<const JsonBoolean*>(document.root())->value);
    }
  }
}

struct NumberCase {
  std::string input;
  NumberForm form;
  uint64_t payload;
  std::string left;
};

const uint64_t positiveInfinity = 0x7FF0000000000000u;
const uint64_t negativeInfinity = 0xFFF0000000000000u;

void expectNumbers(const std::vector<NumberCase>& cases) {
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 60));
    JsonDocument document;
    std::string left;
    ASSERT_TRUE(run(parseNumber, c.input, document, left));
    ASSERT_EQ(JsonKind::Number, document.root()->kind);
    const auto& number = static_cast<const JsonNumber&>(*document.root());
    EXPECT_EQ(c.form, number.form);
    EXPECT_EQ(c.payload, number.payload) << std::hex << "0x" << number.payload;
    EXPECT_EQ(c.left, left);
  }
}

TEST(ParseNumber, IntegerForms) {
  expectNumbers({
      {"0", NumberForm::Unsigned, 0, ""},
      {"-0", NumberForm::Signed, 0, ""},
      {"  \n7", NumberForm::Unsigned, 7, ""},
      {"012", NumberForm::Unsigned, 0, "12"},
      {"-012", NumberForm::Signed, 0, "12"},
      {"1x", NumberForm::Unsigned, 1, "x"},
      {"1e5e5", NumberForm::Unsigned, 100000, "e5"},
      {"25E1", NumberForm::Unsigned, 250, ""},
      {"1E+2", NumberForm::Unsigned, 100, ""},
      {"5E0", NumberForm::Unsigned, 5, ""},
      {"5E-0", NumberForm::Unsigned, 5, ""},
      {"-123", NumberForm::Signed, 0xFFFFFFFFFFFFFF85u, ""},
      {"-5E1", NumberForm::Signed, 0xFFFFFFFFFFFFFFCEu, ""},
      {"4294967295", NumberForm::Unsigned, 4294967295u, ""},
      {"4294967296", NumberForm::Unsigned, 4294967295u, ""},
      {"99999999999", NumberForm::Unsigned, 4294967295u, ""},
      {"5E9", NumberForm::Unsigned, 5000000000u, ""},
      {"4294967296E1", NumberForm::Unsigned, 42949672950u, ""},
      {"-2147483648", NumberForm::Signed, 0xFFFFFFFF80000000u, ""},
      {"-2147483649", NumberForm::Signed, 0xFFFFFFFF80000000u, ""},
      {"-9999999999", NumberForm::Signed, 0xFFFFFFFF80000000u, ""},
      {"-2147483647", NumberForm::Signed, 0xFFFFFFFF80000001u, ""},
      {"1E19", NumberForm::Unsigned, 10000000000000000000u, ""},
      {"1E20", NumberForm::Unsigned, 7766279631452241920u, ""},
      {"-1E19", NumberForm::Signed, 0x7538DCFB76180000u, ""},
      {"3E63", NumberForm::Unsigned, 0x8000000000000000u, ""},
      {"1E64", NumberForm::Unsigned, 0, ""},
      {"7E100", NumberForm::Unsigned, 0, ""},
      {"-3E64", NumberForm::Signed, 0, ""},
      {"1E2147483647", NumberForm::Unsigned, 0, ""},
      {"-1E2147483647", NumberForm::Signed, 0, ""},
      {std::string(100000, '9'), NumberForm::Unsigned, 4294967295u, ""},
  });
}

TEST(ParseNumber, ExponentWrapsIn32Bits) {
  expectNumbers({
      // 4294967296 is 0 in 32 bits: no exponent at all.
      {"1E4294967296", NumberForm::Unsigned, 1, ""},
      // 4294967295 negated is 1.
      {"1E-4294967295", NumberForm::Unsigned, 10, ""},
      {"1.5E4294967297", NumberForm::Real, 0x402E000000000000u, ""},  // 15.0
      // 2147483648 reads as -2147483648: a negative exponent makes a Real.
      {"1E2147483648", NumberForm::Real, 0, ""},
      {"-1E-2147483648", NumberForm::Real, 0x8000000000000000u, ""},
      {"1E" + std::string(100000, '0') + "3", NumberForm::Unsigned, 1000, ""},
  });
}

TEST(ParseNumber, RealForm) {
  expectNumbers({
      {"0.0", NumberForm::Real, 0, ""},
      {"-0.0", NumberForm::Real, 0x8000000000000000u, ""},
      {"-0E-5", NumberForm::Real, 0x8000000000000000u, ""},
      {"1.5", NumberForm::Real, 0x3FF8000000000000u, ""},
      {"1.5.3", NumberForm::Real, 0x3FF8000000000000u, ".3"},
      {"-2.25]", NumberForm::Real, 0xC002000000000000u, "]"},
      {"2.5E2", NumberForm::Real, 0x406F400000000000u, ""},
      {"25E-1", NumberForm::Real, 0x4004000000000000u, ""},
      {"1E-1", NumberForm::Real, 0x3FB999999999999Au, ""},
      {"1.5e-1", NumberForm::Real, 0x3FC3333333333334u, ""},
      {"0.1", NumberForm::Real, 0x3FB999999999999Au, ""},
      {"1.0E400", NumberForm::Real, positiveInfinity, ""},
      {"-1.0E400", NumberForm::Real, negativeInfinity, ""},
      {"1.0E-400", NumberForm::Real, 0, ""},
      {"1.7E308", NumberForm::Real, 0x7FEE42D130773B6Du, ""},
      {"1.8E308", NumberForm::Real, positiveInfinity, ""},
      {"123e-10000000", NumberForm::Real, 0, ""},
      {"1.5E2147483647", NumberForm::Real, positiveInfinity, ""},
      {"-1.5E2147483647", NumberForm::Real, negativeInfinity, ""},
      {"1.5E-2147483647", NumberForm::Real, 0, ""},
      {"1E-2147483648", NumberForm::Real, 0, ""},
      // The mantissa is rounded once, however many digits it has.
      {"0." + std::string(400, '0') + "1", NumberForm::Real, 0, ""},
      {"0." + std::string(323, '0') + "5", NumberForm::Real, 0x0000000000000001u, ""},
      {"9007199254740993.0", NumberForm::Real, 0x4340000000000000u, ""},
      {"9007199254740993." + std::string(1000, '0') + "1", NumberForm::Real, 0x4340000000000001u,
       ""},
      {"1" + std::string(400, '0') + ".0", NumberForm::Real, positiveInfinity, ""},
      {"1" + std::string(400, '0') + ".0E-100", NumberForm::Real, positiveInfinity, ""},
  });
}

// Below the normal range each step still keeps 53 bits; only the result is rounded to a
// subnormal. A chain of plain binary64 multiplications gives other bits for these.
TEST(ParseNumber, RealScalingKeepsPrecisionBelowTheNormalRange) {
  expectNumbers({
      {"2E-322", NumberForm::Real, 0x28, ""},  // plain multiplications: 0x29
      {"2E-319", NumberForm::Real, 0x9E20, ""},
      {"9.87654321E-309", NumberForm::Real, 0x71A1C83430ECAu, ""},
      {"12345.678E-327", NumberForm::Real, 0x2, ""},
      {"1E-323", NumberForm::Real, 0x2, ""},
      {"1E-324", NumberForm::Real, 0, ""},
      {"2.5E-324", NumberForm::Real, 0x1, ""},
  });
}

// Multiplying by 10 or 0.1 is exact in scale: a chain of plain multiplications on the value
// moved into the middle of the binary64 range, moved back with one rounding, is the result.
double referenceScale(double value, int32_t exponent) {
  int shift = exponent < 0 ? 700 : -700;
  double scaled = std::ldexp(value, shift);
  for (int32_t i = 0; i < std::abs(exponent); ++i)
    scaled *= exponent < 0 ? 0.1 : 10.0;
  return std::ldexp(scaled, -shift);
}

TEST(ScaleByTens, MatchesStepwiseMultiplicationAcrossTheRange) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> mantissas(1.0, 10.0);
  std::uniform_int_distribution<int32_t> exponents(-340, 340);
  for (int i = 0; i < 20000; ++i) {
    double mantissa = mantissas(random);
    int32_t exponent = exponents(random);
    double expected = referenceScale(mantissa, exponent);
    double got = scaleByTens(mantissa, exponent);
    ASSERT_EQ(0, std::memcmp(&expected, &got, sizeof got))
        << mantissa << "E" << exponent << ": " << expected << " vs " << got;
  }
}

TEST(ParseNumber, MalformedNumbersLeaveTheTextAlone) {
  for (const std::string input : {"-", "+1", "- 1", ".5", "1.", "1.e5", "1e", "1E+", "1e-", "--1",
                                  "-a", "", " ", "\f1", "x1", "1.E5", "0.e1", "1e+-1"}) {
    SCOPED_TRACE(input);
    JsonDocument document;
    std::string left;
    EXPECT_FALSE(run(parseNumber, input, document, left));
    EXPECT_EQ(nullptr, document.root());
    EXPECT_EQ(input, left);
  }
}

}  // namespace
}  // namespace tolvex
