// Entry names aimed outside the output root, names at the file system's limits, things
// planted in the root before extraction, and names that look odd but are plain: each run
// through the whole program (openArchive on a file) in a sandbox whose sentinels, one beside
// the root and one above it, must stay untouched, with nothing new outside the root.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "archive_builder.h"
#include "disk_tree.h"
#include "sandbox.h"
#include "test_files.h"

namespace tolvex {
namespace {

using namespace std::string_literals;

std::string fileMember(const std::string& key, const std::string& offset, uint32_t size) {
  return jsonQuoted(key) + ":{\"offset\":\"" + offset + "\",\"size\":" + std::to_string(size) + "}";
}

// An archive over the data "abcdef" whose "files" object has the members `members`.
std::string archiveWith(const std::string& members) {
  return archiveFromHeader("{\"files\":{" + members + "}}", "abcdef");
}

class ContainmentTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.ready()); }

  Sandbox sandbox_;
};

// A key that is not one plain component is refused where it would make something, as a
// file or as a directory, and the walk stops there: later members are not extracted.
TEST_F(ContainmentTest, RefusesKeysThatAreNotOnePlainComponent) {
  const std::string keys[] = {"..",    "../x",        "a/../../x",     "a/b", "/etc",
                              "",      ".",           "a\0b"s,         "\0"s, "a\\b",
                              "..\\x", "../sentinel", "../../sentinel"};
  for (const std::string& key : keys) {
    for (bool asDirectory : {false, true}) {
      SCOPED_TRACE((asDirectory ? "directory " : "file ") + jsonQuoted(key));
      std::string entry =
          asDirectory ? jsonQuoted(key) + ":{\"files\":{" + fileMember("sentinel", "0", 3) + "}}"
                      : fileMember(key, "0", 3);
      sandbox_.clearOutput();
      EXPECT_EQ("Extracting tolvex/" + key + " o NG\nError: Extraction failed.\n",
                sandbox_.extract(archiveWith(entry + "," + fileMember("zz", "3", 3))));
      EXPECT_EQ("", sandbox_.changesOutside());
      EXPECT_EQ(TreeSnapshot(), snapshotTree("tolvex"));
    }
  }
  // On a terminal the zero byte shows as '?'.
  sandbox_.clearOutput();
  EXPECT_EQ("Extracting tolvex/a?b o NG\nError: Extraction failed.\n",
            sandbox_.extract(archiveWith(fileMember("a\0b"s, "0", 3)), true));
}

TEST_F(ContainmentTest, TakesNamesUpTo255Bytes) {
  const std::string longest(255, 'n'), tooLong(256, 'n');
  EXPECT_EQ("Extracting tolvex/" + longest + " (3) . OK\n",
            sandbox_.extract(archiveWith(fileMember(longest, "0", 3))));
  EXPECT_EQ((TreeSnapshot{{longest, "file:abc"}}), snapshotTree("tolvex"));

  sandbox_.clearOutput();
  EXPECT_EQ("Extracting tolvex/" + tooLong + " o NG\nError: Extraction failed.\n",
            sandbox_.extract(archiveWith(fileMember(tooLong, "0", 3))));
  sandbox_.clearOutput();
  EXPECT_EQ("Extracting tolvex/" + tooLong + "/f o NG\nError: Extraction failed.\n",
            sandbox_.extract(archiveWith(jsonQuoted(tooLong) + ":{\"files\":{" +
                                         fileMember("f", "0", 3) + "}}")));
  EXPECT_EQ(TreeSnapshot(), snapshotTree("tolvex"));
  EXPECT_EQ("", sandbox_.changesOutside());
}

// Directories are made and entered one at a time, so no path length limit applies.
TEST_F(ContainmentTest, ExtractsBelowPathsLongerThanPathMax) {
  std::string path;
  for (char c = 'a'; path.size() <= PATH_MAX; ++c)
    path += std::string(200, c) + "/";
  path += "f";
  ArchiveBuilder builder;
  builder.addFile(path, "deep");
  EXPECT_EQ("Extracting tolvex/" + path + " (4) . OK\n", sandbox_.extract(builder.build()));
  std::string contents;
  EXPECT_TRUE(readFileBelow("tolvex/" + path, contents));
  EXPECT_EQ("deep", contents);
  EXPECT_EQ("", sandbox_.changesOutside());
}

// What was in the output root before: links, a FIFO, a file where a directory belongs.
// None of it is followed, opened or replaced; the entry fails as a file that cannot be made.
TEST_F(ContainmentTest, FollowsNothingPlantedInTheRoot) {
  struct Case {
    const char* name;
    std::function<int()> plant;  // 0 when planted
    std::string archivePath;
    TreeSnapshot rootAfter;
  };
  const Case cases[] = {
      {"link at the file to the sentinel",
       [] { return symlink("../sentinel", "tolvex/f"); },
       "f",
       {{"f", "link:../sentinel"}}},
      {"link at the file to an absent path",
       [] { return symlink("../nowhere", "tolvex/f"); },
       "f",
       {{"f", "link:../nowhere"}}},
      {"link at a directory on the way",
       [] { return symlink("../outside", "tolvex/d"); },
       "d/f",
       {{"d", "link:../outside"}}},
      {"link at a directory deeper on the way",
       [] { return mkdir("tolvex/a", 0777) | symlink("../../..", "tolvex/a/b"); },
       "a/b/sentinel",
       {{"a", "dir"}, {"a/b", "link:../../.."}}},
      {"dangling link at a directory on the way",
       [] { return symlink("../nowhere", "tolvex/d"); },
       "d/f",
       {{"d", "link:../nowhere"}}},
      {"FIFO at the file", [] { return mkfifo("tolvex/f", 0666); }, "f", {{"f", "other"}}},
      {"file where a directory is needed",
       [] {
         writeFile("tolvex/d", "keep");
         return 0;
       },
       "d/f",
       {{"d", "file:keep"}}},
  };
  mkdir("outside", 0777);
  sandbox_.rememberOutside();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox_.clearOutput();
    ASSERT_EQ(0, mkdir("tolvex", 0777));
    ASSERT_EQ(0, c.plant());
    ArchiveBuilder builder;
    builder.addFile(c.archivePath, "new");
    EXPECT_EQ("Extracting tolvex/" + c.archivePath + " o NG\nError: Extraction failed.\n",
              sandbox_.extract(builder.build()));
    EXPECT_EQ(c.rootAfter, snapshotTree("tolvex"));
    EXPECT_EQ("", sandbox_.changesOutside());
  }
}

