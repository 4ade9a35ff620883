#include "archive/extract_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/header_prefix.h"
#include "archive_builder.h"
#include "disk_tree.h"
#include "json/json_parser.h"
#include "memory_byte_source.h"
#include "memory_extraction.h"
#include "output_capture.h"
#include "platform/windows_names.h"
#include "scripted_file_system.h"
#include "temp_dir.h"
#include "test_files.h"
#include "tree_values.h"

namespace tolvex {
namespace {

using namespace std::string_literals;

// Every test of the walk runs with 1, 2, 4 and 16 threads: what is printed and made must
// not differ.
constexpr size_t threadCounts[] = {1, 2, 4, 16};

class ExtractTreeTest : public ::testing::TestWithParam<size_t> {
 protected:
  Extraction walk(const std::string& archive, const JsonValue& files) {
    return extractInMemory(archive, files, GetParam());
  }

  Extraction walk(const ArchiveBuilder& builder) {
    JsonDocument document;
    return walk(builder.build(), builder.filesValue(document));
  }

  // Walks a tree written by hand (its JSON text); its offsets count into `data`.
  Extraction walkValue(const std::string& files, const std::string& data = "abcdef") {
    JsonDocument document;
    EXPECT_TRUE(parseDocument(files, document)) << files;
    return walk(archiveFromHeader("{}", data), *document.root());
  }

  TempDir dir_;
};

TEST_P(ExtractTreeTest, VisitsKeysInByteOrderDepthFirst) {
  ArchiveBuilder builder;
  builder.addFile("a", "1");
  builder.addFile("B", "22");
  builder.addFile("ab", "333");
  builder.addFile("dir/x", "4");
  builder.addFile("dir/sub/y", "5");
  builder.addFile("c", "6");
  builder.addFile("\xC3\xA9", "7");
  builder.addDirectory("empty");
  Extraction result = walk(builder);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(
      "Extracting tolvex/B (2) . OK\n"
      "Extracting tolvex/a (1) . OK\n"
      "Extracting tolvex/ab (3) . OK\n"
      "Extracting tolvex/c (1) . OK\n"
      "Extracting tolvex/dir/sub/y (1) . OK\n"
      "Extracting tolvex/dir/x (1) . OK\n"
      "Extracting tolvex/\xC3\xA9 (1) . OK\n",
      result.output);
  const TreeSnapshot expected = {
      {"tolvex", "dir"},         {"tolvex/B", "file:22"},        {"tolvex/a", "file:1"},
      {"tolvex/ab", "file:333"}, {"tolvex/c", "file:6"},         {"tolvex/dir", "dir"},
      {"tolvex/dir/sub", "dir"}, {"tolvex/dir/sub/y", "file:5"}, {"tolvex/dir/x", "file:4"},
      {"tolvex/empty", "dir"},   {"tolvex/\xC3\xA9", "file:7"}};
  EXPECT_EQ(expected, snapshotTree("."));

  // Again over what is there now: directories reused, files rewritten.
  writeFile("tolvex/dir/x", "a longer leftover");
  EXPECT_EQ(result.output, walk(builder).output);
  EXPECT_EQ(expected, snapshotTree("."));
}

TEST_P(ExtractTreeTest, MakesNothingForANodeThatIsNotAnObject) {
  Extraction result = walkValue(emptyArray);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("", result.output);
  EXPECT_EQ(TreeSnapshot{}, snapshotTree("."));
  result = walk(archiveFromHeader("{}"), *undefinedValue());
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(TreeSnapshot{}, snapshotTree("."));

  result = walkValue(object({}));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("", result.output);
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}}), snapshotTree("."));
}

TEST_P(ExtractTreeTest, PassesOverMembersThatAreNotEntries) {
  Extraction result = walkValue(object({
      {"number", unsignedNumber(1)},
      {"string", text("x")},
      {"array", emptyArray},
      {"true", "true"},
      {"null", "null"},
      {"size only", object({{"size", unsignedNumber(1)}})},
      {"numeric offset", object({{"offset", unsignedNumber(0)}, {"size", unsignedNumber(1)}})},
      {"string size", object({{"offset", text("0")}, {"size", text("1")}})},
      {"files array", directoryEntry(emptyArray)},
      {"file with files",
       object({{"offset", text("1")},
               {"size", unsignedNumber(2)},
               {"files", object({{"inner", fileEntry("0", unsignedNumber(1))}})}})},
  }));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("Extracting tolvex/file with files (2) . OK\n", result.output);
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}, {"tolvex/file with files", "file:bc"}}),
            snapshotTree("."));
}

