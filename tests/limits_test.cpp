// Archives at the limits of what tolvex takes: the nesting bound of the header (1024 open
// containers), exponents at the edges of 32 bits, a million members in one object, and a
// byte count of 4294967295 over a few bytes. Each runs through the whole program (the
// driver's openArchive on a file in a sandbox); the deepest headers also run through the
// built program with its stack limited to 1 MiB, as `ulimit -s 1024` would. Each case is
// meant to take well under a second in the release build; the time is not asserted.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "archive_builder.h"
#include "cli/driver.h"
#include "disk_tree.h"
#include "json/json_parser.h"
#include "json/json_value.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

// A header with exactly `containers` open at its deepest point (at least 5): the root
// object, then "files" objects each holding a directory entry "d" (two containers a level),
// and at the bottom a "files" object holding the file entry "d" (one byte at offset 0),
// whose extra member "x" holds the rest as nested arrays. The file's path is "tolvex" and
// "/d" once per level.
std::string nestedHeader(size_t containers) {
  size_t directories = (containers - 4) / 2;
  size_t arrays = containers - 3 - 2 * directories;
  std::string entry =
      "{\"offset\":\"0\",\"size\":1,\"x\":" + repeat("[", arrays) + repeat("]", arrays) + "}";
  return "{\"files\":" + repeat("{\"d\":{\"files\":", directories) + "{\"d\":" + entry + "}" +
         repeat("}}", directories) + "}";
}

const std::string deepestPath = "tolvex" + repeat("/d", 511);

class LimitsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sandbox_.ready()); }

  FileSizeCap cap_{64 << 20};  // counts of 4 GiB are fed below
  Sandbox sandbox_;
};

TEST_F(LimitsTest, TakesAHeaderOf1024OpenContainers) {
  EXPECT_EQ("Extracting " + deepestPath + " (1) . OK\n",
            sandbox_.extract(archiveFromHeader(nestedHeader(1024), "z")));
  std::string contents;
  EXPECT_TRUE(readFileBelow(deepestPath, contents));
  EXPECT_EQ("z", contents);
}

TEST_F(LimitsTest, RejectsAHeaderOf1025OpenContainers) {
  EXPECT_EQ("Error: Header malformed.\n",
            sandbox_.extract(archiveFromHeader(nestedHeader(1025), "z")));
  EXPECT_EQ((TreeSnapshot{{"*", "missing"}}), snapshotTree("tolvex"));
}

TEST_F(LimitsTest, Rejects100000OpeningBrackets) {
  EXPECT_EQ("Error: Header malformed.\n",
            sandbox_.extract(archiveFromHeader(std::string(100000, '['))));
  EXPECT_EQ((TreeSnapshot{{"*", "missing"}}), snapshotTree("tolvex"));
}

// Runs the built program on ./archive in a child whose `resource` is limited to `value`;
// with `threads` (not 0), the program's driver in the child, with that many threads making
// the entries. Returns its standard output, followed by a note when it did not exit with
// status 0.
std::string runLimited(int resource, rlim_t value, size_t threads = 0) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    // No more open than the three standard streams when it starts, whatever the test has.
    dup2(out[1], 1);
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    rlimit limit{value, value};
    if (setrlimit(resource, &limit) != 0) _exit(127);
    if (threads > 0) {
      runCommandLine({"archive"}, threads);
      _exit(0);
    }
    execl(TOLVEX_BINARY, "tolvex", "archive", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  UniqueFd reader(out[0]);
  std::string output;
  char buffer[4096];
  for (ssize_t got; (got = read(reader.get(), buffer, sizeof buffer)) > 0;)
    output.append(buffer, size_t(got));
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return output + "[not run]";
  if (WIFSIGNALED(status)) return output + "[signal " + std::to_string(WTERMSIG(status)) + "]";
  if (WEXITSTATUS(status) != 0)
    return output + "[status " + std::to_string(WEXITSTATUS(status)) + "]";
  return output;
}

TEST_F(LimitsTest, HandlesTheDeepestHeadersOnAOneMebibyteStack) {
  const std::string start = std::string(bannerText) + "\n\narchive\n";
  writeFile("archive", archiveFromHeader(std::string(100000, '[')));
  EXPECT_EQ(start + "Error: Header malformed.\n", runLimited(RLIMIT_STACK, 1024 * 1024));
  writeFile("archive", archiveFromHeader(nestedHeader(1025), "z"));
  EXPECT_EQ(start + "Error: Header malformed.\n", runLimited(RLIMIT_STACK, 1024 * 1024));
  writeFile("archive", archiveFromHeader(nestedHeader(1024), "z"));
  EXPECT_EQ(start + "Extracting " + deepestPath + " (1) . OK\n",
            runLimited(RLIMIT_STACK, 1024 * 1024));
}

