// The Windows program, run as a user runs it (under Wine, through TOLVEX_PROGRAM), on what
// only Windows has: the names it refuses, its wide command line, its console and Ctrl-C.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "program_run.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

// Keys that Windows would misread are refused before anything is made for them: the line
// ends in "o NG", the walk stops, and nothing appears but the output root.
TEST(WindowsEndToEnd, NamesWindowsWouldMisreadAreRefused) {
  struct Case {
    std::string key;  // as written in the header, already a JSON string literal's content
    std::string printed;
  };
  const Case cases[] = {
      {"con.txt", "con.txt"},
      {"NUL", "NUL"},
      {"Com1.js", "Com1.js"},
      {"lpt9", "lpt9"},
      {"a:b", "a:b"},
      {"C:escaped", "C:escaped"},
      {"file.txt:stream", "file.txt:stream"},
      {"x.", "x."},
      {"x ", "x "},
      {".. ", ".. "},
      {"a<b", "a<b"},
      {"a|b", "a|b"},
      {"a?b", "a?b"},
      {"a*b", "a*b"},
      {"a\\\"b", "a\"b"},
      {"\\u0001", "\x01"},
      {"a\\u001fb",
       "a\x1f"
       "b"},
      {"not UTF-8 \xFF", "not UTF-8 \xFF"},
      {std::string(256, 'n'), std::string(256, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.printed));
    TempDir dir;
    writeFile("sentinel", "untouched");
    std::string header = "{\"files\":{\"" + c.key + "\":{\"offset\":\"0\",\"size\":4}}}";
    writeFile("evil.asar", archiveFromHeader(header, "evil"));
    Outcome run = runTolvex({"evil.asar"});
    EXPECT_EQ(
        banner + "evil.asar\nExtracting tolvex/" + c.printed + " o NG\nError: Extraction failed.\n",
        run.output);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ((TreeSnapshot{{"evil.asar", "file:" + readFile("evil.asar")},
                            {"sentinel", "file:untouched"},
                            {"tolvex", "dir"}}),
              snapshotTree("."));
  }
}

// The arguments come from the wide command line, the names go to the file system as
// UTF-16: neither needs to be ASCII. A backslash separates as a slash does.
TEST(WindowsEndToEnd, NamesNeedNotBeAscii) {
  TempDir dir;
  ArchiveBuilder archive;
  archive.addFile("\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA9t\xC3\xA9.txt", "summer");  // 日本/été.txt
  archive.addFile("\xF0\x9F\x98\x80", "emoji");
  archive.addFile(std::string(255, 'n'), "longest");
  ASSERT_EQ(0, mkdir("sub", 0777));
  archive.writeTo("sub/\xC3\xA9 \xE6\x97\xA5.asar");  // é 日.asar
  Outcome run = runTolvex({"sub\\\xC3\xA9 \xE6\x97\xA5.asar"});
  EXPECT_EQ(banner + "\xC3\xA9 \xE6\x97\xA5.asar\n" + "Extracting tolvex/" + std::string(255, 'n') +
                " (7) . OK\n"
                "Extracting tolvex/\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA9t\xC3\xA9.txt (6) . OK\n"
                "Extracting tolvex/\xF0\x9F\x98\x80 (5) . OK\n",
            run.output);
  EXPECT_EQ((TreeSnapshot{{std::string(255, 'n'), "file:longest"},
                          {"\xE6\x97\xA5\xE6\x9C\xAC", "dir"},
                          {"\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA9t\xC3\xA9.txt", "file:summer"},
                          {"\xF0\x9F\x98\x80", "file:emoji"}}),
            snapshotTree("tolvex"));
}

