#ifndef TOLVEX_JSON_JSON_VALUE_H_
#define TOLVEX_JSON_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvex {

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

class JsonDocument;

// The place of one value of a document: every value class fits in 16 bytes, and a document
// keeps its values in cells of this size, right inside their arrays and objects.
struct JsonCell {
  alignas(8) unsigned char bytes[16];
};

// A value of the header tree. The base class itself is only ever the shared undefined
// value. A value lives in one of three ways, which decides what release() does:
// - made on its own (with new or a make() function): it has exactly one owner, who gives
//   it up through release(), never with delete; release() destroys and frees it with its
//   whole subtree;
// - made by a JsonDocument (the parser makes every value of a parsed tree that way, nulls
//   and booleans included, each in the cell where its container keeps it): it lives
//   exactly as long as the document's tree, which frees all of its values at once, and
//   release() does nothing;
// - one of the four shared instances: release() does nothing.
// So an owner releases its children without looking at what they are. Values are no
// polymorphic classes: release() dispatches on `kind`, and a value holds no more than its
// fields, since a parsed header holds millions of them.
class JsonValue {
 public:
  JsonValue(const JsonValue&) = delete;
  JsonValue& operator=(const JsonValue&) = delete;

  // Gives the value up; see above. The caller must not use the pointer afterwards unless
  // the value was a shared instance or belongs to a document that still holds its tree.
  void release();

  const JsonKind kind;

 protected:
  enum class Storage : uint8_t { Own, Document, Shared };

  JsonValue(JsonKind valueKind, Storage storage) : kind(valueKind), storage_(storage) {}
  ~JsonValue() = default;

  bool inDocument() const { return storage_ == Storage::Document; }

  const Storage storage_;

  friend class JsonDocument;
  friend JsonValue* undefinedValue();
};

class JsonNull : public JsonValue {
 public:
  JsonNull() : JsonValue(JsonKind::Null, Storage::Own) {}

 private:
  explicit JsonNull(Storage storage) : JsonValue(JsonKind::Null, storage) {}
  friend class JsonDocument;
  friend JsonNull* nullValue();
};

class JsonBoolean : public JsonValue {
 public:
  explicit JsonBoolean(bool isTrue)
      : JsonValue(JsonKind::Boolean, Storage::Own), value(isTrue ? 1 : 0) {}

  const uint8_t value;  // 0 for false, 1 for true

 private:
  JsonBoolean(bool isTrue, Storage storage)
      : JsonValue(JsonKind::Boolean, storage), value(isTrue ? 1 : 0) {}
  friend class JsonDocument;
  friend JsonBoolean* falseValue();
  friend JsonBoolean* trueValue();
};

class JsonNumber : public JsonValue {
 public:
  // `payload` holds the bits of a binary64 when `form` is Real, of a 64-bit integer otherwise.
  JsonNumber(NumberForm numberForm, uint64_t payloadBits)
      : JsonValue(JsonKind::Number, Storage::Own), form(numberForm), payload(payloadBits) {}

  double realValue() const;     // the payload read as binary64 (meaningful for Real)
  int64_t signedValue() const;  // the payload in two's complement (meaningful for Signed)
  uint64_t unsignedValue() const { return payload; }

  const NumberForm form;
  const uint64_t payload;

 private:
  JsonNumber(NumberForm numberForm, uint64_t payloadBits, Storage storage)
      : JsonValue(JsonKind::Number, storage), form(numberForm), payload(payloadBits) {}
  friend class JsonDocument;
};

// The decoded bytes of a string literal; any byte, NUL included, is content.
class JsonString : public JsonValue {
 public:
  // A new string of its own holding a copy of `bytes` (at most 4 GiB - 1 of them), in the
  // same allocation as itself.
  static JsonString* make(std::string_view bytes);

  std::string_view text() const { return std::string_view(bytes_, length_); }

 private:
  JsonString(const char* bytes, uint32_t length, Storage storage)
      : JsonValue(JsonKind::String, storage), length_(length), bytes_(bytes) {}
  ~JsonString() = default;

  const uint32_t length_;
  const char* const bytes_;

  friend class JsonValue;
  friend class JsonDocument;
};

// Elements in the order they were appended; releasing the array releases them in that order.
class JsonArray : public JsonValue {
 public:
  JsonArray() : JsonValue(JsonKind::Array, Storage::Own) {}
  // Takes ownership of every element, also when this throws (no memory).
  explicit JsonArray(std::vector<JsonValue*>&& elements);
  ~JsonArray();