// The output root itself taken by something else: the walk neither blocks on a FIFO nor
// writes into a file, and every file fails.
TEST_F(ContainmentTest, LeavesARootThatIsNotADirectoryAlone) {
  ArchiveBuilder builder;
  builder.addFile("f", "new");
  for (bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "regular file");
    sandbox_.clearOutput();
    if (fifo)
      ASSERT_EQ(0, mkfifo("tolvex", 0666));
    else
      writeFile("tolvex", "keep");
    EXPECT_EQ("Extracting tolvex/f o NG\nError: Extraction failed.\n",
              sandbox_.extract(builder.build()));
    struct stat status;
    ASSERT_EQ(0, lstat("tolvex", &status));
    EXPECT_EQ(fifo, S_ISFIFO(status.st_mode));
    if (!fifo) {
      EXPECT_EQ("keep", readFile("tolvex"));
    }
    EXPECT_EQ("", sandbox_.changesOutside());
  }
}

// Control bytes are plain name bytes: the file is made with them. The progress line
// carries them unchanged, except on a terminal, where each shows as '?'.
TEST_F(ContainmentTest, ShowsControlBytesInNamesAsQuestionMarksOnATerminal) {
  struct Case {
    std::string key;
    std::string onTerminal;
  };
  const Case cases[] = {
      {"\x1B[31mred\x1B[0m", "?[31mred?[0m"},
      {"\x1B]0;title\x07", "?]0;title?"},
      {"\x1B[2J\x1B[H", "?[2J?[H"},
      {"cr\rline", "cr?line"},
      {"nl\nline", "nl?line"},
      {"tab\tdel\x7F", "tab?del?"},
      {"\x01\x1F", "??"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(jsonQuoted(c.key));
    for (bool asTerminal : {false, true}) {
      sandbox_.clearOutput();
      EXPECT_EQ("Extracting tolvex/" + (asTerminal ? c.onTerminal : c.key) + " (3) . OK\n",
                sandbox_.extract(archiveWith(fileMember(c.key, "1", 3)), asTerminal));
      EXPECT_EQ((TreeSnapshot{{c.key, "file:bcd"}}), snapshotTree("tolvex"));
    }
  }
  EXPECT_EQ("", sandbox_.changesOutside());
}

// Names that look like options, hidden files, dots or blanks, and bytes that are not valid
// UTF-8, are plain components and extract like any other, on a terminal or not; off one
// they are printed unchanged (what a terminal shows of them is terminalText's).
TEST_F(ContainmentTest, AcceptsOddButPlainNames) {
  ArchiveBuilder builder;
  builder.addFile(" ", "1");
  builder.addFile("-rf", "2");
  builder.addFile(".../ /-rf", "3");
  builder.addFile(".hidden", "4");
  builder.addFile("\xC3", "5");
  builder.addFile("\xC3\xA9t\xC3\xA9", "6");
  builder.addFile("\xE6\x97\xA5\xE6\x9C\xAC", "7");
  builder.addFile("\xED\xA0\x80", "8");
  builder.addFile("\xFF\xFE", "9");
  const std::string expected =
      "Extracting tolvex/  (1) . OK\n"
      "Extracting tolvex/-rf (1) . OK\n"
      "Extracting tolvex/.../ /-rf (1) . OK\n"
      "Extracting tolvex/.hidden (1) . OK\n"
      "Extracting tolvex/\xC3 (1) . OK\n"
      "Extracting tolvex/\xC3\xA9t\xC3\xA9 (1) . OK\n"
      "Extracting tolvex/\xE6\x97\xA5\xE6\x9C\xAC (1) . OK\n"
      "Extracting tolvex/\xED\xA0\x80 (1) . OK\n"
      "Extracting tolvex/\xFF\xFE (1) . OK\n";
  const TreeSnapshot tree = {
      {" ", "file:1"},
      {"-rf", "file:2"},
      {"...", "dir"},
      {".../ ", "dir"},
      {".../ /-rf", "file:3"},
      {".hidden", "file:4"},
      {"\xC3", "file:5"},
      {"\xC3\xA9t\xC3\xA9", "file:6"},
      {"\xE6\x97\xA5\xE6\x9C\xAC", "file:7"},
      {"\xED\xA0\x80", "file:8"},
      {"\xFF\xFE", "file:9"},
  };
  for (bool asTerminal : {false, true}) {
    SCOPED_TRACE(asTerminal ? "terminal" : "not a terminal");
    sandbox_.clearOutput();
    const std::string printed = sandbox_.extract(builder.build(), asTerminal);
    if (!asTerminal) {
      EXPECT_EQ(expected, printed);
    }
    EXPECT_EQ(tree, snapshotTree("tolvex"));
  }
  EXPECT_EQ("", sandbox_.changesOutside());
}

}  // namespace
}  // namespace tolvex
