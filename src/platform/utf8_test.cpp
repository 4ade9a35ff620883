#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvex {
namespace {

using namespace std::string_literals;

// The one decoder of UTF-8 that the terminal, the names Windows takes and its text use.
// Each ill-formed piece is one sequence per maximal subpart: the lead byte with the
// continuation bytes that still fit a valid sequence, or a single byte when none do.
TEST(DecodeUtf8, ReadsOneSequenceOrItsMaximalSubpart) {
  struct Case {
    const char* name;
    std::string text;
    size_t length;
    bool wellFormed;
    uint32_t codePoint;
    bool loneSurrogates = false;
  };
  const Case cases[] = {
      {"ASCII", "az", 1, true, 'a'},
      {"NUL", "\0"s, 1, true, 0},
      {"two bytes", "\xC3\xA9", 2, true, 0xE9},
      {"C1 control", "\xC2\x9B", 2, true, 0x9B},
      {"three bytes", "\xE4\xB8\xAD", 3, true, 0x4E2D},
      {"four bytes", "\xF0\x9F\x98\x80", 4, true, 0x1F600},
      {"U+D7FF", "\xED\x9F\xBF", 3, true, 0xD7FF},
      {"U+10FFFF", "\xF4\x8F\xBF\xBF", 4, true, 0x10FFFF},
      {"a continuation byte", "\x80", 1, false, 0xFFFD},
      {"C0 and C1 leads", "\xC0\x80", 1, false, 0xFFFD},
      {"F5 lead", "\xF5\x80\x80\x80", 1, false, 0xFFFD},
      {"FF", "\xFF", 1, false, 0xFFFD},
      {"overlong three bytes", "\xE0\x9F\xBF", 1, false, 0xFFFD},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", 1, false, 0xFFFD},
      {"a surrogate", "\xED\xA0\x80", 1, false, 0xFFFD},
      {"a surrogate, on its own as Windows names hold one", "\xED\xA0\x80", 3, true, 0xD800, true},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 1, false, 0xFFFD},
      {"cut after the lead", "\xE4x", 1, false, 0xFFFD},
      {"cut after two of three", "\xE4\xB8x", 2, false, 0xFFFD},
      {"cut at the end", "\xF0\x9F\x98", 3, false, 0xFFFD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Utf8Sequence sequence = decodeUtf8(c.text, c.loneSurrogates);
    EXPECT_EQ(c.length, sequence.length);
    EXPECT_EQ(c.wellFormed, sequence.wellFormed);
    EXPECT_EQ(c.codePoint, sequence.codePoint);
  }
}

TEST(Utf16, TurnsUtf8IntoUtf16) {
  struct Case {
    const char* name;
    std::string text;
    std::wstring wide;
  };
  const Case cases[] = {
      {"ASCII", "a.txt", L"a.txt"},
      {"two and three bytes", "\xC3\xA9\xE6\x97\xA5", L"\x00E9\x65E5"},
      {"four bytes: a pair", "\xF0\x9F\x98\x80", L"\xD83D\xDE00"},
      {"a surrogate on its own", "a\xED\xA0\x80z", L"a\xD800z"},
      {"a NUL is a character", "a\0b"s, L"a\0b"s},
      {"a lone continuation byte", "a\x80z", L"a\xFFFDz"},
      {"overlong", "\xC0\xAF", L"\xFFFD\xFFFD"},
      {"cut short, then more", "\xE6\x97z", L"\xFFFDz"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"a byte no sequence starts with", "\xFF", L"\xFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.wide, wideFromUtf8(c.text));
  }
}

TEST(Utf16, TurnsAnyUtf16IntoBytesAndBack) {
  struct Case {
    const char* name;
    std::wstring wide;
    std::string text;
  };
  const Case cases[] = {
      {"BMP", L"\x00E9t\x65E5", "\xC3\xA9t\xE6\x97\xA5"},
      {"a pair", L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {"a lone high surrogate", L"a\xD83D", "a\xED\xA0\xBD"},
      {"a lone low surrogate", L"\xDE00z", "\xED\xB8\x80z"},
      {"low before high", L"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.text, utf8FromWide(c.wide));
    EXPECT_EQ(c.wide, wideFromUtf8(c.text));
  }
}

TEST(Utf16, FindsASequenceCutAtTheEnd) {
  struct Case {
    std::string text;
    size_t tail;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},
      {"a\xC3", 1},
      {"a\xC3\xA9", 0},
      {"\xE6\x97", 2},
      {"\xF0\x9F\x98", 3},
      {"\xF0\x9F\x98\x80", 0},
      {"\xEF\xBF\xBD", 0},  // U+FFFD itself, whole
      {"\xE0\x80", 0},      // no sequence can go on from there
      {"\xC0", 0},
      {"\xFF", 0},
      {"\x80\x80", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(c.tail, incompleteTail(c.text));
  }
}

}  // namespace
}  // namespace tolvex
