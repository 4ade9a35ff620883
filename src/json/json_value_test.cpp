#include "json/json_value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "json/json_parser.h"

namespace tolvex {
namespace {

std::vector<std::string> keysOf(const JsonObject& object) {
  std::vector<std::string> keys;
  for (uint32_t i = 0; i < object.memberCount(); ++i)
    keys.emplace_back(object.memberKey(i));
  return keys;
}

TEST(JsonObject, OrdersKeysByUnsignedBytes) {
  Owned<JsonObject> object(JsonObject::make());
  for (const char* key : {"b", "a", "B", "", "ab", "\xC3\xA9", "z", "a\x7F"})
    EXPECT_TRUE(object->addMember(key, nullValue()));
  const std::vector<std::string> expected = {"", "B", "a", "ab", "a\x7F", "b", "z", "\xC3\xA9"};
  EXPECT_EQ(expected, keysOf(*object));
}

TEST(JsonObject, KeysAreCountedBytes) {
  Owned<JsonObject> object(JsonObject::make());
  Owned<JsonString> first(JsonString::make("first"));
  Owned<JsonString> second(JsonString::make("second"));
  ASSERT_TRUE(object->addMember(std::string("a\0b", 3), first.release()));
  ASSERT_TRUE(object->addMember(std::string("a\0c", 3), second.release()));
  ASSERT_EQ(2u, object->memberCount());
  EXPECT_EQ(std::string("a\0b", 3), object->memberKey(0));
  EXPECT_EQ("second",
            static_cast<const JsonString&>(object->member(std::string("a\0c", 3))).text());
  EXPECT_EQ(undefinedValue(), &object->member("a"));
}

TEST(JsonObject, FirstValueForAKeyStays) {
  Owned<JsonObject> object(JsonObject::make());
  Owned<JsonNumber> first(new JsonNumber(NumberForm::Unsigned, 1));
  const JsonValue* kept = first.get();
  ASSERT_TRUE(object->addMember("a", first.release()));
  Owned<JsonNumber> second(new JsonNumber(NumberForm::Unsigned, 2));
  EXPECT_FALSE(object->addMember("a", second.get()));  // still ours: released by `second`
  EXPECT_EQ(1u, object->memberCount());
  EXPECT_EQ(kept, &object->member("a"));
}

TEST(JsonObject, MissingMemberIsTheSharedUndefinedValue) {
  Owned<JsonObject> object(JsonObject::make());
  EXPECT_EQ(0u, object->memberCount());
  EXPECT_EQ(undefinedValue(), &object->member("files"));
  object->addMember("a", trueValue());
  EXPECT_EQ(undefinedValue(), &object->member("b"));
  EXPECT_EQ(undefinedValue(), &object->member(""));
  EXPECT_EQ(JsonKind::Undefined, object->member("b").kind);
  EXPECT_EQ(1u, object->memberCount());
}

TEST(JsonObject, PositionalAccessFollowsInsertions) {
  Owned<JsonObject> object(JsonObject::make());
  object->addMember("m", trueValue());
  object->addMember("x", falseValue());
  EXPECT_EQ("x", object->memberKey(1));
  object->addMember("a", nullValue());  // shifts every position by one
  EXPECT_EQ("m", object->memberKey(1));
  EXPECT_EQ(trueValue(), &object->memberValue(1));
  EXPECT_EQ("a", object->memberKey(0));  // backwards after forwards
  EXPECT_EQ(falseValue(), &object->memberValue(2));
  EXPECT_EQ("", object->memberKey(3));
  EXPECT_EQ(undefinedValue(), &object->memberValue(3));
}

// An object made in one go keeps those members in a run; later ones merge in by key.
TEST(JsonObject, MembersAddedAfterMakingMergeInKeyOrder) {
  const JsonObject::Entry entries[] = {{"b", new JsonNumber(NumberForm::Unsigned, 2)},
                                       {"d", new JsonNumber(NumberForm::Unsigned, 4)},
                                       {"f", new JsonNumber(NumberForm::Unsigned, 6)}};
  Owned<JsonObject> object(JsonObject::make(entries, 3));
  for (const char* key : {"g", "a", "e", "c"})
    EXPECT_TRUE(object->addMember(key, JsonString::make(key)));
  Owned<JsonValue> refused(JsonString::make("second d"));
  EXPECT_FALSE(object->addMember("d", refused.get()));
  Owned<JsonValue> refusedToo(JsonString::make("second e"));
  EXPECT_FALSE(object->addMember("e", refusedToo.get()));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}), keysOf(*object));
  EXPECT_EQ("e", object->memberKey(4));
  EXPECT_EQ(entries[1].value, &object->memberValue(3));
  EXPECT_EQ(entries[0].value, &object->member("b"));
  EXPECT_EQ("c", static_cast<const JsonString&>(object->member("c")).text());
  EXPECT_EQ(undefinedValue(), &object->member("bb"));
}

