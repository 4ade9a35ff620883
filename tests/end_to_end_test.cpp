// Runs the built tolvex program in a fresh temporary directory on archives written there,
// and compares its exact standard output and the tree it leaves behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"
#include "program_run.h"
#include "temp_dir.h"
#include "test_files.h"

namespace tolvex {
namespace {

TEST(EndToEnd, NoArgumentPrintsTheUsage) {
  TempDir dir;
  Outcome run = runTolvex({});
  EXPECT_EQ(banner + "Usage: tolvex <file> [<file> ...]\n", run.output);
  EXPECT_EQ(0, run.status);
  EXPECT_FALSE(exists("tolvex"));
}

// Every kind of run shows a terminal the bytes a pipe gets (names here have no control
// bytes, which a terminal is shown as "?"). On a terminal the usage used to be lost: what
// gathers for it was written on some ways out of the program and not on others.
TEST(EndToEnd, ATerminalIsShownWhatAPipeGets) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string interruptAt;  // the run is interrupted once this is printed
  };
  const Case cases[] = {
      {"no argument", {}, ""},
      {"a missing file", {"missing.asar"}, ""},
      {"a directory", {"adir"}, ""},
      {"a file that is not an archive", {"text.asar"}, ""},
      {"a malformed header", {"malformed.asar"}, ""},
      {"a failed extraction", {"broken.asar"}, ""},
      {"a whole extraction", {"good.asar"}, ""},
      {"two archives", {"broken.asar", "good.asar"}, ""},
      {"interrupted while a FIFO waits for a writer", {"good.asar", "fifo"}, "fifo\n"},
  };
  ArchiveBuilder good;
  good.addFile("a.txt", "first");
  good.addFile("dir/b.bin", repeat("0123456789", 300));
  const std::string goodArchive = good.build();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string outputs[2];
    for (bool terminal : {false, true}) {
      TempDir dir;
      mkdir("adir", 0777);
      ASSERT_EQ(0, mkfifo("fifo", 0600));
      writeFile("text.asar", "not an archive at all");
      writeFile("malformed.asar", archiveFromHeader("{\"files\":{} x"));
      writeFile("broken.asar",
                archiveFromHeader("{\"files\":{\"f\":{\"offset\":\"0\",\"size\":3000}}}", "abc"));
      writeFile("good.asar", goodArchive);
      RunOptions options;
      options.arguments = c.arguments;
      options.terminal = terminal;
      options.timeoutSeconds = 20;
      options.signalWhenPrinted = c.interruptAt;
      options.signal = SIGINT;
      Outcome run = runProgram(options);
      EXPECT_FALSE(run.timedOut);
      EXPECT_EQ(c.interruptAt.empty() ? 0 : -1, run.status);
      EXPECT_EQ(c.interruptAt.empty() ? 0 : SIGINT, run.signal);
      outputs[terminal] = run.output;
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(banner, outputs[0].substr(0, banner.size()));
  }
}

TEST(EndToEnd, NameLineIsTheFinalComponent) {
  TempDir dir;
  // None of these exist, so each name line is followed by the open failure.
  struct Case {
    std::string argument;
    std::string name;
  };
  const Case cases[] = {
      {"app.asar", "app.asar"},
      {"dir/app.asar", "app.asar"},
      {"C:\\x\\y\\app.asar", "app.asar"},
      {"a\\b/c.asar", "c.asar"},
      {"a/b\\c.asar", "c.asar"},
      {"C:app.asar", "C:app.asar"},
      {"dir/", ""},
      {"", ""},
      {"-h", "-h"},
      {"--help", "--help"},
      {"x/\xE5\x5C"
       "y.asar",
       "y.asar"},  // a 0x5C byte separates wherever it stands
      {"a\x1B[31mred.asar", "a\x1B[31mred.asar"},
  };
  std::vector<std::string> arguments;
  std::string expected = banner;
  for (const Case& c : cases) {
    arguments.push_back(c.argument);
    expected += c.name + "\nError: Cannot open archive.\n";
  }
  Outcome run = runTolvex(arguments);
  EXPECT_EQ(expected, run.output);
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(snapshotTree(".").empty());
}