  // Takes ownership of `value` once it is stored. Should storing throw (no memory), the
  // caller still owns `value`. An array of a document takes no more elements: it stores
  // nothing and the caller still owns `value`.
  void append(JsonValue* value);
  size_t elementCount() const { return count_; }
  // Borrowed; `index` must be below elementCount().
  const JsonValue& element(size_t index) const {
    if (inDocument())
      return *reinterpret_cast<const JsonValue*>(static_cast<const JsonCell*>(elements_) + index);
    return *static_cast<JsonValue* const*>(elements_)[index];
  }

 private:
  JsonArray(const JsonCell* cells, uint32_t count)
      : JsonValue(JsonKind::Array, Storage::Document),
        count_(count),
        elements_(const_cast<JsonCell*>(cells)) {}

  // A document's array holds its elements in cells; an array of its own points to them,
  // from storage whose capacity is the smallest power of two not below the count.
  uint32_t count_ = 0;
  void* elements_ = nullptr;

  friend class JsonDocument;
};

// Members with unique keys, kept in ascending key order: keys compare as unsigned bytes, a
// key that is a prefix of another coming first. Keyed look-up is logarithmic in the number
// of members. An object made in one go, as the parser and make() make them, answers any
// position in constant time; members added later with addMember() (logarithmic) are
// stepped through in constant time per step in increasing order.
class JsonObject : public JsonValue {
 public:
  // One member of an object made in one go: its key and its value.
  struct Entry {
    std::string_view key;
    JsonValue* value;
  };

  // A member as an object of a document holds it: its key is the document's text at
  // [keyOffset, keyOffset + keyLength), its value is in the cell.
  struct Member {
    uint32_t keyOffset;
    uint32_t keyLength;
    JsonCell value;
  };

  // A new object of its own of the `count` members of `entries`, whose keys must be
  // strictly ascending. Takes ownership of the values once made (should making throw, the
  // caller still owns them); the keys are copied.
  static JsonObject* make(const Entry* entries, size_t count);
  // A new empty object of its own.
  static JsonObject* make() { return make(nullptr, 0); }

  // Adds a copy of `key` with `value` and takes ownership of `value`. When a member with an
  // equal key exists already, nothing changes, the result is false and the caller still
  // owns `value`: the first value for a key stays. An object of a document is complete: it
  // takes no member, and the result is false.
  bool addMember(std::string_view key, JsonValue* value);

  uint32_t memberCount() const;

  // The key and the value at `index` in ascending key order, borrowed from the object and
  // valid while it lives unchanged. An index not below memberCount() yields the empty key
  // and the undefined value.
  std::string_view memberKey(uint32_t index) const;
  const JsonValue& memberValue(uint32_t index) const;

  // The value stored under `key`, or the shared undefined value; never adds a member.
  const JsonValue& member(std::string_view key) const;

 private:
  struct Overflow;
  // A member of an object of its own: its key in the object's own key bytes.
  struct OwnMember {
    uint32_t keyOffset;
    uint32_t keyLength;
    JsonValue* value;
  };
  // What the run starts with: where key offsets count from and, for an object of its own,
  // the members added after it was made, in an ordered overflow, so that no insertion
  // moves the run.
  struct RunHeader {
    const char* keys;
    Overflow* overflow;
  };
  struct DocumentRunHeader {
    const char* keys;
  };

  JsonObject(void* run, uint32_t runLength, Storage storage)
      : JsonValue(JsonKind::Object, storage), runLength_(runLength), run_(run) {}
  ~JsonObject();

  // Both kinds of run header start with the key bytes' address.
  const char* keys() const { return *static_cast<const char* const*>(run_); }
  const Member* documentRun() const {
    return reinterpret_cast<const Member*>(static_cast<const DocumentRunHeader*>(run_) + 1);
  }
  RunHeader& ownHeader() const { return *static_cast<RunHeader*>(run_); }
  OwnMember* ownRun() const { return reinterpret_cast<OwnMember*>(&ownHeader() + 1); }
  Overflow* overflow() const { return inDocument() ? nullptr : ownHeader().overflow; }
  std::string_view keyAt(uint32_t offset, uint32_t length) const {
    return std::string_view(keys() + offset, length);
  }
  // The position in the run of the member whose key equals `key`, or runLength_.
  uint32_t findInRun(std::string_view key) const;
  // Steps to `index` in the merged order of the run and the overflow; returns the key and
  // the value there.
  std::pair<std::string_view, JsonValue*> mergedAt(uint32_t index) const;

  // Members the object was made with, sorted by key, with their header.
  const uint32_t runLength_;
  void* const run_;

  friend class JsonValue;
  friend class JsonDocument;
};

static_assert(sizeof(JsonNumber) <= sizeof(JsonCell) && sizeof(JsonString) <= sizeof(JsonCell) &&
                  sizeof(JsonArray) <= sizeof(JsonCell) && sizeof(JsonObject) <= sizeof(JsonCell),
              "every value fits in a cell");

