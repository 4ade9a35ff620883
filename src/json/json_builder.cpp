#include "json/json_builder.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tolvex {

// Blocks grow with what the document holds, so that a tree takes few of them and the last
// one is never much larger than what came before; untouched space costs no memory.
constexpr size_t firstBlockBytes = 64 * 1024;
constexpr size_t largestBlockBytes = 64 * 1024 * 1024;

void JsonBuilder::startBlock(size_t bytes) {
  size_t size = std::clamp(std::max(document_.blockBytes_, document_.textLength_ / 2),
                           firstBlockBytes, largestBlockBytes);
  size = std::max(size, bytes);
  bool large = false;
  auto* block = static_cast<Block*>(document_.take(sizeof(Block) + size, large));
  if (block == nullptr) throw std::bad_alloc();
  *block = Block{document_.blocks_, size, large};
  document_.blocks_ = block;
  document_.blockBytes_ += size;
  document_.next_ = reinterpret_cast<char*>(block + 1);
  document_.end_ = document_.next_ + size;
}

char* JsonBuilder::placeText(size_t length) {
  document_.reset();
  if (length > largestCount) return nullptr;
  document_.text_ =
      static_cast<char*>(document_.take(length > 0 ? length : 1, document_.textLarge_));
  if (document_.text_ == nullptr) throw std::bad_alloc();
  document_.textLength_ = length;
  return document_.text_;
}

void JsonBuilder::makeNull(JsonCell& cell) {
  new (cell.bytes) JsonNull();
}

void JsonBuilder::makeBoolean(JsonCell& cell, bool isTrue) {
  new (cell.bytes) JsonBoolean(isTrue);
}

void JsonBuilder::makeNumber(JsonCell& cell, NumberForm form, uint64_t payload) {
  new (cell.bytes) JsonNumber(form, payload);
}

void JsonBuilder::makeString(JsonCell& cell, const char* bytes, uint32_t length) {
  new (cell.bytes) JsonString(bytes, length);
}

bool JsonBuilder::makeArray(JsonCell& cell, const JsonCell* elements, size_t count) {
  if (count > largestCount) return false;
  auto* stored = static_cast<JsonCell*>(allocate(count * sizeof(JsonCell)));
  if (count > 0) std::memcpy(stored, elements, count * sizeof(JsonCell));
  new (cell.bytes) JsonArray(stored, uint32_t(count));
  return true;
}

bool JsonBuilder::makeObject(JsonCell& cell, const Member* members, size_t count) {
  if (count > largestCount) return false;
  const size_t runBytes = count * sizeof(Member);
  auto* header =
      static_cast<JsonObject::RunHeader*>(allocate(sizeof(JsonObject::RunHeader) + runBytes));
  header->keys = document_.text_;
  if (count > 0) std::memcpy(static_cast<void*>(header + 1), members, runBytes);
  new (cell.bytes) JsonObject(header, uint32_t(count));
  return true;
}

void JsonBuilder::setRoot(const JsonCell& cell) {
  auto* stored = static_cast<JsonCell*>(allocate(sizeof(JsonCell)));
  *stored = cell;
  document_.root_ = &stored->value();
}

void JsonBuilder::MemberStack::grow() {
  size_t capacity = capacity_ < 256 ? 256 : 2 * capacity_;
  void* grown = std::realloc(buffer_, headerBytes + capacity * sizeof(Member));
  if (grown == nullptr) throw std::bad_alloc();
  buffer_ = static_cast<char*>(grown);
  members_ = reinterpret_cast<Member*>(buffer_ + headerBytes);
  capacity_ = capacity;
}

// Below this many members an object is copied out of the stack: taking over the stack's
// memory would leave the stack to grow again from nothing.
constexpr size_t fewestMembersTakenOver = 4096;

bool JsonBuilder::makeObject(JsonCell& cell, MemberStack& stack, size_t begin) {
  const size_t count = stack.size() - begin;
  if (begin != 0 || count < fewestMembersTakenOver) {
    if (!makeObject(cell, stack.members() + begin, count)) return false;
    stack.resize(begin);
    return true;
  }
  static_assert(sizeof(Block) + sizeof(JsonObject::RunHeader) == MemberStack::headerBytes,
                "the stack leaves room for exactly a block header and a run header");
  if (count > largestCount) return false;
  auto* block = reinterpret_cast<Block*>(stack.buffer_);
  // Behind the block that values are being made in; the order only matters for freeing.
  *block = Block{document_.blocks_,
                 sizeof(JsonObject::RunHeader) + stack.capacity_ * sizeof(Member), false};
  document_.blocks_ = block;
  document_.blockBytes_ += block->size;
  auto* header = reinterpret_cast<JsonObject::RunHeader*>(block + 1);
  header->keys = document_.text_;
  new (cell.bytes) JsonObject(header, uint32_t(count));
  stack.buffer_ = nullptr;
  stack.members_ = nullptr;
  stack.size_ = stack.capacity_ = 0;
  return true;
}

}  // namespace tolvex