TEST(EndToEnd, ControlBytesOfNamesShowAsQuestionMarksOnATerminal) {
  TempDir dir;
  ArchiveBuilder archive;
  archive.addFile("a\x1B]0;title\x07z", "x");
  writeFile("b\x1B[2J\x7F.asar", archive.build());
  Outcome run = runTolvexOnTerminal({"b\x1B[2J\x7F.asar"});
  EXPECT_EQ(banner + "b?[2J?.asar\nExtracting tolvex/a?]0;title?z (1) . OK\n", run.output);
  EXPECT_EQ("x", readFile("tolvex/a\x1B]0;title\x07z"));
}

TEST(EndToEnd, ArchivesShareTheOutputDirectory) {
  TempDir dir;
  ArchiveBuilder first;
  first.addFile("shared/a.txt", "first a");
  first.addFile("one.txt", "1");
  first.writeTo("first.asar");
  ArchiveBuilder second;
  second.addFile("shared/a.txt", "second");
  second.addFile("shared/b.txt", "b");
  second.addDirectory("empty");
  mkdir("sub", 0777);
  second.writeTo("sub/second.asar");
  Outcome run = runTolvex({"first.asar", "sub/second.asar", "first.asar"});
  EXPECT_EQ(banner +
                "first.asar\n"
                "Extracting tolvex/one.txt (1) . OK\n"
                "Extracting tolvex/shared/a.txt (7) . OK\n"
                "second.asar\n"
                "Extracting tolvex/shared/a.txt (6) . OK\n"
                "Extracting tolvex/shared/b.txt (1) . OK\n"
                "first.asar\n"
                "Extracting tolvex/one.txt (1) . OK\n"
                "Extracting tolvex/shared/a.txt (7) . OK\n",
            run.output);
  EXPECT_EQ((TreeSnapshot{{"empty", "dir"},
                          {"one.txt", "file:1"},
                          {"shared", "dir"},
                          {"shared/a.txt", "file:first a"},
                          {"shared/b.txt", "file:b"}}),
            snapshotTree("tolvex"));
}

