#include "console/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvex {
namespace {

// Controls become '?', and so does each maximal ill-formed subpart (as decodeUtf8 finds
// them); every other character is shown as it is.
TEST(TerminalText, KeepsValidUtf8AndShowsControlsAndIllFormedBytesAsQuestionMarks) {
  struct Case {
    const char* name;
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"C0 controls, NUL and DEL", std::string("\x1B[2J\0\x1F~\x7F", 8), "?[2J??~?"},
      {"C1: first, CSI, last", "\xC2\x80|\xC2\x9B|\xC2\x9F", "?|?|?"},
      {"U+00A0, 2, 3 and 4 bytes", "\xC2\xA0\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80",
       "\xC2\xA0\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {"ill-formed, one '?' per subpart", "a\x80\xE4\xB8x\xED\xA0\x80\xF0\x9F\x98", "a??x????"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.shown, terminalText(c.text));
  }
}

}  // namespace
}  // namespace tolvex
