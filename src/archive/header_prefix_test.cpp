#include "archive/header_prefix.h"

#include <gtest/gtest.h>

#include <string>

#include "archive_builder.h"
#include "json/json_value.h"
#include "memory_byte_source.h"

namespace tolvex {
namespace {

using namespace std::string_literals;

constexpr uint32_t untouched = 77;

struct Outcome {
  std::string text;
  uint32_t dataBase;
};

// The text is read straight into the document that will hold its tree.
Outcome readFrom(MemoryByteSource& source) {
  ArchiveContext context{source, untouched};
  JsonDocument document;
  bool read = readHeader(context, document);
  EXPECT_EQ(read, context.dataBase != untouched);
  return {std::string(document.text()), context.dataBase};
}

TEST(ReadHeader, AppliesPrefixRules) {
  struct Case {
    const char* name;
    std::string archive;
    std::string text;
    uint32_t dataBase;
  };
  const Case cases[] = {
      {"empty file", "", "", untouched},
      {"15 bytes", le32({4, 8, 4}) + "\0\0\0"s, "", untouched},
      {"smallest valid prefix", le32({4, 8, 4, 0}), "", 16},
      {"text of 2, padding unchecked", le32({4, 12, 8, 2}) + "{}xx", "{}", 20},
      {"text of 4", le32({4, 12, 8, 4}) + "[1 ]", "[1 ]", 20},
      {"text of 5", le32({4, 16, 12, 5}) + "[1,2]\0\0\0"s, "[1,2]", 24},
      {"padding missing at the end", le32({4, 16, 12, 5}) + "[1,2]", "[1,2]", 24},
      {"text with NUL bytes", le32({4, 12, 8, 3}) + std::string("a\0b\0", 4),
       std::string("a\0b", 3), 20},
      {"payload not padded", le32({4, 10, 6, 2}) + "{}", "", untouched},
      {"first payload not 4", le32({5, 12, 8, 2}) + "{}\0\0"s, "", untouched},
      {"block not payload + 4", le32({4, 16, 8, 2}) + "{}\0\0"s, "", untouched},
      {"payload too large", le32({4, 16, 12, 2}) + "{}\0\0\0\0\0\0"s, "", untouched},
      {"big-endian prefix", std::string("\0\0\0\4\0\0\0\x08\0\0\0\4\0\0\0\0", 16), "", untouched},
      {"text longer than the file", le32({4, 16, 12, 8}) + "{}", "", untouched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool tellsSize : {true, false}) {
      SCOPED_TRACE(tellsSize ? "size known" : "size unknown");
      MemoryByteSource source(c.archive);
      source.tellsSize = tellsSize;
      Outcome outcome = readFrom(source);
      EXPECT_EQ(c.text, outcome.text);
      EXPECT_EQ(c.dataBase, outcome.dataBase);
    }
  }
}

TEST(ReadHeader, RejectsEveryTruncation) {
  const std::string archive = archiveFromHeader("{\"files\":{}}", "data");
  for (size_t length = 0; length < 16 + 12; ++length) {
    SCOPED_TRACE(length);
    MemoryByteSource source(archive.substr(0, length));
    EXPECT_EQ("", readFrom(source).text);
  }
  MemoryByteSource whole(archive);
  Outcome outcome = readFrom(whole);
  EXPECT_EQ("{\"files\":{}}", outcome.text);
  EXPECT_EQ(28u, outcome.dataBase);
}

TEST(ReadHeader, RejectsAFailedReadAtEachStep) {
  const std::string archive = archiveFromHeader("{}");
  // Reads 0 to 3 take the prefix fields, read 4 the text.
  for (uint64_t failingRead = 0; failingRead < 5; ++failingRead) {
    SCOPED_TRACE(failingRead);
    MemoryByteSource source(archive);
    source.failFrom = 4 * failingRead;
    EXPECT_EQ("", readFrom(source).text);
    EXPECT_EQ(failingRead + 1, source.readCalls);
  }
}

// A prefix could declare a text of almost 4 GiB in a file of a few bytes, and the buffer
// for it used to be made before the read found the file short.
TEST(ReadHeader, ChecksDeclaredLengthBeforeReadingText) {
  MemoryByteSource source(le32({4, 0xFFFFFFF0, 0xFFFFFFEC, 0xFFFFFFE8}) + "{}");
  EXPECT_EQ("", readFrom(source).text);
  EXPECT_EQ(4u, source.largestRead);
}

// With 32-bit sums these prefixes passed, and a text of almost 4 GiB was read.
TEST(ReadHeader, RejectsPrefixWhoseSumsExceed32Bits) {
  const std::pair<const char*, std::string> prefixes[] = {
      {"padded length wraps to 0", le32({4, 8, 4, 0xFFFFFFFF})},
      {"payload size wraps to 0", le32({4, 4, 0, 0xFFFFFFFC})},
      {"data base beyond 32 bits", le32({4, 0xFFFFFFF8, 0xFFFFFFF4, 0xFFFFFFF0})},
  };
  for (const auto& [name, prefix] : prefixes) {
    SCOPED_TRACE(name);
    MemoryByteSource source(prefix + "{\"files\":{}}");
    source.tellsSize = false;
    EXPECT_EQ("", readFrom(source).text);
    EXPECT_EQ(4u, source.readCalls);
  }
}

// Read as a pipe, a 16-byte archive whose prefix declared a text of 10 MiB made the text
// buffer take 1 MiB before the first byte arrived (found by the read_header fuzz target).
// The buffer now grows only with what arrives, from 4 KiB on.
TEST(ReadHeader, GrowsTheTextOnlyAsItArrivesWhenSizeUnknown) {
  MemoryByteSource source(le32({4, 0x009D0008, 0x009D0004, 0x009D0000}) + std::string(5000, 'x'));
  source.tellsSize = false;
  EXPECT_EQ("", readFrom(source).text);
  EXPECT_EQ(4096u, source.largestRead);
  EXPECT_EQ(6u, source.readCalls);  // the four fields, 4096 text bytes, then the short read
}

TEST(ReadHeader, ReadsLongTextInPiecesWhenSizeUnknown) {
  std::string text(3 * 1024 * 1024 + 5, 'x');
  MemoryByteSource source(archiveFromHeader(text, "data"));
  source.tellsSize = false;
  Outcome outcome = readFrom(source);
  EXPECT_EQ(text, outcome.text);
  EXPECT_EQ(16u + 3 * 1024 * 1024 + 8, outcome.dataBase);
  EXPECT_EQ(1024u * 1024, source.largestRead);

  MemoryByteSource lying(le32({4, 0xFFFFFFF0, 0xFFFFFFEC, 0xFFFFFFE8}) + text);
  lying.tellsSize = false;
  EXPECT_EQ("", readFrom(lying).text);
}

}  // namespace
}  // namespace tolvex
