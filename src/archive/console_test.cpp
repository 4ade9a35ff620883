#include "archive/console.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "output_capture.h"

namespace tolvex {
namespace {

const std::string hostileName(
    "a\x1b]0;x\x07"
    "b\x7f\0c\xC3\xA9\xC2\x9B\xFF",
    16);

TEST(PrintName, WritesEveryByteWhenNotATerminal) {
  OutputCapture output(false);
  printName(hostileName);
  EXPECT_EQ(hostileName, output.text());
}

TEST(PrintName, ShowsControlBytesAsQuestionMarksOnATerminal) {
  OutputCapture output(true);
  printName(hostileName);
  EXPECT_EQ("a?]0;x?b??c\xC3\xA9??", output.text());
}

// Each ill-formed piece is one '?' per maximal subpart: the lead byte with the continuation
// bytes that still fit a valid sequence, or a single byte when none do.
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
      {"U+D7FF, U+E000, U+10FFFF", "\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF",
       "\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"},
      {"bytes that never start a sequence", "a\x80\xBF\xC0\xC1\xF5\xFFz", "a??????z"},
      {"overlong forms", "\xC0\x80\xE0\x9F\xBF\xF0\x8F\xBF\xBF", "?????????"},
      {"a surrogate, beyond U+10FFFF", "\xED\xA0\x80\xF4\x90\x80\x80", "???????"},
      {"cut sequences", "\xE4\xB8x\xF0\x9F\xC3\xA9\xF0\x9F\x98", "?x?\xC3\xA9?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.shown, terminalText(c.text));
  }
}

// Off a terminal a line is written whole once it ends, and each line at once.
TEST(Console, WritesEachLineAsItEndsOffATerminal) {
  OutputCapture output(false);
  printText("Extracting ");
  printMarks(3);
  EXPECT_EQ(0, output.writes());
  endLine();
  EXPECT_EQ(1, output.writes());
  printLine(std::string("x\0y", 3));
  EXPECT_EQ(2, output.writes());
  flushOutputIfDue();
  EXPECT_EQ(2, output.writes());
  EXPECT_EQ(std::string("Extracting ...\nx\0y\n", 19), output.text());
}

// On a terminal, what is printed within a tenth of a second of the last write waits for
// the next piece after it, or for a waiting thread's look, and goes out in one write.
TEST(Console, GathersWhatATerminalIsShownForATenthOfASecond) {
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  OutputCapture output(true);
  printText("a");  // after a quiet spell: at once
  EXPECT_EQ(1, output.writes());
  for (int i = 0; i < 100; ++i)
    printLine("line");
  printMarks(5);
  EXPECT_EQ(1, output.writes());
  flushOutputIfDue();
  EXPECT_EQ(1, output.writes());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  flushOutputIfDue();
  EXPECT_EQ(2, output.writes());
  EXPECT_EQ(1 + 500 + 5, output.text().size());
}

}  // namespace
}  // namespace tolvex
