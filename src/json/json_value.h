#ifndef TOLVEX_JSON_JSON_VALUE_H_
#define TOLVEX_JSON_JSON_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

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

// The place of one value of a document: every value class fits in 16 bytes, and a document
// keeps its values in cells of this size, right inside their arrays and objects.
struct JsonCell {
  alignas(8) unsigned char bytes[16];
};

// A value of a header tree. Every value is made by the JsonDocument that holds the tree, in
// the cell where its container keeps it, and lives exactly as long as that tree: a value is
// never freed on its own, and what refers to it (keys, strings) borrows from the document.
// The base class itself is only ever the shared undefined value, which lives for the whole
// run. Values are no polymorphic classes and hold no more than their fields, since a parsed
// header holds millions of them.
class JsonValue {
 public:
  JsonValue(const JsonValue&) = delete;
  JsonValue& operator=(const JsonValue&) = delete;

  const JsonKind kind;

 protected:
  explicit JsonValue(JsonKind valueKind) : kind(valueKind) {}
  ~JsonValue() = default;

  friend const JsonValue* undefinedValue();
};

class JsonNull : public JsonValue {
 private:
  JsonNull() : JsonValue(JsonKind::Null) {}
  friend class JsonDocument;
};

class JsonBoolean : public JsonValue {
 public:
  const uint8_t value;  // 0 for false, 1 for true

 private:
  explicit JsonBoolean(bool isTrue) : JsonValue(JsonKind::Boolean), value(isTrue ? 1 : 0) {}
  friend class JsonDocument;
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
  friend class JsonDocument;
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

  friend class JsonDocument;
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

  friend class JsonDocument;
};

// Members with unique keys, kept in ascending key order: keys compare as unsigned bytes, a
// key that is a prefix of another coming first. Positional access takes constant time,
// keyed look-up is logarithmic in the number of members.
class JsonObject : public JsonValue {
 public:
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

  uint32_t memberCount() const { return count_; }

  // The key and the value at `index` in ascending key order, borrowed from the document.
  // An index not below memberCount() yields the empty key and the undefined value.
  std::string_view memberKey(uint32_t index) const;
  const JsonValue& memberValue(uint32_t index) const;

  // The value stored under `key`, or the shared undefined value.
  const JsonValue& member(std::string_view key) const;

 private:
  JsonObject(const RunHeader* run, uint32_t count)
      : JsonValue(JsonKind::Object), count_(count), run_(run) {}

  const Member* members() const;

  const uint32_t count_;
  const RunHeader* const run_;  // followed by the members

  friend class JsonDocument;
};

static_assert(sizeof(JsonNumber) <= sizeof(JsonCell) && sizeof(JsonString) <= sizeof(JsonCell) &&
                  sizeof(JsonArray) <= sizeof(JsonCell) && sizeof(JsonObject) <= sizeof(JsonCell),
              "every value fits in a cell");

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

// The owner of one parsed tree and of the text it was parsed from. `root` is null until a
// parse stores a value. The document makes the tree's values itself, in cells inside a few
// large blocks that it frees all at once; keys and strings of the tree are views of the
// document's text. reset() and destruction give up every value and the text.
class JsonDocument {
 public:
  // Pieces of memory of a few MiB or more come from `large` when given (borrowed: it must
  // outlive the document).
  explicit JsonDocument(LargeMemory* large = nullptr) : large_(large) {}
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
  std::string_view text() const { return std::string_view(text_, textLength_); }

  // For the parser: values of the document, made in `cell`. A cell is moved by copying
  // its bytes. Strings view bytes of the document's text. Objects take members whose keys
  // are offsets into the text, ascending and unique. Those that allocate throw
  // std::bad_alloc when there is no memory; what they had made stays with the document.
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
      members_[size_++] = member;
    }
    JsonObject::Member* members() { return members_; }  // null while nothing was pushed
    size_t size() const { return size_; }
    void resize(size_t size) { size_ = size; }

   private:
    // Room for a block header and a run header before the members, so that the document
    // can take the memory over as an object's run.
    static constexpr size_t headerBytes = 4 * sizeof(void*);
    void grow();

    char* buffer_ = nullptr;
    JsonObject::Member* members_ = nullptr;  // in buffer_, after headerBytes
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

  const JsonValue* root = nullptr;

 private:
  struct Block {
    Block* previous;
    size_t size;  // bytes after the header
    bool large;   // from large_, else from the C++ heap
  };

  void* allocate(size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);
    if (size_t(end_ - next_) < bytes) startBlock(bytes);
    void* memory = next_;
    next_ += bytes;
    return memory;
  }
  void startBlock(size_t bytes);
  // Memory of `bytes` from large_ when it is given and they are many, else from the heap;
  // `large` tells which. Null when there is none.
  void* take(size_t bytes, bool& large);
  void give(void* memory, size_t bytes, bool large);

  LargeMemory* const large_;
  char* text_ = nullptr;
  size_t textLength_ = 0;
  bool textLarge_ = false;
  Block* blocks_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  size_t blockBytes_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_VALUE_H_
