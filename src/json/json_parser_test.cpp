#include "json/json_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVEX_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TOLVEX_UNDER_ASAN 1
#endif
#ifdef TOLVEX_UNDER_ASAN
// From the sanitizer's runtime, which keeps the program's allocations itself.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#elif defined(__GLIBC__)
#include <malloc.h>
#define TOLVEX_HAVE_MALLINFO2 1
#endif

#include "json/json_value.h"
#include "json_describe.h"
#include "test_files.h"

namespace tolvex {
namespace {

using Recogniser = bool (*)(std::string_view&, JsonDocument&);

struct Outcome {
  bool ok;
  std::string value;  // describe() of what was made, "-" when nothing was
  std::string left;
};

Outcome run(Recogniser recognise, const std::string& input) {
  std::string_view text(input);
  JsonDocument document;
  bool ok = recognise(text, document);
  return {ok, document.root() ? describe(*document.root()) : "-", std::string(text)};
}

struct Case {
  std::string input;
  bool ok;
  std::string value;
  std::string left;
};

void expectOutcomes(Recogniser recognise, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Outcome outcome = run(recognise, c.input);
    EXPECT_EQ(c.ok, outcome.ok);
    EXPECT_EQ(c.value, outcome.value);
    EXPECT_EQ(c.left, outcome.left);
  }
}

TEST(ParseString, DecodesEscapesAndPassesRawBytes) {
  expectOutcomes(parseString, {
                                  {R"("")", true, R"("")", ""},
                                  {R"( "abc" , )", true, R"("abc")", " , "},
                                  {R"("a\"b")", true, R"("a"b")", ""},
                                  {R"("\/")", true, R"("/")", ""},
                                  {R"("a\\")", true, R"("a\x5C")", ""},
                                  {R"("\b\f\n\r\t")", true, R"("\x08\x0C\x0A\x0D\x09")", ""},
                                  {R"("\u0041")", true, R"("A")", ""},
                                  {R"("\u00e9")", true, R"("\xC3\xA9")", ""},
                                  {R"("\u00E9ab")", true, R"("\xC3\xA9ab")", ""},
                                  {R"("\u07FF")", true, R"("\xDF\xBF")", ""},
                                  {R"("\u0800")", true, R"("\xE0\xA0\x80")", ""},
                                  {R"("\u20AC")", true, R"("\xE2\x82\xAC")", ""},
                                  {R"("\uFFFF")", true, R"("\xEF\xBF\xBF")", ""},
                                  {R"("\uD83D\uDE00")", true, R"("\xED\xA0\xBD\xED\xB8\x80")", ""},
                                  {R"("\u0000")", true, R"("\x00")", ""},
                                  {R"("\u00411")", true, R"("A1")", ""},
                                  {"\"tab\there\nnl\"", true, R"("tab\x09here\x0Anl")", ""},
                                  {std::string("\"a\0b\xFF\"", 6), true, R"("a\x00b\xFF")", ""},
                                  {R"("a"b")", true, R"("a")", "b\""},
                                  // Failures leave the text alone.
                                  {R"("\u12")", false, "-", R"("\u12")"},
                                  {R"("\u12G4")", false, "-", R"("\u12G4")"},
                                  {R"("\x41")", false, "-", R"("\x41")"},
                                  {R"("\'")", false, "-", R"("\'")"},
                                  {R"("\U0041")", false, "-", R"("\U0041")"},
                                  {R"("\N")", false, "-", R"("\N")"},
                                  {R"("abc)", false, "-", R"("abc)"},
                                  {R"("abc\)", false, "-", R"("abc\)"},
                                  {R"("abc\")", false, "-", R"("abc\")"},
                                  {R"("\u00)", false, "-", R"("\u00)"},
                                  {"'a'", false, "-", "'a'"},
                                  {"", false, "-", ""},
                                  {"\f\"a\"", false, "-", "\f\"a\""},
                              });
}

// Long runs of plain bytes are scanned a word at a time: a quotation mark, a backslash or
// the end of the text must be found at every offset within a word, bytes 0x80 and above
// included.
TEST(ParseString, FindsTheEndAndEscapesAtEveryOffset) {
  for (size_t length = 0; length < 40; ++length) {
    SCOPED_TRACE(length);
    const std::string plain(length, '\xA2');
    EXPECT_EQ(describeBytes(plain), run(parseString, "\"" + plain + "\"x").value);
    EXPECT_EQ(describeBytes(plain + "\n" + plain),
              run(parseString, "\"" + plain + "\\n" + plain + "\"").value);
    EXPECT_FALSE(run(parseString, "\"" + plain).ok);
    EXPECT_FALSE(run(parseString, "\"" + plain + "\\").ok);
  }
}

TEST(ParseArray, ElementsInTextOrder) {
  expectOutcomes(
      parseArray,
      {
          {"[]", true, "[]", ""},
          {"[ \r\n ]x", true, "[]", "x"},
          {"[1,2]", true, "[U1,U2]", ""},
          {" [ null , true,false,\"s\",[[]],{\"k\":-1} ] ,", true,
           "[null,true,false,\"s\",[[]],{\"k\":S-1}]", " ,"},
          // What a failed attempt leaves: no bracket, and what it parsed is gone.
          {"[1,]", false, "-", "]"},
          {"[,1]", false, "-", ",1]"},
          {"[1 2]", false, "-", " 2]"},
          {"[1,2", false, "-", ""},
          {"[1 {}", false, "-", " {}"},
          {"[[1 {}]", true, "[{}]", ""},  // the inner array fails; an object takes the "{}"
          {"[\"a\" ", false, "-", " "},
          {"{}", false, "-", "{}"},
          {"", false, "-", ""},
      });
}

TEST(ParseObject, MembersInKeyOrderFirstValueWins) {
  expectOutcomes(
      parseObject,
      {
          {"{}", true, "{}", ""},
          {"{ \"a\" : 1 }", true, "{\"a\":U1}", ""},
          {"{\"b\":1,\"a\":2,\"B\":3,\"\":4}", true, "{\"\":U4,\"B\":U3,\"a\":U2,\"b\":U1}", ""},
          {"{\"a\":1,\"a\":2}", true, "{\"a\":U1}", ""},
          {"{\"a\":[1],\"a\":{\"x\":[2]}}", true, "{\"a\":[U1]}", ""},
          {"{\"a\\u0000b\":1,\"a\":2}", true, "{\"a\":U2,\"a\\x00b\":U1}", ""},
          {"{\"\\u00e9\":1,\"z\":2}", true, "{\"z\":U2,\"\\xC3\\xA9\":U1}", ""},
          {"{\"a\":1,}", false, "-", "}"},
          {"{a:1}", false, "-", "a:1}"},
          {"{\"a\" 1}", false, "-", " 1}"},
          {"{\"a\":}", false, "-", "}"},
          {"{\"a\":1", false, "-", ""},
          {"{\"a\":1 \"b\":2}", false, "-", " \"b\":2}"},
          {"{1:2}", false, "-", "1:2}"},
          {"[]", false, "-", "[]"},
      });
}

TEST(ParseValue, TriesRecognisersInOrder) {
  expectOutcomes(parseValue, {
                                 {"null", true, "null", ""},
                                 {"  -1.5e1x", true, "R-15", "x"},
                                 {"\"s\"", true, "\"s\"", ""},
                                 {"[1 {}", true, "{}",
                                  ""},  // the array attempt fails, the object takes what it left
                                 {"[{\"a\":1}{\"b\":2}", true, "{\"b\":U2}", ""},
                                 {"[[1 {}]", true, "[{}]", ""},
                                 {"[1,[2 {\"c\":3}]]", true, "[U1,{\"c\":U3}]", "]"},
                                 {"[1 2", false, "-", " 2"},
                                 {"+1", false, "-", "+1"},
                                 {"", false, "-", ""},
                             });
}

struct DocumentCase {
  std::string text;
  bool ok;
  std::string root;  // "-" when the document holds no root
};

TEST(ParseDocument, OneValueThenOnlyWhitespace) {
  const DocumentCase cases[] = {
      {"   {\"files\":{}}  \r\n", true, "{\"files\":{}}"},
      {"{\"files\":{}} \t ", true, "{\"files\":{}}"},
      {"null", true, "null"},
      {"1", true, "U1"},
      {"\"s\"", true, "\"s\""},
      {"[1 {}", true, "{}"},
      {"[{\"a\":1}{\"b\":2}", true, "{\"b\":U2}"},
      {"{} x", false, "{}"},  // the value was parsed; the document still owns it
      {"{}\f", false, "{}"},
      {std::string("{}\0", 3), false, "{}"},
      {"{}\v", false, "{}"},
      {"012", false, "U0"},
      {"[1,2", false, "-"},
      {"", false, "-"},
      {" \t\r\n", false, "-"},
      {"\xEF\xBB\xBF{}", false, "-"},
  };
  for (const DocumentCase& c : cases) {
    SCOPED_TRACE(c.text);
    JsonDocument document;
    EXPECT_EQ(c.ok, parseDocument(c.text, document));
    EXPECT_EQ(c.root, document.root() ? describe(*document.root()) : "-");
  }
}

TEST(ParseDocument, ResetsTheDocumentFirst) {
  JsonDocument document;
  ASSERT_TRUE(parseDocument("{\"files\":{\"a\":[1,2,3]}}", document));
  EXPECT_FALSE(parseDocument("", document));
  EXPECT_EQ(nullptr, document.root());
  ASSERT_TRUE(parseDocument("[\"x\"]", document));
  ASSERT_TRUE(parseDocument("[\"y\"]", document));  // the first array is released
  EXPECT_EQ("[\"y\"]", describe(*document.root()));
}

TEST(ParseDocument, NestingIsBoundedAt1024OpenContainers) {
  const size_t bound = maxOpenContainers;
  const DocumentCase cases[] = {
      {repeat("[", bound) + repeat("]", bound), true, ""},
      {repeat("[", bound + 1) + repeat("]", bound + 1), false, ""},
      {repeat("{\"a\":", bound) + "1" + repeat("}", bound), true, ""},
      {repeat("{\"a\":", bound + 1) + "1" + repeat("}", bound + 1), false, ""},
      {repeat("[{\"\":", bound / 2) + "0" + repeat("}]", bound / 2), true, ""},
      // Without the bound the innermost array would fail at "{" and hand "{}" to an object
      // attempt; with it the whole text fails as soon as the 1025th container opens.
      {repeat("[", bound + 1) + "1 {}" + repeat("]", bound), false, ""},
      // At the bound itself the failed innermost array closes before the object opens.
      {repeat("[", bound) + "1 {}" + repeat("]", bound - 1), true, ""},
      {repeat("[", 100000), false, ""},
      {repeat("[{\"\":", 50000), false, ""},
  };
  for (const DocumentCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 12) + "... of " + std::to_string(c.text.size()) + " bytes");
    JsonDocument document;
    EXPECT_EQ(c.ok, parseDocument(c.text, document));
    EXPECT_EQ(c.ok, document.root() != nullptr);
  }
}

