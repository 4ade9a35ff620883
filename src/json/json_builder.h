#ifndef TOLVEX_JSON_JSON_BUILDER_H_
#define TOLVEX_JSON_JSON_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "json/json_value.h"

namespace tolvex {

// The face of a JsonDocument that gives it its text and makes its tree, for the reader of a
// header and for the parser; whatever reads the tree sees the document alone (json_value.h).
// Borrows the document, which must outlive it. Values are made in cells that the caller
// holds (a cell is moved by copying its bytes) until a container or the root takes them.
// A limit of the document's own (largestCount) is refused with a null or false result,
// never taken for a want of memory; running out of memory throws std::bad_alloc, and what
// had been made stays with the document, which frees it with the rest.
class JsonBuilder {
 public:
  // A member waiting for its object: its key is the document's text at
  // [keyOffset, keyOffset + keyLength), its value is in the cell.
  using Member = JsonObject::Member;

  // The most bytes a text, and the most values an array or an object, may have: keys,
  // strings and counts are 32-bit.
  static constexpr size_t largestCount = UINT32_MAX;

  explicit JsonBuilder(JsonDocument& document) : document_(document) {}
  JsonBuilder(const JsonBuilder&) = delete;
  JsonBuilder& operator=(const JsonBuilder&) = delete;

  // Resets the document and gives it a text of `length` bytes, whose bytes the caller then
  // writes through the result, to be parsed by parseDocument. The bytes are not
  // initialised. Null, with the document reset, when `length` is above largestCount.
  char* placeText(size_t length);
  // The document's text, writable: the parser decodes escaped strings where they stand.
  char* text() { return document_.text_; }

  static void makeNull(JsonCell& cell);
  static void makeBoolean(JsonCell& cell, bool isTrue);
  static void makeNumber(JsonCell& cell, NumberForm form, uint64_t payload);
  // A string of `length` bytes of the document's text from `bytes` on.
  static void makeString(JsonCell& cell, const char* bytes, uint32_t length);
  // An array of a copy of `count` cells; false when they are more than largestCount.
  bool makeArray(JsonCell& cell, const JsonCell* elements, size_t count);
  // An object of a copy of `count` members, keys ascending and unique; false when they
  // are more than largestCount.
  bool makeObject(JsonCell& cell, const Member* members, size_t count);
  // Makes the value in `cell` the root.
  void setRoot(const JsonCell& cell);
  // Gives up the root and every value made so far; keeps the text.
  void clearValues() { document_.freeValues(); }

  // Members waiting for their objects to close: a stack in memory that grows in place
  // where the allocator can, so that a large object's members are not copied while they
  // gather.
  class MemberStack {
   public:
    MemberStack() = default;
    MemberStack(const MemberStack&) = delete;
    MemberStack& operator=(const MemberStack&) = delete;
    ~MemberStack() { std::free(buffer_); }

    // Throws std::bad_alloc when the stack cannot grow; it is then unchanged.
    void push(const Member& member) {
      if (size_ == capacity_) grow();
      members_[size_++] = member;
    }
    Member* members() { return members_; }  // null while nothing was pushed
    size_t size() const { return size_; }
    void resize(size_t size) { size_ = size; }

   private:
    // Room for a block header and a run header before the members, so that the document
    // can take the memory over as an object's run.
    static constexpr size_t headerBytes = 4 * sizeof(void*);
    void grow();

    char* buffer_ = nullptr;
    Member* members_ = nullptr;  // in buffer_, after headerBytes
    size_t size_ = 0;
    size_t capacity_ = 0;

    friend class JsonBuilder;
  };

  // An object in `cell` of the members of `stack` from `begin` on, as makeObject above; the
  // stack is cut back to `begin`, or left as it was on false. When those are all the stack
  // holds and they are many, the object takes the stack's memory instead of a copy, and
  // the stack starts over, empty.
  bool makeObject(JsonCell& cell, MemberStack& stack, size_t begin);

 private:
  using Block = JsonDocument::Block;

  // Room for `bytes` in the newest block, or in a new one.
  void* allocate(size_t bytes) {
    bytes = (bytes + 7) & ~size_t(7);
    if (size_t(document_.end_ - document_.next_) < bytes) startBlock(bytes);
    void* memory = document_.next_;
    document_.next_ += bytes;
    return memory;
  }
  void startBlock(size_t bytes);

  JsonDocument& document_;
};

static_assert(std::is_trivially_copyable_v<JsonBuilder::Member>,
              "members move with their bytes too");

}  // namespace tolvex

#endif  // TOLVEX_JSON_JSON_BUILDER_H_
