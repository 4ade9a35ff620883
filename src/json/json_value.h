#ifndef TOLVEX_JSON_JSON_VALUE_H_
#define TOLVEX_JSON_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>

namespace tolvex {

class JsonValue;

// What a value is. Consumers test `kind` and then read the matching class's fields.
enum class JsonKind : uint8_t {
  Undefined = 0,
  Null = 1,
  Boolean = 2,
  Number = 3,
  String = 4,
  Array = 5,
  Object = 6,
};

// How a JsonNumber's payload is read.
enum class NumberForm : uint32_t {
  Real = 0,      // IEEE 754 binary64
  Unsigned = 1,  // unsigned 64-bit integer
  Signed = 2,    // two's-complement signed 64-bit integer
};

// The place of one value of a document: every value class fits in 16 bytes, and a document
// keeps its values in cells of this size, right inside their arrays and objects. A cell is
// moved by copying its bytes, so every value class is trivially copyable (held so below).
struct JsonCell {
  // The value made in the cell.
  const JsonValue& value() const;

  alignas(8) unsigned char bytes[16];
};

// A value of a header tree. Every value is made by the JsonDocument that holds the tree, in
// the cell where its container keeps it, and lives exactly as long as that tree: a value is
// never freed on its own, and what refers to it (keys, strings) borrows from the document.
// The base class itself is only ever the shared undefined value, which lives for the whole
// run. Values are no polymorphic classes and hold no more than their fields, since a parsed
// header holds millions of them. Only the document's builder (json_builder.h) makes them.
class JsonValue {
 public:
  JsonValue& operator=(const JsonValue&) = delete;

  const JsonKind kind;

 protected:
  explicit JsonValue(JsonKind valueKind) : kind(valueKind) {}
  // Defaulted rather than deleted, so that every value class is trivially copyable by the
  // language's rule; protected, so that no value is sliced into a bare JsonValue.
  JsonValue(const JsonValue&) = default;
  ~JsonValue() = default;

  friend const JsonValue* undefinedValue();
};

inline const JsonValue& JsonCell::value() const {
  return *std::launder(reinterpret_cast<const JsonValue*>(bytes));
}

class JsonNull : public JsonValue {
 private:
  JsonNull() : JsonValue(JsonKind::Null) {}
  friend class JsonBuilder;
};

class JsonBoolean : public JsonValue {
 public:
  const uint8_t value;  // 0 for false, 1 for true

 private:
  explicit JsonBoolean(bool isTrue) : JsonValue(JsonKind::Boolean), value(isTrue ? 1 : 0) {}
  friend class JsonBuilder;
};

class JsonNumber : public JsonValue {
 public:
  double realValue() const;     // the payload read as binary64 (meaningful for Real)
  int64_t signedValue() const;  // the payload in two's complement (meaningful for Signed)
  uint64_t unsignedValue() const { return payload; }

  const NumberForm form;
  // The bits of a binary64 when `form` is Real, of a 64-bit integer otherwise.
  const uint64_t payload;

 private:
  JsonNumber(NumberForm numberForm, uint64_t payloadBits)
      : JsonValue(JsonKind::Number), form(numberForm), payload(payloadBits) {}
  friend class JsonBuilder;
};

// The decoded bytes of a string literal; any byte, NUL included, is content.
class JsonString : public JsonValue {
 public:
  std::string_view text() const { return std::string_view(bytes_, length_); }

 private:
  JsonString(const char* bytes, uint32_t length)
      : JsonValue(JsonKind::String), length_(length), bytes_(bytes) {}

  const uint32_t length_;
  const char* const bytes_;

  friend class JsonBuilder;
};

// Elements in the order of the text.
class JsonArray : public JsonValue {
 public:
  size_t elementCount() const { return count_; }
  // Borrowed; `index` must be below elementCount().
  const JsonValue& element(size_t index) const;

 private:
  JsonArray(const JsonCell* cells, uint32_t count)
      : JsonValue(JsonKind::Array), count_(count), cells_(cells) {}

  const uint32_t count_;
  const JsonCell* const cells_;

  friend class JsonBuilder;
};

// Members with unique keys, kept in ascending key order: keys compare as unsigned bytes, a
// key that is a prefix of another coming first. Positional access takes constant time,
// keyed look-up is logarithmic in the number of members.
class JsonObject : public JsonValue {
 public:
  uint32_t memberCount() const { return count_; }

