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
    "b\x7f\0c\xC3\xA9",
    13);

TEST(PrintName, WritesEveryByteWhenNotATerminal) {
  OutputCapture output(false);
  printName(hostileName);
  EXPECT_EQ(hostileName, output.text());
}

TEST(PrintName, ShowsControlBytesAsQuestionMarksOnATerminal) {
  OutputCapture output(true);
  printName(hostileName);
  EXPECT_EQ("a?]0;x?b??c\xC3\xA9", output.text());
}

TEST(PrintLine, EndsWithNewlineAndFlush) {
  OutputCapture output;
  printLine(std::string("x\0y", 3));
  EXPECT_EQ(std::string("x\0y\n", 4), output.text());
  EXPECT_EQ(1, output.flushes());
}

TEST(FlushMarksIfDue, FlushesOnlyOnATerminal) {
  {
    OutputCapture output(false);
    flushMarksIfDue();
    EXPECT_EQ(0, output.flushes());
  }
  OutputCapture output(true);
  // The first call after a quiet spell flushes; at once again, it does not.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  flushMarksIfDue();
  flushMarksIfDue();
  EXPECT_EQ(1, output.flushes());
}

}  // namespace
}  // namespace tolvex
