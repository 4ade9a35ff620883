#include "json/json_value.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "json/key_order.h"

namespace tolvex {
namespace {

// The value a document made in `cell`.
const JsonValue& valueIn(const JsonCell& cell) {
  return *std::launder(reinterpret_cast<const JsonValue*>(cell.bytes));
}

// The position among `count` members, ascending by key, of the one whose key is `key`, or
// `count`.
uint32_t find(const JsonObject::Member* members, uint32_t count, const char* keys,
              std::string_view key) {
  // A file entry has a few members: looking at each key's length first is quicker there.
  if (count <= 8) {
    for (uint32_t i = 0; i < count; ++i) {
      if (members[i].keyLength == key.size() &&
          std::memcmp(keys + members[i].keyOffset, key.data(), key.size()) == 0)
        return i;
    }
    return count;
  }
  uint32_t low = 0;
  uint32_t high = count;
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    const JsonObject::Member& member = members[middle];
    int order = compareKeys(keys + member.keyOffset, member.keyLength, key.data(), key.size());
    if (order == 0) return middle;
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return count;
}

}  // namespace

double JsonNumber::realValue() const {
  double value;
  std::memcpy(&value, &payload, sizeof value);
  return value;
}

int64_t JsonNumber::signedValue() const {
  int64_t value;
  std::memcpy(&value, &payload, sizeof value);
  return value;
}

const JsonValue& JsonArray::element(size_t index) const {
  return valueIn(cells_[index]);
}

const JsonObject::Member* JsonObject::members() const {
  return reinterpret_cast<const Member*>(run_ + 1);
}

std::string_view JsonObject::memberKey(uint32_t index) const {
  if (index >= count_) return std::string_view();
  const Member& member = members()[index];
  return std::string_view(run_->keys + member.keyOffset, member.keyLength);
}

const JsonValue& JsonObject::memberValue(uint32_t index) const {
  if (index >= count_) return *undefinedValue();
  return valueIn(members()[index].value);
}

const JsonValue& JsonObject::member(std::string_view key) const {
  uint32_t place = find(members(), count_, run_->keys, key);
  return place != count_ ? valueIn(members()[place].value) : *undefinedValue();
}

const JsonValue* undefinedValue() {
  static const JsonValue instance(JsonKind::Undefined);
  return &instance;
}

// Blocks grow with what the document holds, so that a tree takes few of them and the last
// one is never much larger than what came before; untouched space costs no memory.
constexpr size_t firstBlockBytes = 64 * 1024;
constexpr size_t largestBlockBytes = 64 * 1024 * 1024;

// Pieces this large come from the document's LargeMemory when it has one.
constexpr size_t largePieceBytes = 2 * 1024 * 1024;

void* JsonDocument::take(size_t bytes, bool& large) {
  large = large_ != nullptr && bytes >= largePieceBytes;
  return large ? large_->allocate(bytes) : std::malloc(bytes);
}

void JsonDocument::give(void* memory, size_t bytes, bool large) {
  if (large)
    large_->release(memory, bytes);
  else
    std::free(memory);
}

void JsonDocument::startBlock(size_t bytes) {
  size_t size =
      std::clamp(std::max(blockBytes_, textLength_ / 2), firstBlockBytes, largestBlockBytes);
  size = std::max(size, bytes);
  bool large = false;
  auto* block = static_cast<Block*>(take(sizeof(Block) + size, large));
  if (block == nullptr) throw std::bad_alloc();
  *block = Block{blocks_, size, large};
  blocks_ = block;
  blockBytes_ += size;
  next_ = reinterpret_cast<char*>(block + 1);
  end_ = next_ + size;
}

void JsonDocument::clearValues() {
  root = nullptr;
  while (blocks_ != nullptr) {
    Block* previous = blocks_->previous;
    give(blocks_, sizeof(Block) + blocks_->size, blocks_->large);
    blocks_ = previous;
  }
  next_ = end_ = nullptr;
  blockBytes_ = 0;
}

void JsonDocument::reset() {
  clearValues();
  if (text_ != nullptr) give(text_, textLength_ > 0 ? textLength_ : 1, textLarge_);
  text_ = nullptr;
  textLength_ = 0;
}

char* JsonDocument::placeText(size_t length) {
  reset();
  // Key and string offsets into the text are 32-bit.
  if (length > UINT32_MAX) throw std::bad_alloc();
  text_ = static_cast<char*>(take(length > 0 ? length : 1, textLarge_));
  if (text_ == nullptr) throw std::bad_alloc();
  textLength_ = length;
  return text_;
}

void JsonDocument::makeNull(JsonCell& cell) {
  new (cell.bytes) JsonNull();
}

void JsonDocument::makeBoolean(JsonCell& cell, bool isTrue) {
  new (cell.bytes) JsonBoolean(isTrue);
}

void JsonDocument::makeNumber(JsonCell& cell, NumberForm form, uint64_t payload) {
  new (cell.bytes) JsonNumber(form, payload);
}

void JsonDocument::makeString(JsonCell& cell, const char* bytes, uint32_t length) {
  new (cell.bytes) JsonString(bytes, length);
}

void JsonDocument::makeArray(JsonCell& cell, const JsonCell* elements, size_t count) {
  if (count > UINT32_MAX) throw std::bad_alloc();
  auto* stored = static_cast<JsonCell*>(allocate(count * sizeof(JsonCell)));
  if (count > 0) std::memcpy(stored, elements, count * sizeof(JsonCell));
  new (cell.bytes) JsonArray(stored, uint32_t(count));
}

void JsonDocument::makeObject(JsonCell& cell, const JsonObject::Member* members, size_t count) {
  if (count > UINT32_MAX) throw std::bad_alloc();
  const size_t runBytes = count * sizeof(JsonObject::Member);
  auto* header =
      static_cast<JsonObject::RunHeader*>(allocate(sizeof(JsonObject::RunHeader) + runBytes));
  header->keys = text_;
  if (count > 0) std::memcpy(static_cast<void*>(header + 1), members, runBytes);
  new (cell.bytes) JsonObject(header, uint32_t(count));
}

void JsonDocument::setRoot(const JsonCell& cell) {
  auto* stored = static_cast<JsonCell*>(allocate(sizeof(JsonCell)));
  *stored = cell;
  root = &valueIn(*stored);
}

void JsonDocument::MemberStack::grow() {
  size_t capacity = capacity_ < 256 ? 256 : 2 * capacity_;
  void* grown = std::realloc(buffer_, headerBytes + capacity * sizeof(JsonObject::Member));
  if (grown == nullptr) throw std::bad_alloc();
  buffer_ = static_cast<char*>(grown);
  members_ = reinterpret_cast<JsonObject::Member*>(buffer_ + headerBytes);
  capacity_ = capacity;
}

// Below this many members an object is copied out of the stack: taking over the stack's
// memory would leave the stack to grow again from nothing.
constexpr size_t fewestMembersTakenOver = 4096;

void JsonDocument::makeObject(JsonCell& cell, MemberStack& stack, size_t begin) {
  const size_t count = stack.size() - begin;
  if (begin != 0 || count < fewestMembersTakenOver) {
    makeObject(cell, stack.members() + begin, count);
    stack.resize(begin);
    return;
  }
  static_assert(sizeof(Block) + sizeof(JsonObject::RunHeader) == MemberStack::headerBytes,
                "the stack leaves room for exactly a block header and a run header");
  if (count > UINT32_MAX) throw std::bad_alloc();
  auto* block = reinterpret_cast<Block*>(stack.buffer_);
  // Behind the block that values are being made in; the order only matters for freeing.
  *block = Block{
      blocks_, sizeof(JsonObject::RunHeader) + stack.capacity_ * sizeof(JsonObject::Member), false};
  blocks_ = block;
  blockBytes_ += block->size;
  auto* header = reinterpret_cast<JsonObject::RunHeader*>(block + 1);
  header->keys = text_;
  new (cell.bytes) JsonObject(header, uint32_t(count));
  stack.buffer_ = nullptr;
  stack.members_ = nullptr;
  stack.size_ = stack.capacity_ = 0;
}

const JsonValue& JsonDocument::member(std::string_view key) const {
  if (root == nullptr || root->kind != JsonKind::Object) return *undefinedValue();
  return static_cast<const JsonObject*>(root)->member(key);
}

}  // namespace tolvex