TEST_P(ExtractTreeTest, StopsAtFirstFailedFile) {
  mkdir("tolvex", 0777);
  mkdir("tolvex/b", 0777);  // a directory where file b should go
  Extraction result = walkValue(object({
      {"a", fileEntry("0", unsignedNumber(1))},
      {"b", fileEntry("1", unsignedNumber(1))},
      {"c", fileEntry("2", unsignedNumber(1))},
  }));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ("Extracting tolvex/a (1) . OK\nExtracting tolvex/b o NG\n", result.output);
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}, {"tolvex/a", "file:a"}, {"tolvex/b", "dir"}}),
            snapshotTree("."));
}

TEST_P(ExtractTreeTest, FailureBelowStopsTheWalkAbove) {
  Extraction result = walkValue(object({
      {"d", directoryEntry(object({{"x", fileEntry("0", unsignedNumber(100))},
                                   {"y", fileEntry("0", unsignedNumber(1))}}))},
      {"e", fileEntry("0", unsignedNumber(1))},
  }));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ("Extracting tolvex/d/x (100) > NG\n", result.output);
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}, {"tolvex/d", "dir"}, {"tolvex/d/x", "file:"}}),
            snapshotTree("."));
}

// A key that is not one plain component could name a place outside ./tolvex.
TEST_P(ExtractTreeTest, RefusesUnsafeKeysAndTouchesNothingOutside) {
  const std::string keys[] = {"",     ".",    "..",    "../sentinel", "a/b",
                              "/tmp", "a\\b", "..\\x", "a\0b"s,       "\0"s};
  for (const std::string& key : keys) {
    for (bool asFile : {true, false}) {
      SCOPED_TRACE((asFile ? "file " : "directory ") + key);
      std::filesystem::remove_all("tolvex");
      writeFile("sentinel", "unmodified");
      std::string entry =
          asFile ? fileEntry("0", unsignedNumber(3))
                 : directoryEntry(object({{"sentinel", fileEntry("0", unsignedNumber(3))}}));
      Extraction result =
          walkValue(object({{key, entry}, {"zz", fileEntry("0", unsignedNumber(1))}}));
      EXPECT_FALSE(result.ok);
      EXPECT_EQ("Extracting tolvex/" + key + " o NG\n", result.output);
      EXPECT_EQ((TreeSnapshot{{"sentinel", "file:unmodified"}, {"tolvex", "dir"}}),
                snapshotTree("."));
    }
  }
}

TEST_P(ExtractTreeTest, PassesOverUnsafeKeysThatMakeNothing) {
  Extraction result = walkValue(object({
      {"", unsignedNumber(5)},
      {"..", directoryEntry(emptyArray)},
      {"a/b", object({{"size", unsignedNumber(1)}})},
      {"ok", fileEntry("0", unsignedNumber(2))},
  }));
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("Extracting tolvex/ok (2) . OK\n", result.output);
  EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}, {"tolvex/ok", "file:ab"}}), snapshotTree("."));
}

// A name the file system would misread is refused before anything is made, as a file or
// as a directory, and the walk stops there.
TEST_P(ExtractTreeTest, RefusesNamesTheFileSystemDoesNotTake) {
  ScriptedFileSystem windows;  // takes names as Windows does
  windows.takes = isWindowsFileName;
  for (const std::string key : {"con.txt", "a:b", "end.", "tab\tx", "a\x80z"}) {
    for (bool asFile : {true, false}) {
      SCOPED_TRACE((asFile ? "file " : "directory ") + key);
      std::filesystem::remove_all("tolvex");
      std::string entry = asFile
                              ? fileEntry("0", unsignedNumber(3))
                              : directoryEntry(object({{"x", fileEntry("0", unsignedNumber(3))}}));
      JsonDocument files;
      ASSERT_TRUE(parseDocument(object({{"0k", fileEntry("0", unsignedNumber(1))},
                                        {key, entry},
                                        {"zz", fileEntry("0", unsignedNumber(1))}}),
                                files));
      Extraction result =
          extractInMemory(archiveFromHeader("{}", "abcdef"), *files.root(), GetParam(), windows);
      EXPECT_FALSE(result.ok);
      EXPECT_EQ("Extracting tolvex/0k (1) . OK\nExtracting tolvex/" + key + " o NG\n",
                result.output);
      EXPECT_EQ((TreeSnapshot{{"tolvex", "dir"}, {"tolvex/0k", "file:a"}}), snapshotTree("."));
    }
  }
}