TEST(ParseDocument, LargeFlatObjectInReverseKeyOrder) {
  const uint32_t count = 200000;
  std::string text = "{";
  for (uint32_t i = count; i-- > 0;) {
    char member[40];
    std::snprintf(member, sizeof member, "\"k%07u\":%u%s", i, i, i ? "," : "");
    text += member;
  }
  text += "}";
  JsonDocument document;
  ASSERT_TRUE(parseDocument(text, document));
  const auto& object = static_cast<const JsonObject&>(*document.root());
  ASSERT_EQ(count, object.memberCount());
  for (uint32_t i = 0; i < count; ++i) {
    ASSERT_EQ(i, static_cast<const JsonNumber&>(object.memberValue(i)).unsignedValue());
  }
  EXPECT_EQ("k0000000", object.memberKey(0));
}

// The values of a parsed tree belong to its document, which frees them all at once; the
// tests below are about that ownership.

// Bytes the program has allocated and not freed, where the allocator tells.
constexpr bool countsBytesInUse =
#if defined(TOLVEX_UNDER_ASAN) || defined(TOLVEX_HAVE_MALLINFO2)
    true;
#else
    false;
#endif

size_t bytesInUse() {
#if defined(TOLVEX_UNDER_ASAN)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(TOLVEX_HAVE_MALLINFO2)
  struct mallinfo2 usage = mallinfo2();
  return usage.uordblks + usage.hblkhd;  // small chunks, and large ones mapped on their own
#else
  return 0;
#endif
}