  // The key and the value at `index` in ascending key order, borrowed from the document.
  // An index not below memberCount() yields the empty key and the undefined value.
  std::string_view memberKey(uint32_t index) const;
  const JsonValue& memberValue(uint32_t index) const;

  // The value stored under `key`, or the shared undefined value.
  const JsonValue& member(std::string_view key) const;

 private:
  // A member as an object holds it: its key is the document's text at
  // [keyOffset, keyOffset + keyLength), its value is in the cell.
  struct Member {
    uint32_t keyOffset;
    uint32_t keyLength;
    JsonCell value;
  };
  // What the members follow: where key offsets count from.
  struct RunHeader {
    const char* keys;
  };

  JsonObject(const RunHeader* run, uint32_t count)
      : JsonValue(JsonKind::Object), count_(count), run_(run) {}

  const Member* members() const;
  // The position of the member whose key is `key`, or count_.
  uint32_t find(std::string_view key) const;

  const uint32_t count_;
  const RunHeader* const run_;  // followed by the members

  friend class JsonBuilder;
};

// Whether a value class can live in a cell: it fits, and it moves and goes with its bytes.
template <class Value>
constexpr bool fitsCell() {
  return sizeof(Value) <= sizeof(JsonCell) && alignof(Value) <= alignof(JsonCell) &&
         std::is_trivially_copyable_v<Value> && std::is_trivially_destructible_v<Value>;
}
static_assert(fitsCell<JsonNull>() && fitsCell<JsonBoolean>() && fitsCell<JsonNumber>() &&
                  fitsCell<JsonString>() && fitsCell<JsonArray>() && fitsCell<JsonObject>(),
              "every value class lives in a cell");

// The shared undefined value: what a look-up finds where there is nothing. It exists once
// in the process and is never freed.
const JsonValue* undefinedValue();

// Where a document takes its large pieces of memory from (its text, the blocks of its
// values): a system may back them with huge pages, so that filling them costs few page
// faults. Without one, a document takes all its memory from the C++ heap.
class LargeMemory {
 public:
  // `bytes` of memory, or null when there is none.
  virtual void* allocate(size_t bytes) = 0;
  // Gives back what allocate() gave, with the same size.
  virtual void release(void* memory, size_t bytes) = 0;

 protected:
  ~LargeMemory() = default;
};

// The owner of one parsed tree and of the text it was parsed from, as its readers see it:
// the root and what lies below it, read only. `root()` is null until a parse stores a
// value. The tree's values live in cells inside a few large blocks that the document frees
// all at once; keys and strings of the tree are views of the document's text. What gives a
// document its text and makes its tree is its builder (json_builder.h), for the parser and
// the header's reader. reset() and destruction give up every value and the text.
class JsonDocument {
 public:
  // Pieces of memory of a few MiB or more come from `large` when given (borrowed: it must
  // outlive the document).
  explicit JsonDocument(LargeMemory* large = nullptr) : large_(large) {}
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;
  ~JsonDocument() { reset(); }

  void reset();

  // Borrowed: it must not outlive the document's tree.
  const JsonValue* root() const { return root_; }

  // The root object's member `key`; the undefined value when the root is absent, is not an
  // object or has no such member. Borrowed: it must not outlive the document's tree.
  const JsonValue& member(std::string_view key) const;

  // The text the tree was parsed from, or is to be parsed from.
  std::string_view text() const { return std::string_view(text_, textLength_); }

  // The bytes of the blocks that hold the document's values (not its text).
  size_t valueBlockBytes() const { return blockBytes_; }

 private:
  struct Block {
    Block* previous;
    size_t size;  // bytes after the header
    bool large;   // from large_, else from the C++ heap
  };

  // Memory of `bytes` from large_ when it is given and they are many, else from the heap;
  // `large` tells which. Null when there is none.
  void* take(size_t bytes, bool& large);
  void give(void* memory, size_t bytes, bool large);
  // Gives up the root and every value; keeps the text.
  void freeValues();

  LargeMemory* const large_;
  const JsonValue* root_ = nullptr;
  char* text_ = nullptr;
  size_t textLength_ = 0;
  bool textLarge_ = false;
  Block* blocks_ = nullptr;
  char* next_ = nullptr;  // where the next value goes in the newest block
  char* end_ = nullptr;
  size_t blockBytes_ = 0;

  friend class JsonBuilder;
};

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_VALUE_H_