// Links planted below the root are never followed: not by a file, not by a directory on
// the way. The root itself may be a link.
TEST_P(ExtractTreeTest, FollowsNoLinkBelowTheRoot) {
  mkdir("outside", 0777);
  mkdir("real", 0777);
  ASSERT_EQ(0, symlink("real", "tolvex"));
  ASSERT_EQ(0, symlink("../outside", "real/d"));
  ASSERT_EQ(0, symlink("../nowhere", "real/e"));
  const std::string data = "abc";
  for (const char* key : {"d", "e"}) {
    SCOPED_TRACE(key);
    Extraction result = walkValue(
        object({{key, directoryEntry(object({{"f", fileEntry("0", unsignedNumber(3))}}))}}), data);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(std::string("Extracting tolvex/") + key + "/f o NG\n", result.output);
  }
  EXPECT_EQ((TreeSnapshot{{"outside", "dir"},
                          {"real", "dir"},
                          {"real/d", "link:../outside"},
                          {"real/e", "link:../nowhere"},
                          {"tolvex", "link:real"}}),
            snapshotTree("."));

  Extraction result = walkValue(
      object({{"g", directoryEntry(object({{"f", fileEntry("0", unsignedNumber(3))}}))}}), data);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ("abc", readFile("real/g/f"));
}

INSTANTIATE_TEST_SUITE_P(Copying, ExtractTreeTest, ::testing::ValuesIn(threadCounts),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return info.param == 1 ? "OneByOne"
                                                  : std::to_string(info.param) + "Threads";
                         });

// The archive used to compare copying on 1 to 16 threads: 40 directories of 1 to 9 files,
// some nested, with files of 0 to 3000 bytes, so that entries of all kinds and sizes stand
// ahead of any entry that fails.
ArchiveBuilder mixedTree() {
  ArchiveBuilder builder;
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1103515245 + 12345, state >> 8; };
  for (int d = 0; d < 40; ++d) {
    std::string directory = "d" + std::to_string(d % 7) + "/e" + std::to_string(d);
    builder.addDirectory(directory + "/empty");
    for (uint32_t f = 0, files = 1 + next() % 9; f < files; ++f)
      builder.addFile(directory + "/f" + std::to_string(f),
                      std::string(next() % 3000, static_cast<char>('a' + f)));
  }
  return builder;
}

// A copy that fails anywhere (the archive ends, a read fails, a name is taken by a
// directory, a name is unsafe) stops at the same line on any number of threads and leaves
// the same tree: what was made ahead of the failure is gone again, what was there before
// is untouched.
TEST(ExtractTreeAhead, MatchesOneByOneCopyingWhereverItFails) {
  ArchiveBuilder builder = mixedTree();
  const std::string archive = builder.build();
  JsonDocument filesDocument;
  const JsonValue& files = builder.filesValue(filesDocument);
  size_t dataStart = archive.size() - 1;
  while (dataStart > 0 && archive.size() - dataStart < 50000 && archive[dataStart - 1] != ' ')
    --dataStart;  // somewhere in the data region; only cuts below matter
  struct Damage {
    const char* what;
    std::function<void()> plant;  // what is in ./ before the walk
    size_t cut;                   // archive bytes kept
  };
  const std::vector<Damage> cases = {
      {"intact", [] {}, archive.size()},
      {"cut early", [] {}, archive.size() - 60000},
      {"cut in the middle", [] {}, archive.size() - 30000},
      {"cut late", [] {}, archive.size() - 700},
      {"name taken by a directory", [] { std::filesystem::create_directories("tolvex/d3/e10/f0"); },
       archive.size()},
      {"existing file rewritten, then a fifo in the way",
       [] {
         std::filesystem::create_directories("tolvex/d1/e8");
         std::filesystem::create_directories("tolvex/d5/e12");
         writeFile("tolvex/d1/e8/f0", "old contents, longer than the new");
         mkfifo("tolvex/d5/e12/f0", 0666);
       },
       archive.size()},
  };
  for (const Damage& damage : cases) {
    SCOPED_TRACE(damage.what);
    std::string kept = archive.substr(0, damage.cut);
    TreeSnapshot trees[std::size(threadCounts)];
    Extraction results[std::size(threadCounts)];
    for (size_t i = 0; i < std::size(threadCounts); ++i) {
      TempDir dir;
      damage.plant();
      results[i] = extractInMemory(kept, files, threadCounts[i]);
      trees[i] = snapshotTree(".");
      SCOPED_TRACE(std::to_string(threadCounts[i]) + " threads");
      EXPECT_EQ(&damage == &cases.front(), results[i].ok);
      EXPECT_EQ(results[0].output, results[i].output);
      EXPECT_EQ(trees[0], trees[i]);
    }
  }
}

