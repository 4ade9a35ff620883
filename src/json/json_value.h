#ifndef TOLVEX_JSON_JSON_VALUE_H_
#define TOLVEX_JSON_JSON_VALUE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvex {

// What a value is. Consumers test `kind` and then read the matching class's fields.
enum class JsonKind : uint32_t {
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

// A value of the header tree. The base class itself is only ever the shared undefined
// value. Every allocated value has exactly one owner and is given up through release(),
// never with delete; release() on one of the four shared instances does nothing, so an
// owner releases its children without looking at what they are.
class JsonValue {
 public:
  explicit JsonValue(JsonKind valueKind) : kind(valueKind) {}
  JsonValue(const JsonValue&) = delete;
  JsonValue& operator=(const JsonValue&) = delete;
  virtual ~JsonValue() = default;

  // Destroys and frees this value with its whole subtree, unless it is a shared instance.
  // The caller must not use the pointer afterwards unless it was a shared instance.
  virtual void release();

  const JsonKind kind;
};

class JsonNull : public JsonValue {
 public:
  JsonNull() : JsonValue(JsonKind::Null) {}
  void release() override;
};

class JsonBoolean : public JsonValue {
 public:
  explicit JsonBoolean(bool isTrue) : JsonValue(JsonKind::Boolean), value(isTrue ? 1 : 0) {}
  void release() override;

  const uint8_t value;  // 0 for false, 1 for true
};

class JsonNumber : public JsonValue {
 public:
  // `payload` holds the bits of a binary64 when `form` is Real, of a 64-bit integer otherwise.
  JsonNumber(NumberForm numberForm, uint64_t payloadBits)
      : JsonValue(JsonKind::Number), form(numberForm), payload(payloadBits) {}

  double realValue() const;     // the payload read as binary64 (meaningful for Real)
  int64_t signedValue() const;  // the payload in two's complement (meaningful for Signed)
  uint64_t unsignedValue() const { return payload; }

  const NumberForm form;
  const uint64_t payload;
};

// The decoded bytes of a string literal; any byte, NUL included, is content.
class JsonString : public JsonValue {
 public:
  explicit JsonString(std::string bytes) : JsonValue(JsonKind::String), text(std::move(bytes)) {}

  const std::string text;
};

// Elements in the order they were appended; releasing the array releases them in that order.
class JsonArray : public JsonValue {
 public:
  JsonArray() : JsonValue(JsonKind::Array) {}
  ~JsonArray() override;

  // Takes ownership of `value` once it is stored. Should storing throw (no memory), the
  // caller still owns `value`.
  void append(JsonValue* value);
  size_t elementCount() const { return elements.size(); }
  // Borrowed; `index` must be below elementCount().
  const JsonValue& element(size_t index) const { return *elements[index]; }

 private:
  std::vector<JsonValue*> elements;
};

// Members with unique keys, kept in ascending key order: keys compare as unsigned bytes,
// a key that is a prefix of another coming first. Insertion and keyed look-up are
// logarithmic; stepping through the members by increasing position costs constant time
// per step (the object remembers where the last positional access stood).
class JsonObject : public JsonValue {
 public:
  JsonObject() : JsonValue(JsonKind::Object), cursor(members.begin()) {}
  ~JsonObject() override;

  // Adds a copy of `key` with `value` and takes ownership of `value`. When a member with an
  // equal key exists already, nothing changes, the result is false and the caller still
  // owns `value`: the first value for a key stays.
  bool addMember(std::string_view key, JsonValue* value);

  uint32_t memberCount() const { return static_cast<uint32_t>(members.size()); }

  // The key and the value at `index` in ascending key order, borrowed from the object and
  // valid while it lives unchanged. An index not below memberCount() yields the empty key
  // and the undefined value.
  const std::string& memberKey(uint32_t index) const;
  const JsonValue& memberValue(uint32_t index) const;

  // The value stored under `key`, or the shared undefined value; never adds a member.
  const JsonValue& member(std::string_view key) const;

 private:
  using Members = std::map<std::string, JsonValue*, std::less<>>;

  // Moves the cursor to `index` (which must be below memberCount()).
  void seekMember(uint32_t index) const;

  Members members;
  mutable Members::const_iterator cursor;
  mutable uint32_t cursorIndex = 0;
};

// The shared instances: each exists once in the process, is created on first use and is
// never freed.
JsonValue* undefinedValue();
JsonNull* nullValue();
JsonBoolean* falseValue();
JsonBoolean* trueValue();

// Holds a value and releases it when destroyed.
struct ValueReleaser {
  void operator()(JsonValue* value) const { value->release(); }
};
template <class T>
using Owned = std::unique_ptr<T, ValueReleaser>;

// The owner of one parsed tree: `root` is null until a parse stores a value, and the tree is
// released by reset() and when the document is destroyed.
class JsonDocument {
 public:
  JsonDocument() = default;
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;
  ~JsonDocument() { reset(); }

  void reset();

  // The root object's member `key`; the undefined value when the root is absent, is not an
  // object or has no such member. Borrowed: it must not outlive the document.
  const JsonValue& member(std::string_view key) const;

  JsonValue* root = nullptr;
};

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_VALUE_H_
