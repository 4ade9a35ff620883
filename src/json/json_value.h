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

// Strings and objects keep their bytes in the same allocation as themselves; they are made
// by their make() functions and given up through release() like every value.
struct TrailingBytes {
  size_t count;
};

// The decoded bytes of a string literal; any byte, NUL included, is content.
class JsonString : public JsonValue {
 public:
  // A new string holding a copy of `bytes` (at most 4 GiB - 1 of them).
  static JsonString* make(std::string_view bytes);

  std::string_view text() const {
    return std::string_view(reinterpret_cast<const char*>(this) + sizeof(JsonString), length_);
  }

  static void operator delete(void* memory) { ::operator delete(memory); }

 private:
  explicit JsonString(uint32_t length) : JsonValue(JsonKind::String), length_(length) {}
  static void* operator new(size_t size, TrailingBytes extra) {
    return ::operator new(size + extra.count);
  }
  static void operator delete(void* memory, TrailingBytes) { ::operator delete(memory); }

  const uint32_t length_;
};

// Elements in the order they were appended; releasing the array releases them in that order.
class JsonArray : public JsonValue {
 public:
  JsonArray() : JsonValue(JsonKind::Array) {}
  // Takes ownership of every element.
  explicit JsonArray(std::vector<JsonValue*>&& elements)
      : JsonValue(JsonKind::Array), elements_(std::move(elements)) {}
  ~JsonArray() override;

  // Takes ownership of `value` once it is stored. Should storing throw (no memory), the
  // caller still owns `value`.
  void append(JsonValue* value);
  size_t elementCount() const { return elements_.size(); }
  // Borrowed; `index` must be below elementCount().
  const JsonValue& element(size_t index) const { return *elements_[index]; }

 private:
  std::vector<JsonValue*> elements_;
};

// Members with unique keys, kept in ascending key order: keys compare as unsigned bytes, a
// key that is a prefix of another coming first. Keyed look-up and addMember() are logarithmic
// in the number of members; stepping through the positions in increasing order costs
// constant time per step, and an object made in one go, as the parser makes them, answers
// any position in constant time.
class JsonObject : public JsonValue {
 public:
  // One member of an object made in one go: its key and its value.
  struct Entry {
    std::string_view key;
    JsonValue* value;
  };

  // A new object of the `count` members of `entries`, whose keys must be strictly ascending.
  // Takes ownership of the values once made (should making throw, the caller still owns
  // them); the keys are copied.
  static JsonObject* make(const Entry* entries, size_t count);
  // A new empty object.
  static JsonObject* make() { return make(nullptr, 0); }

  ~JsonObject() override;

  // Adds a copy of `key` with `value` and takes ownership of `value`. When a member with an
  // equal key exists already, nothing changes, the result is false and the caller still
  // owns `value`: the first value for a key stays.
  bool addMember(std::string_view key, JsonValue* value);

  uint32_t memberCount() const;

  // The key and the value at `index` in ascending key order, borrowed from the object and
  // valid while it lives unchanged. An index not below memberCount() yields the empty key
  // and the undefined value.
  std::string_view memberKey(uint32_t index) const;
  const JsonValue& memberValue(uint32_t index) const;

  // The value stored under `key`, or the shared undefined value; never adds a member.
  const JsonValue& member(std::string_view key) const;

  static void operator delete(void* memory) { ::operator delete(memory); }

 private:
  // A member of the run made with the object: its key is keyBytes()[keyOffset, + keyLength).
  struct Member {
    uint32_t keyOffset;
    uint32_t keyLength;
    JsonValue* value;
  };
  struct Overflow;

  explicit JsonObject(uint32_t runLength);
  static void* operator new(size_t size, TrailingBytes extra) {
    return ::operator new(size + extra.count);
  }
  static void operator delete(void* memory, TrailingBytes) { ::operator delete(memory); }

  // The run and its key bytes follow the object in the same allocation.
  Member* run() const {
    return reinterpret_cast<Member*>(const_cast<char*>(reinterpret_cast<const char*>(this)) +
                                     sizeof(JsonObject));
  }
  const char* keyBytes() const { return reinterpret_cast<const char*>(run() + runLength_); }
  std::string_view keyOf(const Member& member) const {
    return std::string_view(keyBytes() + member.keyOffset, member.keyLength);
  }
  // The member of the run whose key equals `key`, or null.
  const Member* findInRun(std::string_view key) const;
  // Steps to `index` in the merged order of the run and the overflow; returns the key and
  // the value there.
  std::pair<std::string_view, JsonValue*> mergedAt(uint32_t index) const;

  // The members the object was made with stay in one sorted run; members added later go to
  // an ordered overflow, so that no insertion moves the run.
  const uint32_t runLength_;
  std::unique_ptr<Overflow> overflow_;
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