// An unsafe name late in the walk, and a read error: the same checks, with the failure
// coming from the walk itself and from the source of any thread.
TEST(ExtractTreeAhead, MatchesOneByOneCopyingAtRefusedNamesAndReadErrors) {
  ArchiveBuilder builder = mixedTree();
  const std::string archive = builder.build();
  JsonDocument filesDocument;
  const JsonValue& files = builder.filesValue(filesDocument);
  // The same tree with a directory "zz" after the rest, holding an unsafe name.
  const std::string header = builder.headerText();
  JsonDocument unsafeDocument;
  ASSERT_TRUE(
      parseDocument(header.substr(0, header.size() - 2) + ",\"zz\":" +
                        directoryEntry(object({{"..", fileEntry("0", unsignedNumber(1))},
                                               {"later", fileEntry("0", unsignedNumber(1))}})) +
                        "}}",
                    unsafeDocument));
  const JsonValue& unsafe = unsafeDocument.member("files");
  for (uint64_t failFrom : {UINT64_MAX, uint64_t(archive.size() - 20000)}) {
    TreeSnapshot trees[std::size(threadCounts)];
    Extraction results[std::size(threadCounts)];
    for (size_t i = 0; i < std::size(threadCounts); ++i) {
      TempDir dir;
      MemoryByteSource source(archive);
      MadeSources copySources([&archive, failFrom] {
        auto made = std::make_unique<MemoryByteSource>(archive);
        made->failFrom = failFrom;
        return made;
      });
      source.failFrom = failFrom;
      ArchiveContext context{source, 0, &copySources, threadCounts[i]};
      JsonDocument header;
      ASSERT_TRUE(readHeader(context, header));
      OutputCapture output;
      bool ok = extractTree(context, "tolvex", failFrom == UINT64_MAX ? unsafe : files);
      results[i] = {output.text(), ok};
      trees[i] = snapshotTree(".");
      SCOPED_TRACE(std::to_string(threadCounts[i]) + " threads");
      EXPECT_FALSE(results[i].ok);
      EXPECT_EQ(results[0].output, results[i].output);
      EXPECT_EQ(trees[0], trees[i]);
    }
  }
}

TEST(OffsetFromText, ReadsLikeStrtoull) {
  struct Case {
    std::string text;
    uint64_t offset;
  };
  const Case cases[] = {
      {"0", 0},
      {"1234", 1234},
      {"  12", 12},
      {"\t\n\v\f\r 7", 7},
      {"12abc", 12},
      {"12 34", 12},
      {"", 0},
      {"abc", 0},
      {"0x10", 0},
      {"+5", 5},
      {"-0", 0},
      {"-1", 18446744073709551615u},
      {"-18446744073709551615", 1},
      {"4294967296", 4294967296u},
      {"18446744073709551615", 18446744073709551615u},
      {"18446744073709551616", 18446744073709551615u},
      {"99999999999999999999999", 18446744073709551615u},
      {"-99999999999999999999999", 18446744073709551615u},
      {"+-1", 0},
      {"1\0"s + "2", 1},
      {"\0"s + "5", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    JsonDocument offset;
    ASSERT_TRUE(parseDocument(jsonQuoted(c.text), offset));
    EXPECT_EQ(c.offset, offsetFromText(*offset.root()));
  }
}

// Sizes in every form a header's number takes, as the parser reads them.
TEST(CountFromSize, TakesLow32BitsByForm) {
  struct Case {
    const char* size;
    uint32_t count;
  };
  const Case cases[] = {
      {"10.9", 10},
      {"-0.5", 4294967295u},
      {"-1.0", 4294967295u},
      {"1.0e30", 0},
      {"1.0e400", 0},  // infinity
      {"-1.0e400", 0},
      {"1e30", 1073741824},  // an integer: 10^30 modulo 2^64
      {"4294967296.0", 0},
      {"4294967296.5", 0},
      {"4294967297.0", 1},
      {"9223372036854775808.0", 0},   // 2^63
      {"-9223372036854777856.0", 0},  // below -2^63
      {"-9223372036854774784.0", 1024},
      {"5e9", 705032704},
      {"4294967295e1", 4294967286u},
      {"-1", 4294967295u},
      {"-2", 4294967294u},
      {"-0", 0},
      {"3000", 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    JsonDocument size;
    ASSERT_TRUE(parseDocument(c.size, size));
    EXPECT_EQ(c.count, countFromSize(*size.root()));
  }
}

}  // namespace
}  // namespace tolvex
