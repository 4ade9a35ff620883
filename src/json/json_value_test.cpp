#include "json/json_value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "json/json_builder.h"
#include "json/json_parser.h"
#include "json_describe.h"

namespace tolvex {
namespace {

// The root of `text` parsed into `document`, which must succeed.
const JsonValue& parsed(const std::string& text, JsonDocument& document) {
  EXPECT_TRUE(parseDocument(text, document)) << text;
  return document.root() != nullptr ? *document.root() : *undefinedValue();
}

std::vector<std::string> keysOf(const JsonObject& object) {
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < object.memberCount(); ++i)
    keys.emplace_back(object.memberKey(i));
  return keys;
}

TEST(JsonObject, OrdersKeysByUnsignedBytes) {
  JsonDocument document;
  const auto& object = static_cast<const JsonObject&>(parsed(
      "{\"b\":0,\"a\":0,\"B\":0,\"\":0,\"ab\":0,\"\xC3\xA9\":0,\"z\":0,\"a\x7F\":0}", document));
  const std::vector<std::string> expected = {"", "B", "a", "ab", "a\x7F", "b", "z", "\xC3\xA9"};
  EXPECT_EQ(expected, keysOf(object));
}

TEST(JsonObject, KeysAreCountedBytes) {
  JsonDocument document;
  const auto& object = static_cast<const JsonObject&>(
      parsed("{\"a\\u0000c\":\"second\",\"a\\u0000b\":\"first\"}", document));
  ASSERT_EQ(2u, object.memberCount());
  EXPECT_EQ(std::string("a\0b", 3), object.memberKey(0));
  EXPECT_EQ("second", static_cast<const JsonString&>(object.member(std::string("a\0c", 3))).text());
  EXPECT_EQ(undefinedValue(), &object.member("a"));
}

TEST(JsonObject, WhatIsNotThereIsTheSharedUndefinedValue) {
  JsonDocument document;
  const auto& object = static_cast<const JsonObject&>(parsed("{\"m\":true}", document));
  EXPECT_EQ(undefinedValue(), &object.member("files"));
  EXPECT_EQ(undefinedValue(), &object.member(""));
  EXPECT_EQ(JsonKind::Undefined, object.member("n").kind);
  EXPECT_EQ("m", object.memberKey(0));
  EXPECT_EQ("", object.memberKey(1));
  EXPECT_EQ(undefinedValue(), &object.memberValue(1));
  JsonDocument empty;
  EXPECT_EQ(0u, static_cast<const JsonObject&>(parsed("{}", empty)).memberCount());
}

TEST(JsonNumber, PayloadReadsInEveryForm) {
  JsonDocument document;
  const auto& numbers = static_cast<const JsonArray&>(parsed("[-1.5,-2,4294967295]", document));
  const auto& real = static_cast<const JsonNumber&>(numbers.element(0));
  EXPECT_EQ(-1.5, real.realValue());
  const auto& negative = static_cast<const JsonNumber&>(numbers.element(1));
  EXPECT_EQ(-2, negative.signedValue());
  EXPECT_EQ(0xFFFFFFFFFFFFFFFEu, negative.unsignedValue());
  EXPECT_EQ(4294967295u, static_cast<const JsonNumber&>(numbers.element(2)).unsignedValue());
}

TEST(JsonDocument, MemberNeedsAnObjectRoot) {
  JsonDocument document;
  EXPECT_EQ(undefinedValue(), &document.member("files"));
  for (const char* text : {"[]", "\"files\"", "null"}) {
    parsed(text, document);
    EXPECT_EQ(undefinedValue(), &document.member("files")) << text;
  }
  parsed("{\"files\":true}", document);
  EXPECT_EQ(JsonKind::Boolean, document.member("files").kind);
  EXPECT_EQ(undefinedValue(), &document.member("file"));
  document.reset();
  EXPECT_EQ(nullptr, document.root());
  EXPECT_EQ(undefinedValue(), &document.member("files"));
}

// What describe() shows of the document written as `text` without spaces, its objects in
// key order, its strings and keys without escapes: the same text, its numbers marked
// unsigned.
std::string describedAs(const std::string& text) {
  std::string described;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') inString = !inString;
    bool startsNumber =
        !inString && c >= '0' && c <= '9' && (i == 0 || text[i - 1] < '0' || text[i - 1] > '9');
    if (startsNumber) described += 'U';
    described += c;
  }
  return described;
}

std::string numbers(size_t count, size_t first) {
  std::string text = "[";
  for (size_t i = 0; i < count; ++i)
    text += (i ? "," : "") + std::to_string(first + i);
  return text + "]";
}