TEST(EndToEnd, HeadersThatExtractNothing) {
  struct Case {
    const char* name;
    std::string archive;
    std::string lines;  // after the name line
    bool makesRoot;
  };
  const Case cases[] = {
      {"empty file", "", "", false},
      {"text file", "just some text, not an archive\n", "", false},
      {"valid prefix, empty header", archiveFromHeader(""), "", false},
      {"big-endian prefix", std::string("\0\0\0\4\0\0\0\x0c\0\0\0\x08\0\0\0\2{}\0\0", 20), "",
       false},
      {"scalar root", archiveFromHeader("null"), "", false},
      {"array root", archiveFromHeader("[1]"), "", false},
      {"object without files", archiveFromHeader("{}"), "", false},
      {"files is an array", archiveFromHeader("{\"files\":[]}"), "", false},
      {"empty files", archiveFromHeader("{\"files\":{}}\r\n \t"), "", true},
      {"text after the value", archiveFromHeader("{\"files\":{}} x"), "Error: Header malformed.\n",
       false},
      {"form feed after the value", archiveFromHeader("{\"files\":{}}\f"),
       "Error: Header malformed.\n", false},
      {"truncated header", archiveFromHeader("{\"files\":{\"a\":"), "Error: Header malformed.\n",
       false},
      {"nested past the bound",
       archiveFromHeader("{\"files\":" + repeat("[", 1024) + repeat("]", 1024) + "}"),
       "Error: Header malformed.\n", false},
      {"nested to the bound",
       archiveFromHeader("{\"files\":{\"a\":" + repeat("[", 1022) + repeat("]", 1022) + "}}"), "",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    writeFile("x.asar", c.archive);
    Outcome run = runTolvex({"x.asar"});
    EXPECT_EQ(banner + "x.asar\n" + c.lines, run.output);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(c.makesRoot, exists("tolvex"));
    const TreeSnapshot left =
        c.makesRoot ? TreeSnapshot{} : TreeSnapshot{{"x.asar", "file:" + c.archive}};
    EXPECT_EQ(left, snapshotTree(c.makesRoot ? "tolvex" : "."));
  }
}

TEST(EndToEnd, FailedExtractionThenAGoodArchive) {
  TempDir dir;
  // The second file's data runs past the end of the archive: one whole chunk, then ">".
  std::string header =
      "{\"files\":{\"a.txt\":{\"offset\":\"0\",\"size\":2},"
      "\"b.bin\":{\"offset\":\"2\",\"size\":3000},"
      "\"c.txt\":{\"offset\":\"0\",\"size\":1}}}";
  writeFile("broken.asar", archiveFromHeader(header, "hi" + repeat("x", 1500)));
  ArchiveBuilder good;
  good.addFile("c.txt", "good");
  good.writeTo("good.asar");
  Outcome run = runTolvex({"broken.asar", "good.asar"});
  EXPECT_EQ(banner +
                "broken.asar\n"
                "Extracting tolvex/a.txt (2) . OK\n"
                "Extracting tolvex/b.bin (3000) .> NG\n"
                "Error: Extraction failed.\n"
                "good.asar\n"
                "Extracting tolvex/c.txt (4) . OK\n",
            run.output);
  EXPECT_EQ(
      (TreeSnapshot{
          {"a.txt", "file:hi"}, {"b.bin", "file:" + repeat("x", 1024)}, {"c.txt", "file:good"}}),
      snapshotTree("tolvex"));
}

TEST(EndToEnd, OpenFailuresMakeNothing) {
  TempDir dir;
  mkdir("adir", 0777);
  writeFile("plain", "x");
  ArchiveBuilder good;
  good.addFile("f", "ok");
  good.writeTo("good.asar");
  Outcome run = runTolvex({"missing.asar", "adir", "", "plain/x.asar", "good.asar"});
  EXPECT_EQ(banner +
                "missing.asar\nError: Cannot open archive.\n"
                "adir\nError: Cannot open archive.\n"
                "\nError: Cannot open archive.\n"
                "x.asar\nError: Cannot open archive.\n"
                "good.asar\nExtracting tolvex/f (2) . OK\n",
            run.output);
  EXPECT_EQ((TreeSnapshot{{"f", "file:ok"}}), snapshotTree("tolvex"));
}

TEST(EndToEnd, UnreadableArchiveCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  TempDir dir;
  ArchiveBuilder archive;
  archive.addFile("f", "x");
  archive.writeTo("locked.asar");
  chmod("locked.asar", 0);
  EXPECT_EQ(banner + "locked.asar\nError: Cannot open archive.\n",
            runTolvex({"locked.asar"}).output);
  EXPECT_FALSE(exists("tolvex"));
}

TEST(EndToEnd, UnsafeEntryNamesAreRefused) {
  struct Case {
    std::string key;  // as written in the header, already a JSON string literal's content
    std::string printed;
  };
  const Case cases[] = {
      {"..", "tolvex/.."},
      {".", "tolvex/."},
      {"", "tolvex/"},
      {"../escaped", "tolvex/../escaped"},
      {"a/../../escaped", "tolvex/a/../../escaped"},
      {"/tmp/escaped", "tolvex//tmp/escaped"},
      {"a\\\\..\\\\escaped", "tolvex/a\\..\\escaped"},
      {"nul\\u0000byte", std::string("tolvex/nul\0byte", 15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    TempDir dir;
    writeFile("sentinel", "untouched");
    std::string header = "{\"files\":{\"" + c.key + "\":{\"offset\":\"0\",\"size\":4}}}";
    writeFile("evil.asar", archiveFromHeader(header, "evil"));
    Outcome run = runTolvex({"evil.asar"});
    EXPECT_EQ(banner + "evil.asar\nExtracting " + c.printed + " o NG\nError: Extraction failed.\n",
              run.output);
    EXPECT_EQ((TreeSnapshot{{"evil.asar", "file:" + readFile("evil.asar")},
                            {"sentinel", "file:untouched"},
                            {"tolvex", "dir"}}),
              snapshotTree("."));
  }
}

TEST(EndToEnd, LargeFileInManyChunks) {
  TempDir dir;
  std::string contents;
  for (size_t i = 0; i < 3 * 1024 * 1024 + 5; ++i)
    contents += char(i * 7 + i / 1024);
  ArchiveBuilder archive;
  archive.addFile("big/data.bin", contents);
  archive.addFile("small.txt", "s");
  archive.writeTo("big.asar");
  Outcome run = runTolvex({"big.asar"});
  EXPECT_EQ(banner + "big.asar\n" + "Extracting tolvex/big/data.bin (3145733) " +
                std::string(3073, '.') + " OK\n" + "Extracting tolvex/small.txt (1) . OK\n",
            run.output);
  EXPECT_TRUE(readFile("tolvex/big/data.bin") == contents);
  EXPECT_EQ("s", readFile("tolvex/small.txt"));
}

TEST(EndToEnd, ExistingFilesAreRewrittenAndOthersKept) {
  TempDir dir;
  mkdir("tolvex", 0777);
  writeFile("tolvex/a.txt", "a much longer old content");
  writeFile("tolvex/keep.txt", "kept");
  ArchiveBuilder archive;
  archive.addFile("a.txt", "new");
  archive.writeTo("x.asar");
  EXPECT_EQ(banner + "x.asar\nExtracting tolvex/a.txt (3) . OK\n", runTolvex({"x.asar"}).output);
  EXPECT_EQ((TreeSnapshot{{"a.txt", "file:new"}, {"keep.txt", "file:kept"}}),
            snapshotTree("tolvex"));
}

// Every line of `output` that names a file, by the file's path.
std::set<std::string> namedFiles(const std::string& output) {
  std::set<std::string> paths;
  const std::string start = "Extracting ";
  for (size_t at = output.find(start); at != std::string::npos; at = output.find(start, at + 1)) {
    size_t end = output.find(' ', at + start.size());
    paths.insert(output.substr(at + start.size(), end - at - start.size()));
  }
  return paths;
}

// The files below ./tolvex, by their paths as the progress lines name them.
std::set<std::string> filesInOutput() {
  std::set<std::string> paths;
  for (const auto& [path, what] : snapshotTree("tolvex"))
    if (what.compare(0, 5, "file:") == 0) paths.insert("tolvex/" + path);
  return paths;
}

// Interrupted while a large file is copied to a terminal that is not read for a while:
// the file's line is ended as it stands, its marks counting what the file holds, the run
// ends by the interrupt, and nothing is left of the entries after it. The prompt used to
// start on the line of the marks.
TEST(EndToEnd, InterruptOnATerminalEndsTheLineAndTakesBackTheRest) {
  TempDir dir;
  const uint64_t size = largeCopySize;
  // The marks fill the terminal, which holds far fewer than the file's 262144, and the
  // copy waits for room.
  Outcome run = interruptLargeCopy(500);
  EXPECT_EQ(SIGINT, run.signal);
  const std::string start = banner + "big.asar\nExtracting tolvex/a (268435456) ";
  ASSERT_EQ(start, run.output.substr(0, start.size()));
  std::string marks = run.output.substr(start.size());
  ASSERT_FALSE(marks.empty());
  EXPECT_EQ('\n', marks.back());
  marks.pop_back();
  EXPECT_EQ(std::string(marks.size(), '.'), marks);
  EXPECT_LT(marks.size(), size / 1024);
  struct stat status;
  ASSERT_EQ(0, stat("tolvex/a", &status));
  EXPECT_EQ(marks.size() * 1024, uint64_t(status.st_size));
  EXPECT_EQ((std::set<std::string>{"tolvex/a"}), filesInOutput());
}

// Interrupted while the output waits for a reader: afterwards every file in the tree has
// its line, and every line's file is there. Files copied ahead used to stay without one.
TEST(EndToEnd, InterruptLeavesOnlyFilesWhoseLinesWerePrinted) {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signalNumber));
    TempDir dir;
    // Far more lines than a pipe holds with what the program gathers: it cannot end unread.
    ASSERT_TRUE(writeArchiveWithLargeFile("many.asar", "a", 10, 10000));
    int pipeFds[2];
    ASSERT_EQ(0, pipe(pipeFds));
    pid_t child = startTolvex({"many.asar"}, pipeFds[1]);
    close(pipeFds[1]);
    // Interrupted once lines fill the pipe: the program has its handlers and waits to write.
    int queued = 0;
    for (int i = 0; i < 2000 && queued < 16384; ++i, usleep(10 * 1000))
      ioctl(pipeFds[0], FIONREAD, &queued);
    kill(child, signalNumber);
    Outcome run = collect(child, pipeFds[0]);
    close(pipeFds[0]);
    EXPECT_EQ(signalNumber, run.signal);
    ASSERT_FALSE(run.output.empty());
    EXPECT_EQ('\n', run.output.back());
    std::set<std::string> named = namedFiles(run.output);
    EXPECT_LT(named.size(), 10001u);
    EXPECT_EQ(named, filesInOutput());
  }
}