// A tree as deep as the header allows, one as wide as a window of entries, and a failure
// after them (which takes back what was made ahead of it), all under a limit of 32 open
// files: directories are kept open within a budget and opened again from their parents.
// A directory held open per level, or per entry waiting to be copied, used to run out.
TEST_F(LimitsTest, ExtractsUnderAnOpenFileLimitOf32) {
  const std::string start = std::string(bannerText) + "\n\narchive\n";
  writeFile("archive", archiveFromHeader(nestedHeader(1024), "z"));
  EXPECT_EQ(start + "Extracting " + deepestPath + " (1) . OK\n", runLimited(RLIMIT_NOFILE, 32));
  std::string contents;
  EXPECT_TRUE(readFileBelow(deepestPath, contents));
  sandbox_.clearOutput();

  std::string members, expected;
  for (int i = 0; i < 300; ++i) {
    std::string name = "d" + std::to_string(100 + i);
    members += "\"" + name + "\":{\"files\":{\"x\":{\"offset\":\"0\",\"size\":1}}},";
    expected += "Extracting tolvex/" + name + "/x (1) . OK\n";
  }
  members += "\"e\":{\"files\":{\"x\":{\"offset\":\"5\",\"size\":1}}},\"f\":" + nestedHeader(1020);
  writeFile("archive", archiveFromHeader("{\"files\":{" + members + "}}", "z"));
  EXPECT_EQ(start + expected + "Extracting tolvex/e/x (1) > NG\nError: Extraction failed.\n",
            runLimited(RLIMIT_NOFILE, 32));
  TreeSnapshot tree = snapshotTree("tolvex");
  EXPECT_EQ(300u * 2 + 2, tree.size());
  EXPECT_EQ("file:", tree["e/x"]);
  EXPECT_EQ(0u, tree.count("f"));
}

// A tree of 1,500 files in 185 directories, most of them a few bytes, some a few pieces.
std::string wideTree() {
  ArchiveBuilder builder;
  int n = 0;
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 6; ++b)
      for (int c = 0; c < 5; ++c)
        for (int f = 0; f < 10; ++f, ++n)
          builder.addFile("d" + std::to_string(a) + "/e" + std::to_string(b) + "/g" +
                              std::to_string(c) + "/f" + std::to_string(f),
                          std::string(n % 97 == 0 ? 3000 : n % 7, char('a' + n % 26)));
  return builder.build();
}

// Every limit of open files from 6 (the three standard streams, the archive, a directory
// and a file) up to 40 gives the lines and the tree of a run without a limit, on every
// run; below 6 the first file fails at once. Runs used to end in different ways under one
// low limit, as the two threads took descriptors from each other, and under a limit of 6
// the program never ended.
TEST(OpenFileLimits, EveryLimitGivesOneOutcome) {
#ifdef TOLVEX_SANITIZED_PROGRAM
  GTEST_SKIP() << "a sanitizer's runtime opens files of its own before the program starts";
#endif
  // Memory is enough for this; disks that are slow to make many files are not needed.
  TempDir dir(true, access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
  writeFile("archive", wideTree());
  const std::string start = std::string(bannerText) + "\n\narchive\n";
  const std::string unlimited = runLimited(RLIMIT_NOFILE, 1024);
  const TreeSnapshot whole = snapshotTree("tolvex");
  ASSERT_EQ(1500u + 185u, whole.size());
  const std::string refused =
      start + "Extracting tolvex/d0/e0/g0/f0 o NG\nError: Extraction failed.\n";
  for (rlim_t limit = 3; limit <= 40; ++limit) {
    for (int round = 0; round < 4; ++round) {
      // The program as it chooses, and the driver with 16 threads in flight.
      const size_t threads = round % 2 == 0 ? 0 : 16;
      SCOPED_TRACE("limit " + std::to_string(limit) + ", round " + std::to_string(round));
      removeTree("tolvex");
      std::string output = runLimited(RLIMIT_NOFILE, limit, threads);
      TreeSnapshot tree = snapshotTree("tolvex");
      if (limit >= 6) {
        ASSERT_EQ(unlimited, output);
        ASSERT_EQ(whole, tree);
      } else if (limit >= 4) {
        ASSERT_EQ(refused, output);
        for (const auto& [path, what] : tree)
          ASSERT_EQ("dir", what) << path;
      } else {
        // Three open files leave none for the archive, or, for a program linked
        // dynamically, for the libraries it needs before it starts.
        ASSERT_TRUE(output == start + "Error: Cannot open archive.\n" || output == "[status 127]")
            << output;
      }
    }
  }
}

// Exponents of 2^31 - 1 and -2^31, in each form a number takes: scaling is bounded, so each
// is quick, and each gives the byte count 0 as the size of a file entry.
TEST_F(LimitsTest, TakesExponentsAtThe32BitEdgesInEveryForm) {
  struct Case {
    const char* text;
    NumberForm form;
    uint64_t payload;
  };
  const Case cases[] = {
      {"1E2147483647", NumberForm::Unsigned, 0},
      {"4294967295e+2147483647", NumberForm::Unsigned, 0},
      {"0E2147483647", NumberForm::Unsigned, 0},
      {"-1E2147483647", NumberForm::Signed, 0},
      {"-2147483648e+2147483647", NumberForm::Signed, 0},
      {"1.5E2147483647", NumberForm::Real, 0x7FF0000000000000},    // infinity
      {"-1.5e+2147483647", NumberForm::Real, 0xFFF0000000000000},  // -infinity
      {"0.0E2147483647", NumberForm::Real, 0},
      {"1E-2147483648", NumberForm::Real, 0},
      {"-1e-2147483648", NumberForm::Real, 0x8000000000000000},  // -0.0
      {"1.5E-2147483648", NumberForm::Real, 0},
      {"-4294967295.5e-2147483648", NumberForm::Real, 0x8000000000000000},
      {"1E2147483648", NumberForm::Real, 0},  // the exponent wraps round to -2^31
  };
  std::string members;
  std::set<std::string> keys;  // in byte order, as the walk visits them
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JsonDocument document;
    ASSERT_TRUE(parseDocument(c.text, document));
    ASSERT_EQ(JsonKind::Number, document.root()->kind);
    const auto& number = static_cast<const JsonNumber&>(*document.root());
    EXPECT_EQ(c.form, number.form);
    EXPECT_EQ(c.payload, number.payload);
    std::string key = "size " + std::string(c.text);
    members += std::string(members.empty() ? "" : ",") + jsonQuoted(key) +
               ":{\"offset\":\"0\",\"size\":" + c.text + "}";
    keys.insert(key);
  }
  std::string expected;
  for (const std::string& key : keys)
    expected += "Extracting tolvex/" + key + " (0)  OK\n";
  EXPECT_EQ(expected, sandbox_.extract(archiveFromHeader("{\"files\":{" + members + "}}")));
}

