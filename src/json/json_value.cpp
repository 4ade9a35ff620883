#include "json/json_value.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tolvex {

void JsonValue::release() {
  if (this != undefinedValue()) delete this;
}

void JsonNull::release() {
  if (this != nullValue()) delete this;
}

void JsonBoolean::release() {
  if (this != falseValue() && this != trueValue()) delete this;
}

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

JsonArray::~JsonArray() {
  for (JsonValue* element : elements_)
    element->release();
}

void JsonArray::append(JsonValue* value) {
  elements_.push_back(value);
}

JsonString* JsonString::make(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) throw std::bad_alloc();
  auto* string = new (TrailingBytes{bytes.size()}) JsonString(uint32_t(bytes.size()));
  char* text = reinterpret_cast<char*>(string) + sizeof(JsonString);
  if (!bytes.empty()) std::memcpy(text, bytes.data(), bytes.size());
  return string;
}

// Members added after the object was made, and where the last positional access stood in
// the merged order of the run and these members.
struct JsonObject::Overflow {
  using Members = std::map<std::string, JsonValue*, std::less<>>;

  void rewind() {
    index = 0;
    runPosition = 0;
    position = members.begin();
  }

  Members members;
  uint32_t index = 0;
  size_t runPosition = 0;
  Members::iterator position = members.begin();
};

JsonObject::JsonObject(uint32_t runLength) : JsonValue(JsonKind::Object), runLength_(runLength) {}

JsonObject* JsonObject::make(const Entry* entries, size_t count) {
  size_t keyLength = 0;
  for (size_t i = 0; i < count; ++i)
    keyLength += entries[i].key.size();
  // Key offsets are 32-bit; a header text never holds 4 GiB of keys.
  if (count > UINT32_MAX || keyLength > UINT32_MAX) throw std::bad_alloc();
  size_t extra = count * sizeof(Member) + keyLength;
  auto* object = new (TrailingBytes{extra}) JsonObject(uint32_t(count));
  Member* run = object->run();
  char* keys = const_cast<char*>(object->keyBytes());
  uint32_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view key = entries[i].key;
    run[i] = Member{offset, uint32_t(key.size()), entries[i].value};
    if (!key.empty()) std::memcpy(keys + offset, key.data(), key.size());
    offset += uint32_t(key.size());
  }
  return object;
}

JsonObject::~JsonObject() {
  // Values in ascending key order; the keys go afterwards, with the members.
  if (!overflow_) {
    for (uint32_t i = 0; i < runLength_; ++i)
      run()[i].value->release();
    return;
  }
  const uint32_t count = memberCount();
  for (uint32_t i = 0; i < count; ++i)
    mergedAt(i).second->release();
}

uint32_t JsonObject::memberCount() const {
  size_t count = runLength_ + (overflow_ ? overflow_->members.size() : 0);
  return static_cast<uint32_t>(count);
}

const JsonObject::Member* JsonObject::findInRun(std::string_view key) const {
  const Member* begin = run();
  const Member* end = begin + runLength_;
  const Member* place = std::lower_bound(
      begin, end, key, [this](const Member& m, std::string_view k) { return keyOf(m) < k; });
  return place != end && keyOf(*place) == key ? place : nullptr;
}

bool JsonObject::addMember(std::string_view key, JsonValue* value) {
  if (findInRun(key) != nullptr) return false;
  if (!overflow_) overflow_ = std::make_unique<Overflow>();
  if (!overflow_->members.emplace(std::string(key), value).second) return false;
  overflow_->rewind();  // positions from the new key on have moved
  return true;
}

std::pair<std::string_view, JsonValue*> JsonObject::mergedAt(uint32_t index) const {
  Overflow& overflow = *overflow_;
  if (index < overflow.index) overflow.rewind();
  // The run and the overflow are each sorted and share no key: step through their merge.
  auto runIsNext = [&] {
    return overflow.runPosition < runLength_ &&
           (overflow.position == overflow.members.end() ||
            keyOf(run()[overflow.runPosition]) < overflow.position->first);
  };
  for (; overflow.index < index; ++overflow.index) {
    if (runIsNext())
      ++overflow.runPosition;
    else
      ++overflow.position;
  }
  if (runIsNext()) {
    const Member& member = run()[overflow.runPosition];
    return {keyOf(member), member.value};
  }
  return {overflow.position->first, overflow.position->second};
}

std::string_view JsonObject::memberKey(uint32_t index) const {
  if (index >= memberCount()) return std::string_view();
  if (!overflow_) return keyOf(run()[index]);
  return mergedAt(index).first;
}

const JsonValue& JsonObject::memberValue(uint32_t index) const {
  if (index >= memberCount()) return *undefinedValue();
  if (!overflow_) return *run()[index].value;
  return *mergedAt(index).second;
}

const JsonValue& JsonObject::member(std::string_view key) const {
  if (const Member* found = findInRun(key)) return *found->value;
  if (overflow_) {
    auto found = overflow_->members.find(key);
    if (found != overflow_->members.end()) return *found->second;
  }
  return *undefinedValue();
}

JsonValue* undefinedValue() {
  static JsonValue instance(JsonKind::Undefined);
  return &instance;
}

JsonNull* nullValue() {
  static JsonNull instance;
  return &instance;
}

JsonBoolean* falseValue() {
  static JsonBoolean instance(false);
  return &instance;
}

JsonBoolean* trueValue() {
  static JsonBoolean instance(true);
  return &instance;
}

void JsonDocument::reset() {
  if (root != nullptr) root->release();
  root = nullptr;
}

const JsonValue& JsonDocument::member(std::string_view key) const {
  if (root == nullptr || root->kind != JsonKind::Object) return *undefinedValue();
  return static_cast<const JsonObject*>(root)->member(key);
}

}  // namespace tolvex