// A header of `entries` file entries in one directory, keys ascending.
std::string flatHeader(uint32_t entries) {
  std::string text = "{\"files\":{";
  for (uint32_t i = 0; i < entries; ++i) {
    char entry[80];
    std::snprintf(entry, sizeof entry, "%s\"f%06u\":{\"size\":%u,\"offset\":\"%u\"}", i ? "," : "",
                  i, i, 2 * i);
    text += entry;
  }
  return text + "}}";
}

void expectFlatTree(const JsonDocument& document, uint32_t entries) {
  const JsonValue& files = document.member("files");
  ASSERT_EQ(JsonKind::Object, files.kind);
  const auto& object = static_cast<const JsonObject&>(files);
  ASSERT_EQ(entries, object.memberCount());
  for (uint32_t i = 0; i < entries; i += 997) {
    char key[16];
    std::snprintf(key, sizeof key, "f%06u", i);
    ASSERT_EQ(key, object.memberKey(i));
    ASSERT_EQ(&object.member(key), &object.memberValue(i));
    EXPECT_EQ("{\"offset\":\"" + std::to_string(2 * i) + "\",\"size\":U" + std::to_string(i) + "}",
              describe(object.memberValue(i)));
  }
}

TEST(DocumentMemory, FailedParseOfALargeHeaderFreesEverythingItMade) {
  if (!countsBytesInUse) GTEST_SKIP() << "the allocator does not tell the bytes in use";
  const std::string header = flatHeader(50000);
  // The header with the colon after the "size" key found from `from` on made a semicolon.
  auto brokenAt = [&header](size_t from) {
    std::string text = header;
    text[text.find("\"size\":", from) + 6] = ';';
    return text;
  };
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"cut short", header.substr(0, header.size() - 3)},
      {"bad entry near the end", brokenAt(header.size() - 60)},
      {"bad entry in the middle", brokenAt(header.size() / 2)},
      {"too deep after the members",
       header.substr(0, header.size() - 2) + ",\"x\":" + repeat("[", maxOpenContainers) + "}}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = bytesInUse();
    JsonDocument document;
    EXPECT_FALSE(parseDocument(c.text, document));
    EXPECT_EQ(nullptr, document.root());
    EXPECT_EQ(0u, document.valueBlockBytes());
    document.reset();
    EXPECT_EQ(before, bytesInUse());
  }
}