// A document keeps its values in blocks, one after the other; a value made where one block
// ends must not reach into the next, nor into memory that is not the document's. Arrays
// and objects of every size end at every offset around the first block's end (64 KiB,
// 4,096 cells), then more values follow. A block a few bytes short used to corrupt the heap
// only for documents whose values ended near its end.
TEST(JsonDocument, ValuesEndingAroundABlockBoundaryStayWhole) {
  for (size_t cells = 4080; cells <= 4100; ++cells) {
    for (size_t members = 0; members <= 3; ++members) {
      std::string object = "{";
      for (size_t m = 0; m < members; ++m)
        object += (m ? ",\"k" : "\"k") + std::to_string(m) + "\":" + numbers(m, 7);
      object += "}";
      const std::string text =
          "[" + numbers(cells, 0) + "," + object + "," + numbers(3, 1) + ",\"end\"]";
      SCOPED_TRACE(std::to_string(cells) + " cells, " + std::to_string(members) + " members");
      JsonDocument document;
      ASSERT_TRUE(parseDocument(text, document));
      ASSERT_EQ(describedAs(text), describe(*document.root()));
    }
  }
}

// A random document of nested arrays and objects (keys in order, values of every kind),
// written without spaces, of about `budget` values.
std::string randomDocument(std::mt19937& random, int depth, size_t& budget) {
  uint32_t pick = random() % 10;
  if (depth > 12 || budget == 0 || pick < 4) {
    if (budget > 0) --budget;
    switch (random() % 5) {
      case 0:
        return "null";
      case 1:
        return random() % 2 ? "true" : "false";
      case 2:
        return "\"" + std::string(random() % 40, char('a' + random() % 26)) + "\"";
      default:
        return std::to_string(random() % 4294967296u);
    }
  }
  size_t count = random() % (random() % 8 == 0 ? 3000 : 12);
  std::string text = pick < 7 ? "[" : "{";
  for (size_t i = 0; i < count && budget > 0; ++i) {
    if (i > 0) text += ",";
    if (pick >= 7) {
      char key[32];
      std::snprintf(key, sizeof key, "\"k%06zu\":", i);
      text += key;
    }
    text += randomDocument(random, depth + 1, budget);
  }
  return text + (pick < 7 ? "]" : "}");
}

// Random documents, from a fixed seed, read back as they were written: every value is where
// the parse put it, whatever block it landed in.
TEST(JsonDocument, RandomDocumentsReadBackWhole) {
  std::mt19937 random(0xB10C5);
  for (int i = 0; i < 300; ++i) {
    size_t budget = 1 + random() % 30000;
    const std::string text = randomDocument(random, 0, budget);
    SCOPED_TRACE("document " + std::to_string(i));
    JsonDocument document;
    ASSERT_TRUE(parseDocument(text, document));
    ASSERT_EQ(describedAs(text), describe(*document.root()));
  }
}

// Memory that counts what it gives and takes back, and can run out.
class CountedMemory final : public LargeMemory {
 public:
  void* allocate(size_t bytes) override {
    if (exhausted) return nullptr;
    ++taken;
    outstanding += bytes;
    return std::malloc(bytes);
  }
  void release(void* memory, size_t bytes) override {
    ++given;
    outstanding -= bytes;
    std::free(memory);
  }
  bool exhausted = false;
  size_t taken = 0, given = 0, outstanding = 0;
};

// A large header's text and the large blocks of its tree come from the document's large
// memory and go back to it, each with the size it was taken with; a small one never asks.
// Memory that runs out throws; what a document cannot count is refused without asking.
TEST(JsonDocument, LargePiecesComeFromItsLargeMemoryAndGoBack) {
  CountedMemory memory;
  {
    JsonDocument document(&memory);
    ASSERT_TRUE(parseDocument(numbers(1000, 0), document));
    EXPECT_EQ(0u, memory.taken);

    const std::string text = numbers(600000, 1000000);  // 4.8 MB of text, 9.6 MB of cells
    std::memcpy(JsonBuilder(document).placeText(text.size()), text.data(), text.size());
    ASSERT_TRUE(parseDocument(document));
    EXPECT_EQ(describedAs(text), describe(*document.root()));
    EXPECT_GE(memory.taken, 3u);  // the text and at least two blocks
  }
  EXPECT_EQ(memory.taken, memory.given);
  EXPECT_EQ(0u, memory.outstanding);

  memory.exhausted = true;
  JsonDocument document(&memory);
  JsonBuilder builder(document);
  EXPECT_THROW(builder.placeText(3 << 20), std::bad_alloc);
  EXPECT_EQ(nullptr, builder.placeText(JsonBuilder::largestCount + 1));
  JsonCell cell;
  EXPECT_FALSE(builder.makeArray(cell, nullptr, JsonBuilder::largestCount + 1));
  EXPECT_TRUE(document.text().empty());
}

}  // namespace
}  // namespace tolvex