// The shared instances: each exists once in the process, is created on first use and is
// never freed.
JsonValue* undefinedValue();
JsonNull* nullValue();
JsonBoolean* falseValue();
JsonBoolean* trueValue();

// A new value of its own equal to `value`, its whole subtree copied; nulls and booleans are
// the shared instances. Throws std::bad_alloc when there is no memory, having released what
// it had made.
JsonValue* copyOf(const JsonValue& value);

// Holds a value and releases it when destroyed.
struct ValueReleaser {
  void operator()(JsonValue* value) const { value->release(); }
};
template <class T>
using Owned = std::unique_ptr<T, ValueReleaser>;

// The owner of one parsed tree and of the text it was parsed from. `root` is null until a
// parse stores a value. The document makes the tree's values itself, in cells inside a few
// large blocks that it frees all at once (values made by the document need no release());
// keys and strings of the tree are views of the document's text. reset() and destruction
// give up the root (releasing it, should it be a value of its own), every value the
// document made and the text.
class JsonDocument {
 public:
  JsonDocument() = default;
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;
  ~JsonDocument() { reset(); }

  void reset();

  // The root object's member `key`; the undefined value when the root is absent, is not an
  // object or has no such member. Borrowed: it must not outlive the document's tree.
  const JsonValue& member(std::string_view key) const;

  // Resets the document and gives it a text of `length` bytes (at most 4 GiB - 1), whose
  // bytes the caller then writes through the pointer, to be parsed by parseDocument. The
  // bytes are not initialised. Throws std::bad_alloc when there is no memory for them.
  char* placeText(size_t length);
  std::string_view text() const { return std::string_view(text_.get(), textLength_); }

  // For the parser: values of the document, made in `cell`. A cell is moved by copying
  // its bytes. Strings and keys view bytes that must live as long as the tree: the
  // document's text, in practice. Objects take members whose keys are offsets into the
  // text, ascending and unique. Those that allocate throw std::bad_alloc when there is no
  // memory; what they had made stays with the document.
  static void makeNull(JsonCell& cell);
  static void makeBoolean(JsonCell& cell, bool isTrue);
  static void makeNumber(JsonCell& cell, NumberForm form, uint64_t payload);
  static void makeString(JsonCell& cell, const char* bytes, uint32_t length);
  void makeArray(JsonCell& cell, const JsonCell* elements, size_t count);
  void makeObject(JsonCell& cell, const JsonObject::Member* members, size_t count);
  // Makes the value in `cell` the root.
  void setRoot(const JsonCell& cell);

  // Members waiting for their objects to close, for the parser: a stack in memory that
  // grows in place where the allocator can, so that a large object's members are not
  // copied while they gather.
  class MemberStack {
   public:
    MemberStack() = default;
    MemberStack(const MemberStack&) = delete;
    MemberStack& operator=(const MemberStack&) = delete;
    ~MemberStack() { std::free(buffer_); }

    // Throws std::bad_alloc when the stack cannot grow; it is then unchanged.
    void push(const JsonObject::Member& member) {
      if (size_ == capacity_) grow();
      members()[size_++] = member;
    }
    JsonObject::Member* members() {
      if (buffer_ == nullptr) return nullptr;  // nothing pushed yet
      return reinterpret_cast<JsonObject::Member*>(buffer_ + headerBytes);
    }
    size_t size() const { return size_; }
    void resize(size_t size) { size_ = size; }

   private:
    // Room for a block header and a run header before the members, so that the document
    // can take the memory over as an object's run.
    static constexpr size_t headerBytes = 3 * sizeof(void*);
    void grow();

    char* buffer_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;

    friend class JsonDocument;
  };

  // An object in `cell` of the members of `stack` from `begin` on, as makeObject above; the
  // stack is cut back to `begin`. When those are all the stack holds and they are many, the
  // object takes the stack's memory instead of a copy, and the stack starts over, empty.
  void makeObject(JsonCell& cell, MemberStack& stack, size_t begin);

  // Gives up the root and every value made so far; keeps the text.
  void clearValues();

  // The bytes of the blocks that hold the document's values (not its text).
  size_t valueBlockBytes() const { return blockBytes_; }

  JsonValue* root = nullptr;

 private:
  struct Block {
    Block* previous;
    size_t size;  // bytes after the header
  };

  void* allocate(size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);
    if (size_t(end_ - next_) < bytes) startBlock(bytes);
    void* memory = next_;
    next_ += bytes;
    return memory;
  }
  void startBlock(size_t bytes);

  std::unique_ptr<char[]> text_;
  size_t textLength_ = 0;
  Block* blocks_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  size_t blockBytes_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_VALUE_H_