TEST(DocumentMemory, RepeatedDocumentsDoNotGrow) {
  if (!countsBytesInUse) GTEST_SKIP() << "the allocator does not tell the bytes in use";
  const std::string header = flatHeader(30000);
  JsonDocument kept;
  ASSERT_TRUE(parseDocument(header, kept));
  const size_t blocks = kept.valueBlockBytes();
  const size_t before = bytesInUse();
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(parseDocument(header, kept));  // the previous tree and text go first
    EXPECT_EQ(blocks, kept.valueBlockBytes());
    JsonDocument fresh;
    ASSERT_TRUE(parseDocument(header, fresh));
    EXPECT_FALSE(parseDocument(header + "x", fresh));  // a root that the document still holds
    EXPECT_NE(nullptr, fresh.root());
  }
  EXPECT_EQ(before, bytesInUse());
  expectFlatTree(kept, 30000);
  kept.reset();
  EXPECT_EQ(0u, kept.valueBlockBytes());
  EXPECT_EQ("", kept.text());
}

// An object of many members that no other member waits below takes over the memory its
// members gathered in; later objects gather in new memory, and objects above others are
// copied. Escaped keys, decoded where they stand, sort among the others.
TEST(DocumentMemory, LargeObjectsKeepTheirMembersWhereverTheyGathered) {
  auto members = [](uint32_t count, const char* prefix) {
    std::string text = "{";
    for (uint32_t i = count; i-- > 0;) {
      char member[48];
      std::snprintf(member, sizeof member, "\"%s%05u\":%u,", prefix, i, i);
      text += member;
    }
    return text + "\"\\u0041\":\"\\t\",\"@\":0}";
  };
  const std::string text = "[" + members(5000, "a") + "," + members(6000, "b") +
                           ",{\"c\":" + members(4096, "c") + "}," + members(10, "d") + "]";
  JsonDocument document;
  ASSERT_TRUE(parseDocument(text, document));
  const auto& array = static_cast<const JsonArray&>(*document.root());
  ASSERT_EQ(4u, array.elementCount());
  const auto& nested = static_cast<const JsonObject&>(array.element(2)).member("c");
  const std::pair<const JsonValue*, uint32_t> objects[] = {{&array.element(0), 5000},
                                                           {&array.element(1), 6000},
                                                           {&nested, 4096},
                                                           {&array.element(3), 10}};
  for (const auto& [value, count] : objects) {
    SCOPED_TRACE(count);
    ASSERT_EQ(JsonKind::Object, value->kind);
    const auto& object = static_cast<const JsonObject&>(*value);
    ASSERT_EQ(count + 2, object.memberCount());
    EXPECT_EQ("@", object.memberKey(0));
    EXPECT_EQ("A", object.memberKey(1));
    EXPECT_EQ("\"\\x09\"", describe(object.member("A")));
    for (uint32_t i = 0; i < count; ++i)
      ASSERT_EQ(i, static_cast<const JsonNumber&>(object.memberValue(i + 2)).unsignedValue());
  }
}

}  // namespace
}  // namespace tolvex
