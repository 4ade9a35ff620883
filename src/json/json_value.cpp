#include "json/json_value.h"

#include <cstdlib>
#include <cstring>

#include "json/key_order.h"

namespace tolvex {

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
  return cells_[index].value();
}

const JsonObject::Member* JsonObject::members() const {
  return reinterpret_cast<const Member*>(run_ + 1);
}

uint32_t JsonObject::find(std::string_view key) const {
  const Member* const all = members();
  const char* const keys = run_->keys;
  // A file entry has a few members: looking at each key's length first is quicker there.
  if (count_ <= 8) {
    for (uint32_t i = 0; i < count_; ++i) {
      if (all[i].keyLength == key.size() &&
          std::memcmp(keys + all[i].keyOffset, key.data(), key.size()) == 0)
        return i;
    }
    return count_;
  }
  uint32_t low = 0;
  uint32_t high = count_;
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    const Member& member = all[middle];
    int order = compareKeys(keys + member.keyOffset, member.keyLength, key.data(), key.size());
    if (order == 0) return middle;
    if (order < 0)
      low = middle + 1;
    else
      high = middle;
  }
  return count_;
}

std::string_view JsonObject::memberKey(uint32_t index) const {
  if (index >= count_) return std::string_view();
  const Member& member = members()[index];
  return std::string_view(run_->keys + member.keyOffset, member.keyLength);
}

const JsonValue& JsonObject::memberValue(uint32_t index) const {
  if (index >= count_) return *undefinedValue();
  return members()[index].value.value();
}

const JsonValue& JsonObject::member(std::string_view key) const {
  uint32_t place = find(key);
  return place != count_ ? members()[place].value.value() : *undefinedValue();
}

const JsonValue* undefinedValue() {
  static const JsonValue instance(JsonKind::Undefined);
  return &instance;
}

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

void JsonDocument::freeValues() {
  root_ = nullptr;
  while (blocks_ != nullptr) {
    Block* previous = blocks_->previous;
    give(blocks_, sizeof(Block) + blocks_->size, blocks_->large);
    blocks_ = previous;
  }
  next_ = end_ = nullptr;
  blockBytes_ = 0;
}

void JsonDocument::reset() {
  freeValues();
  if (text_ != nullptr) give(text_, textLength_ > 0 ? textLength_ : 1, textLarge_);
  text_ = nullptr;
  textLength_ = 0;
}

const JsonValue& JsonDocument::member(std::string_view key) const {
  if (root_ == nullptr || root_->kind != JsonKind::Object) return *undefinedValue();
  return static_cast<const JsonObject*>(root_)->member(key);
}

}  // namespace tolvex