// What the terminal shows, without the escapes and carriage returns that the emulator's
// console adds around what the program writes (the program itself writes no escape: a
// control in a name shows as "?").
std::string shownText(const std::string& terminal) {
  std::string text;
  for (size_t i = 0; i < terminal.size(); ++i) {
    if (terminal[i] == '\r') continue;
    if (terminal[i] != '\x1B') {
      text += terminal[i];
      continue;
    }
    // ESC [ parameters, then one final byte from @ to ~.
    if (i + 1 < terminal.size() && terminal[i + 1] == '[') {
      i += 2;
      while (i < terminal.size() && (terminal[i] < '@' || terminal[i] > '~'))
        ++i;
    }
  }
  return text;
}

// On a console, names are text in the console's own characters, and controls show as "?".
TEST(WindowsEndToEnd, ConsoleShowsNamesAsTextAndControlsAsQuestionMarks) {
  TempDir dir;
  ArchiveBuilder archive;
  archive.addFile("a \xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt", "x");  // a é 日本.txt
  archive.addFile("b\x1B]0;title\x07z\xC2\x9B", "never");           // refused: it holds controls
  archive.writeTo("\xC3\xA9t\xC3\xA9.asar");
  Outcome run = runTolvexOnTerminal({"\xC3\xA9t\xC3\xA9.asar"});
  EXPECT_EQ(banner +
                "\xC3\xA9t\xC3\xA9.asar\n"
                "Extracting tolvex/a \xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.txt (1) . OK\n"
                "Extracting tolvex/b?]0;title?z? o NG\n"
                "Error: Extraction failed.\n",
            shownText(run.output));
  EXPECT_EQ(0, run.status);
}

// The archive being extracted is the file that an entry replaces: it is read to its end,
// and nothing of the old file is left beside the new one.
TEST(WindowsEndToEnd, ArchiveCanReplaceItself) {
  TempDir dir;
  ArchiveBuilder archive;
  archive.addFile("self.asar", "new");
  archive.addFile("z.txt", "after");
  ASSERT_EQ(0, mkdir("tolvex", 0777));
  archive.writeTo("tolvex/self.asar");
  Outcome run = runTolvex({"tolvex/self.asar"});
  EXPECT_EQ(banner +
                "self.asar\n"
                "Extracting tolvex/self.asar (3) . OK\n"
                "Extracting tolvex/z.txt (5) . OK\n",
            run.output);
  EXPECT_EQ((TreeSnapshot{{"self.asar", "file:new"}, {"z.txt", "file:after"}}),
            snapshotTree("tolvex"));
}

// Ctrl-C (the emulator turns SIGINT into it) while a large file is copied to a console:
// the line is ended as it stands, the entries after it are taken back, and the program ends with
// the status of a program that Ctrl-C ended, STATUS_CONTROL_C_EXIT (its low byte here).
TEST(WindowsEndToEnd, CtrlCWindsTheRunDown) {
  TempDir dir;
  const uint64_t size = largeCopySize;
  Outcome run = interruptLargeCopy(1500);
  run.output = shownText(run.output);
  EXPECT_EQ(0xC000013A & 0xFF, run.status);
  const std::string start = banner + "big.asar\nExtracting tolvex/a (268435456) ";
  ASSERT_EQ(start, run.output.substr(0, start.size()));
  std::string marks = run.output.substr(start.size());
  ASSERT_FALSE(marks.empty());
  EXPECT_EQ('\n', marks.back());
  // The console breaks lines at its width on its own.
  marks.erase(std::remove(marks.begin(), marks.end(), '\n'), marks.end());
  EXPECT_EQ(std::string(marks.size(), '.'), marks);
  EXPECT_LT(marks.size(), size / 1024);
  // The emulator's console redraws what it scrolls, so the marks it shows are not counted
  // against the file here (the suite shared with POSIX counts them).
  TreeSnapshot tree = snapshotTree("tolvex");
  ASSERT_EQ(1u, tree.size());
  const size_t held = tree["a"].size() - 5;  // after "file:"
  EXPECT_EQ(0u, held % 1024);
  EXPECT_LT(held, size);
}

}  // namespace
}  // namespace tolvex