// A reader that goes away stops neither the extraction nor the archives after it; the
// program used to die of SIGPIPE at its next line.
TEST(EndToEnd, ReaderThatGoesAwayLeavesTheExtractionToRunToItsEnd) {
  TempDir dir;
  ASSERT_TRUE(writeArchiveWithLargeFile("one.asar", "a", 10, 3000));
  ArchiveBuilder second;
  second.addFile("last", "last");
  second.writeTo("two.asar");
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  close(pipeFds[0]);
  pid_t child = startTolvex({"one.asar", "two.asar"}, pipeFds[1]);
  close(pipeFds[1]);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(3001u, filesInOutput().size() - 1);
  EXPECT_EQ("last", readFile("tolvex/last"));
}

// Under a file size limit a write past it fails like a full disk, and the next archive
// goes on; the program used to die of SIGXFSZ.
TEST(EndToEnd, FileSizeLimitFailsTheFileAndTheNextArchiveGoesOn) {
  TempDir dir;
  ASSERT_TRUE(writeArchiveWithLargeFile("big.asar", "a", 100000, 1));
  ArchiveBuilder second;
  second.addFile("small", "fits");
  second.writeTo("small.asar");
  Outcome run = runTolvex({"big.asar", "small.asar"}, [] {
    rlimit limit = {50 * 1024, 50 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(banner + "big.asar\nExtracting tolvex/a (100000) " + std::string(50, '.') +
                "< NG\nError: Extraction failed.\nsmall.asar\nExtracting tolvex/small (4) . OK\n",
            run.output);
  EXPECT_EQ(std::string(50 * 1024, '\0'), readFile("tolvex/a"));
}

// Larger than a pipe holds and than the program reads at once.
const std::string streamed = [] {
  ArchiveBuilder archive;
  archive.addFile("big.bin", repeat("0123456789abcdef", 40000));
  archive.addFile("dir/small.txt", "small");
  return archive.build();
}();

// Used to print the name line alone: reads at positions fail on a pipe or a FIFO. The
// FIFO's writer pauses within the prefix.
TEST(EndToEnd, ArchivesFromPipesAndFifosExtractAsFromFiles) {
  TempDir dir;
  writeFile("a.asar", streamed);
  ASSERT_EQ(0, mkfifo("fifo", 0600));
  Outcome run = runPipeline(
      "{ head -c 5 a.asar; sleep 0.1; tail -c +6 a.asar; } > fifo &"
      "cat a.asar | \"$T\" /dev/stdin fifo a.asar");
  close(open("fifo", O_RDONLY | O_NONBLOCK));  // frees the writer, had the program left it
  const std::string lines = "Extracting tolvex/big.bin (640000) " + std::string(625, '.') +
                            " OK\nExtracting tolvex/dir/small.txt (5) . OK\n";
  EXPECT_EQ(banner + "stdin\n" + lines + "fifo\n" + lines + "a.asar\n" + lines, run.output);
  // The copies are gone: nothing but the archive and the tree.
  unlink("fifo");
  EXPECT_EQ((TreeSnapshot{{"a.asar", "file:" + streamed},
                          {"tolvex", "dir"},
                          {"tolvex/big.bin", "file:" + repeat("0123456789abcdef", 40000)},
                          {"tolvex/dir", "dir"},
                          {"tolvex/dir/small.txt", "file:small"}}),
            snapshotTree("."));
}

// The first bytes are no archive's, so the rest is left in the pipe, here for wc.
TEST(EndToEnd, StreamThatIsNotAnArchiveIsLeftAtOnce) {
  TempDir dir;
  EXPECT_EQ(banner + "stdin\nleft unread\n",
            runPipeline("yes | head -c 64000000 | "
                        "{ \"$T\" /dev/stdin; test $(wc -c) -gt 63000000 && echo left unread; }")
                .output);
  EXPECT_TRUE(snapshotTree(".").empty());
}

TEST(EndToEnd, StreamThatCannotBeCopiedIsNotExtracted) {
  TempDir dir;
  writeFile("a.asar", streamed);
  const std::string failed = banner + "stdin\nError: Cannot open archive.\n";
  // A directory that has been removed takes no new file, whoever asks.
  EXPECT_EQ(failed, runPipeline("A=$PWD/a.asar; mkdir gone; cd gone; rmdir ../gone; "
                                "cat \"$A\" | \"$T\" /dev/stdin")
                        .output);
  // A file size limit of 64 KiB stops the copy as a full disk would, and nothing is left.
  EXPECT_EQ(failed, runPipeline("cat a.asar | { ulimit -f 64; \"$T\" /dev/stdin; }").output);
  EXPECT_EQ((TreeSnapshot{{"a.asar", "file:" + streamed}}), snapshotTree("."));
}

// Waits up to `seconds` for `child` to end; its status, or -1 when it is still running
// (it is then killed).
int waitAtMost(pid_t child, int seconds) {
  int status = 0;
  for (int i = 0; i < seconds * 100; ++i) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    usleep(10 * 1000);
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return -1;
}

// A second Ctrl-C ends the program at once, even while it waits to write to a terminal
// that no one reads. It used to take the second one as the first.
TEST(EndToEnd, InterruptTwiceEndsTheProgramWhileItsOutputIsBlocked) {
  TempDir dir;
  ASSERT_TRUE(
      writeArchiveWithLargeFile("many.asar", "a", 10, 4000));  // more lines than a terminal holds
  UniqueFd master(-1);
  pid_t child = startOnTerminal({"many.asar"}, master);
  ASSERT_GT(child, 0);
  usleep(500 * 1000);  // the terminal is full by now, and the program waits to write
  kill(child, SIGINT);
  usleep(200 * 1000);
  kill(child, SIGINT);
  int status = waitAtMost(child, 2);
  ASSERT_NE(-1, status) << "still running after the second interrupt";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
}

// A hang-up that whoever started tolvex ignores (`trap '' HUP`, nohup) stays ignored: the
// run goes on to its end. It used to be handled all the same.
TEST(EndToEnd, InterruptIgnoredByWhoStartedItStaysIgnored) {
  TempDir dir;
  ASSERT_TRUE(writeArchiveWithLargeFile("many.asar", "a", 10, 2000));
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  pid_t child = startTolvex({"many.asar"}, pipeFds[1], [] { signal(SIGHUP, SIG_IGN); });
  close(pipeFds[1]);
  bool sent = false;
  Outcome run = collect(child, pipeFds[0], 30, [&](const std::string& output) {
    if (!sent && output.find("Extracting") != std::string::npos) sent = kill(child, SIGHUP) == 0;
  });
  close(pipeFds[0]);
  EXPECT_TRUE(sent);
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(2001u, namedFiles(run.output).size());
  EXPECT_EQ(2001u, filesInOutput().size());
}

// An interrupt while a stream that never ends is copied ends the program within a second,
// every time, and leaves no copy behind.
TEST(EndToEnd, InterruptEndsTheCopyOfAnEndlessStream) {
  TempDir dir;
  signal(SIGPIPE, SIG_IGN);  // the writer below finds out that the program is gone
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int in[2], out[2];
    ASSERT_EQ(0, pipe(in));
    ASSERT_EQ(0, pipe(out));
    const int input = in[0];
    pid_t child = startTolvex({"/dev/stdin"}, out[1], [input] { dup2(input, STDIN_FILENO); });
    close(in[0]);
    close(out[1]);
    // The archive, then zeros without end, paced so that the disk does not fill.
    std::thread writer([fd = in[1]] {
      UniqueFd stream(fd);
      if (write(fd, streamed.data(), streamed.size()) < 0) return;
      const std::string zeros(65536, '\0');
      while (write(fd, zeros.data(), zeros.size()) > 0)
        usleep(10 * 1000);
    });
    UniqueFd reader(out[0]);
    std::string output;
    char buffer[256];
    while (output.find("stdin\n") == std::string::npos) {
      ssize_t got = read(reader.get(), buffer, sizeof buffer);
      if (got <= 0) break;
      output.append(buffer, size_t(got));
    }
    usleep(100 * 1000 * (round + 1));
    kill(child, SIGINT);
    int status = waitAtMost(child, 1);
    reader.reset(-1);
    writer.join();
    ASSERT_NE(-1, status) << "still running a second after the interrupt";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  }
  EXPECT_TRUE(snapshotTree(".").empty());
}

}  // namespace
}  // namespace tolvex
