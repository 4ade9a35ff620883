#include "console/console.h"

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
  endLine();
  EXPECT_EQ(hostileName + "\n", output.text());
}

TEST(PrintName, ShowsControlBytesAsQuestionMarksOnATerminal) {
  OutputCapture output(true);
  printName(hostileName);
  EXPECT_EQ("a?]0;x?b??c\xC3\xA9??", output.text());
}

// Off a terminal whole lines gather as on one, and only whole lines are written: a line
// not yet ended waits for its end, however long.
TEST(Console, GathersWholeLinesOffATerminal) {
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  OutputCapture output(false);
  printText("Extracting ");
  printMarks(3);
  EXPECT_EQ(0, output.writes());
  endLine();  // after a quiet spell: at once
  EXPECT_EQ(1, output.writes());
  printLine(std::string("x\0y", 3));
  printText("Extracting ");
  EXPECT_EQ(1, output.writes());
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  flushOutputIfDue();
  EXPECT_EQ(2, output.writes());
  printMarks(2);
  flushOutput();
  EXPECT_EQ(2, output.writes());
  endLine();
  flushOutput();
  EXPECT_EQ(std::string("Extracting ...\nx\0y\nExtracting ..\n", 33), output.text());
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