TEST(JsonObject, ManyMembersInReverseOrder) {
  Owned<JsonObject> object(JsonObject::make());
  const uint32_t count = 100000;
  for (uint32_t i = count; i-- > 0;) {
    char key[16];
    std::snprintf(key, sizeof key, "%08u", i);
    object->addMember(key, new JsonNumber(NumberForm::Unsigned, i));
  }
  ASSERT_EQ(count, object->memberCount());
  for (uint32_t i = 0; i < count; ++i) {
    const JsonValue& value = object->memberValue(i);
    ASSERT_EQ(i, static_cast<const JsonNumber&>(value).unsignedValue());
  }
}

TEST(JsonArray, AppendedElementsStayInOrder) {
  Owned<JsonArray> array(new JsonArray(std::vector<JsonValue*>{JsonString::make("0"),
                                                               JsonString::make("1"),
                                                               JsonString::make("2")}));
  for (uint64_t i = 3; i < 100; ++i)
    array->append(new JsonNumber(NumberForm::Unsigned, i));
  ASSERT_EQ(100u, array->elementCount());
  EXPECT_EQ("2", static_cast<const JsonString&>(array->element(2)).text());
  for (uint64_t i = 3; i < 100; ++i)
    ASSERT_EQ(i, static_cast<const JsonNumber&>(array->element(i)).unsignedValue());
}

TEST(JsonRelease, SharedInstancesSurviveRelease) {
  Owned<JsonArray> array(new JsonArray);
  for (int i = 0; i < 3; ++i)
    array->append(nullValue());
  array.reset();
  for (JsonValue* shared :
       std::vector<JsonValue*>{undefinedValue(), nullValue(), falseValue(), trueValue()}) {
    shared->release();
    shared->release();
  }
  EXPECT_EQ(JsonKind::Null, nullValue()->kind);
  EXPECT_EQ(JsonKind::Undefined, undefinedValue()->kind);
  EXPECT_EQ(0, falseValue()->value);
  EXPECT_EQ(1, trueValue()->value);
  EXPECT_EQ(nullValue(), nullValue());
}

TEST(JsonNumber, PayloadReadsInEveryForm) {
  JsonNumber real(NumberForm::Real, 0xBFF8000000000000u);
  EXPECT_EQ(-1.5, real.realValue());
  JsonNumber negative(NumberForm::Signed, 0xFFFFFFFFFFFFFFFEu);
  EXPECT_EQ(-2, negative.signedValue());
  EXPECT_EQ(0xFFFFFFFFFFFFFFFEu, negative.unsignedValue());
}

TEST(JsonDocument, MemberNeedsAnObjectRoot) {
  JsonDocument document;
  EXPECT_EQ(undefinedValue(), &document.member("files"));
  document.root = new JsonArray;
  EXPECT_EQ(undefinedValue(), &document.member("files"));
  document.reset();
  EXPECT_EQ(nullptr, document.root);
  document.root = JsonString::make("files");
  EXPECT_EQ(undefinedValue(), &document.member("files"));
  document.reset();

  JsonObject* object = JsonObject::make();
  object->addMember("files", trueValue());
  document.root = object;
  EXPECT_EQ(trueValue(), &document.member("files"));
  EXPECT_EQ(undefinedValue(), &document.member("file"));
}

// `value` written without spaces, objects in their key order: the text it was parsed from
// when that was written so.
std::string canonical(const JsonValue& value) {
  switch (value.kind) {
    case JsonKind::Null:
      return "null";
    case JsonKind::Boolean:
      return static_cast<const JsonBoolean&>(value).value ? "true" : "false";
    case JsonKind::Number:
      return std::to_string(static_cast<const JsonNumber&>(value).payload);
    case JsonKind::String:
      return "\"" + std::string(static_cast<const JsonString&>(value).text()) + "\"";
    case JsonKind::Array: {
      const auto& array = static_cast<const JsonArray&>(value);
      std::string text = "[";
      for (size_t i = 0; i < array.elementCount(); ++i)
        text += (i ? "," : "") + canonical(array.element(i));
      return text + "]";
    }
    case JsonKind::Object: {
      const auto& object = static_cast<const JsonObject&>(value);
      std::string text = "{";
      for (uint32_t i = 0; i < object.memberCount(); ++i)
        text += (i ? ",\"" : "\"") + std::string(object.memberKey(i)) + "\":" +
                canonical(object.memberValue(i));
      return text + "}";
    }
    case JsonKind::Undefined:
      break;
  }
  return "?";
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
      ASSERT_EQ(text, canonical(*document.root));
    }
  }
}

// A random document of nested arrays and objects (keys in order, values of every kind),
// written canonically, of about `budget` values.
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
    ASSERT_EQ(text, canonical(*document.root));
  }
}

}  // namespace
}  // namespace tolvex