TEST_F(LimitsTest, WalksAMillionMembersGivenInReverseKeyOrder) {
  std::string header = "{\"files\":{";
  header.reserve(14 * 1000000);
  char member[64];
  for (int i = 999999; i >= 0; --i) {
    bool file = i == 0 || i == 999999;  // the first and the last in key order
    std::snprintf(member, sizeof member, "\"k%06d\":%s%s", i,
                  file ? "{\"offset\":\"0\",\"size\":1}" : "{}", i == 0 ? "" : ",");
    header += member;
  }
  header += "}}";
  JsonDocument document;
  ASSERT_TRUE(parseDocument(header, document));
  const auto& files = static_cast<const JsonObject&>(document.member("files"));
  EXPECT_EQ(1000000u, files.memberCount());
  EXPECT_EQ("k000000", files.memberKey(0));
  EXPECT_EQ("k999999", files.memberKey(999999));

  EXPECT_EQ("Extracting tolvex/k000000 (1) . OK\nExtracting tolvex/k999999 (1) . OK\n",
            sandbox_.extract(archiveFromHeader(header, "m")));
  EXPECT_EQ((TreeSnapshot{{"k000000", "file:m"}, {"k999999", "file:m"}}), snapshotTree("tolvex"));
}

// The largest count, or a prefix declaring the largest text, over a few bytes: memory stays
// small and the file ends as soon as the archive does.
TEST_F(LimitsTest, TakesACountOf4294967295OnAShortArchive) {
  struct Case {
    const char* name;
    std::string archive;
    std::string output;
    TreeSnapshot tree;
  };
  const std::string file = "\"f\":{\"offset\":\"0\",\"size\":";
  const Case cases[] = {
      {"size 4294967295",
       archiveFromHeader("{\"files\":{" + file + "4294967295}}}", "abc"),
       "Extracting tolvex/f (4294967295) > NG\nError: Extraction failed.\n",
       {{"f", "file:"}}},
      {"size -1",
       archiveFromHeader("{\"files\":{" + file + "-1}}}", "abc"),
       "Extracting tolvex/f (4294967295) > NG\nError: Extraction failed.\n",
       {{"f", "file:"}}},
      {"size 4294967295 over 2100 bytes",
       archiveFromHeader("{\"files\":{" + file + "4294967295}}}", std::string(2100, 'q')),
       "Extracting tolvex/f (4294967295) ..> NG\nError: Extraction failed.\n",
       {{"f", "file:" + std::string(2048, 'q')}}},
      {"text length 4294967295",
       le32({4, 8, 4, 0xFFFFFFFF}) + "{\"files\":{}}",
       "",
       {{"*", "missing"}}},
      {"text length 4294967276, the largest that fits",
       le32({4, 0xFFFFFFF4, 0xFFFFFFF0, 0xFFFFFFEC}) + "{\"files\":{}}",
       "",
       {{"*", "missing"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sandbox_.clearOutput();
    EXPECT_EQ(c.output, sandbox_.extract(c.archive));
    EXPECT_EQ(c.tree, snapshotTree("tolvex"));
  }
}

}  // namespace
}  // namespace tolvex
