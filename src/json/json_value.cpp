#include "json/json_value.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>

#include "json/key_order.h"

namespace tolvex {

void JsonValue::release() {
  if (storage_ != Storage::Own) return;
  switch (kind) {
    case JsonKind::Null:
      delete static_cast<JsonNull*>(this);
      break;
    case JsonKind::Boolean:
      delete static_cast<JsonBoolean*>(this);
      break;
    case JsonKind::Number:
      delete static_cast<JsonNumber*>(this);
      break;
    case JsonKind::String: {
      auto* string = static_cast<JsonString*>(this);
      string->~JsonString();
      ::operator delete(string);
      break;
    }
    case JsonKind::Array:
      delete static_cast<JsonArray*>(this);
      break;
    case JsonKind::Object: {
      auto* object = static_cast<JsonObject*>(this);
      object->~JsonObject();
      ::operator delete(object);
      break;
    }
    case JsonKind::Undefined:
      break;  // only the shared instance has this kind
  }
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

JsonString* JsonString::make(std::string_view bytes) {
  if (bytes.size() > UINT32_MAX) throw std::bad_alloc();
  char* memory = static_cast<char*>(::operator new(sizeof(JsonString) + bytes.size()));
  char* copy = memory + sizeof(JsonString);
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  return new (memory) JsonString(copy, uint32_t(bytes.size()), Storage::Own);
}

namespace {

// The storage of an array of its own grows to powers of two, so its capacity follows from
// its count.
uint32_t capacityFor(uint32_t count) {
  uint32_t capacity = 1;
  while (capacity < count)
    capacity *= 2;
  return capacity;
}

}  // namespace

JsonArray::JsonArray(std::vector<JsonValue*>&& elements)
    : JsonValue(JsonKind::Array, Storage::Own) {
  if (elements.empty()) return;
  try {
    if (elements.size() > (uint32_t(1) << 31)) throw std::bad_alloc();
    elements_ = new JsonValue*[capacityFor(uint32_t(elements.size()))];
  } catch (...) {
    for (JsonValue* element : elements)
      element->release();
    throw;
  }
  std::copy(elements.begin(), elements.end(), static_cast<JsonValue**>(elements_));
  count_ = uint32_t(elements.size());
}

JsonArray::~JsonArray() {
  if (inDocument()) return;
  auto** elements = static_cast<JsonValue**>(elements_);
  for (uint32_t i = 0; i < count_; ++i)
    elements[i]->release();
  delete[] elements;
}

void JsonArray::append(JsonValue* value) {
  if (inDocument()) return;
  auto** elements = static_cast<JsonValue**>(elements_);
  if (count_ == 0 || count_ == capacityFor(count_)) {
    if (count_ == (uint32_t(1) << 31)) throw std::bad_alloc();
    auto** grown = new JsonValue*[count_ == 0 ? 1 : 2 * size_t(count_)];
    std::copy(elements, elements + count_, grown);
    delete[] elements;
    elements_ = elements = grown;
  }
  elements[count_++] = value;
}

// Members added to an object of its own after it was made, and where the last positional
// access stood in the merged order of the run and these members.
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

JsonObject* JsonObject::make(const Entry* entries, size_t count) {
  size_t keyLength = 0;
  for (size_t i = 0; i < count; ++i)
    keyLength += entries[i].key.size();
  // Key offsets are 32-bit; a header text never holds 4 GiB of keys.
  if (count > UINT32_MAX || keyLength > UINT32_MAX) throw std::bad_alloc();
  // One allocation: the object, the run's header, the run, the key bytes.
  const size_t runBytes = sizeof(RunHeader) + count * sizeof(OwnMember);
  char* memory = static_cast<char*>(::operator new(sizeof(JsonObject) + runBytes + keyLength));
  char* run = memory + sizeof(JsonObject);
  char* keys = run + runBytes;
  auto* object = new (memory) JsonObject(run, uint32_t(count), Storage::Own);
  object->ownHeader() = RunHeader{keys, nullptr};
  OwnMember* members = object->ownRun();
  uint32_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view key = entries[i].key;
    members[i] = OwnMember{offset, uint32_t(key.size()), entries[i].value};
    if (!key.empty()) std::memcpy(keys + offset, key.data(), key.size());
    offset += uint32_t(key.size());
  }
  return object;
}

JsonObject::~JsonObject() {
  if (inDocument()) return;
  // Values in ascending key order; the keys go afterwards, with the members.
  Overflow* more = ownHeader().overflow;
  if (!more) {
    for (uint32_t i = 0; i < runLength_; ++i)
      ownRun()[i].value->release();
    return;
  }
  const uint32_t count = memberCount();
  for (uint32_t i = 0; i < count; ++i)
    mergedAt(i).second->release();
  delete more;
}

uint32_t JsonObject::memberCount() const {
  Overflow* more = overflow();
  return static_cast<uint32_t>(runLength_ + (more ? more->members.size() : 0));
}

namespace {

// The position among `count` members, ascending by key, of the one whose key is `key`, or
// `count`.
template <class MemberType>
uint32_t find(const MemberType* members, uint32_t count, const char* keys, std::string_view key) {
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
    const MemberType& member = members[middle];
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

uint32_t JsonObject::findInRun(std::string_view key) const {
  if (inDocument()) return find(documentRun(), runLength_, keys(), key);
  return find(ownRun(), runLength_, keys(), key);
}

bool JsonObject::addMember(std::string_view key, JsonValue* value) {
  if (inDocument() || findInRun(key) != runLength_) return false;
  Overflow*& more = ownHeader().overflow;
  if (!more) more = new Overflow;
  if (!more->members.emplace(std::string(key), value).second) return false;
  more->rewind();  // positions from the new key on have moved
  return true;
}

std::pair<std::string_view, JsonValue*> JsonObject::mergedAt(uint32_t index) const {
  Overflow& more = *ownHeader().overflow;
  const OwnMember* run = ownRun();
  if (index < more.index) more.rewind();
  // The run and the overflow are each sorted and share no key: step through their merge.
  auto runIsNext = [&] {
    return more.runPosition < runLength_ &&
           (more.position == more.members.end() ||
            keyAt(run[more.runPosition].keyOffset, run[more.runPosition].keyLength) <
                more.position->first);
  };
  for (; more.index < index; ++more.index) {
    if (runIsNext())
      ++more.runPosition;
    else
      ++more.position;
  }
  if (runIsNext()) {
    const OwnMember& member = run[more.runPosition];
    return {keyAt(member.keyOffset, member.keyLength), member.value};
  }
  return {more.position->first, more.position->second};
}

std::string_view JsonObject::memberKey(uint32_t index) const {
  if (inDocument()) {
    if (index >= runLength_) return std::string_view();
    const Member& member = documentRun()[index];
    return keyAt(member.keyOffset, member.keyLength);
  }
  if (index >= memberCount()) return std::string_view();
  if (!ownHeader().overflow) return keyAt(ownRun()[index].keyOffset, ownRun()[index].keyLength);
  return mergedAt(index).first;
}

const JsonValue& JsonObject::memberValue(uint32_t index) const {
  if (inDocument()) {
    if (index >= runLength_) return *undefinedValue();
    return *reinterpret_cast<const JsonValue*>(&documentRun()[index].value);
  }
  if (index >= memberCount()) return *undefinedValue();
  if (!ownHeader().overflow) return *ownRun()[index].value;
  return *mergedAt(index).second;
}

const JsonValue& JsonObject::member(std::string_view key) const {
  uint32_t place = findInRun(key);
  if (place != runLength_) {
    if (inDocument()) return *reinterpret_cast<const JsonValue*>(&documentRun()[place].value);
    return *ownRun()[place].value;
  }
  if (Overflow* more = overflow()) {
    auto found = more->members.find(key);
    if (found != more->members.end()) return *found->second;
  }
  return *undefinedValue();
}

JsonValue* copyOf(const JsonValue& value) {
  switch (value.kind) {
    case JsonKind::Number: {
      const auto& number = static_cast<const JsonNumber&>(value);
      return new JsonNumber(number.form, number.payload);
    }
    case JsonKind::String:
      return JsonString::make(static_cast<const JsonString&>(value).text());
    case JsonKind::Array: {
      const auto& array = static_cast<const JsonArray&>(value);
      Owned<JsonArray> copy(new JsonArray);
      for (size_t i = 0; i < array.elementCount(); ++i) {
        Owned<JsonValue> element(copyOf(array.element(i)));
        copy->append(element.get());
        element.release();
      }
      return copy.release();
    }
    case JsonKind::Object: {
      const auto& object = static_cast<const JsonObject&>(value);
      std::vector<Owned<JsonValue>> values;
      std::vector<JsonObject::Entry> entries;
      for (uint32_t i = 0; i < object.memberCount(); ++i) {
        values.emplace_back(copyOf(object.memberValue(i)));
        entries.push_back({object.memberKey(i), values.back().get()});
      }
      JsonObject* copy = JsonObject::make(entries.data(), entries.size());
      for (Owned<JsonValue>& held : values)
        held.release();  // the copy owns them now
      return copy;
    }
    case JsonKind::Null:
      return nullValue();
    case JsonKind::Boolean:
      return static_cast<const JsonBoolean&>(value).value ? trueValue() : falseValue();
    case JsonKind::Undefined:
      break;
  }
  return undefinedValue();
}

JsonValue* undefinedValue() {
  static JsonValue instance(JsonKind::Undefined, JsonValue::Storage::Shared);
  return &instance;
}

JsonNull* nullValue() {
  static JsonNull instance(JsonNull::Storage::Shared);
  return &instance;
}

JsonBoolean* falseValue() {
  static JsonBoolean instance(false, JsonBoolean::Storage::Shared);
  return &instance;
}

JsonBoolean* trueValue() {
  static JsonBoolean instance(true, JsonBoolean::Storage::Shared);
  return &instance;
}

// Blocks grow with what the document holds, so that a tree takes few of them and the last
// one is never much larger than what came before; untouched space costs no memory.
constexpr size_t firstBlockBytes = 64 * 1024;
constexpr size_t largestBlockBytes = 64 * 1024 * 1024;

void JsonDocument::startBlock(size_t bytes) {
  size_t size = std::clamp(std::max(blockBytes_, textLength_ / 2), firstBlockBytes,
                           largestBlockBytes);
  size = std::max(size, bytes);
  auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
  if (block == nullptr) throw std::bad_alloc();
  *block = Block{blocks_, size};
  blocks_ = block;
  blockBytes_ += size;
  next_ = reinterpret_cast<char*>(block + 1);
  end_ = next_ + size;
}

void JsonDocument::clearValues() {
  if (root != nullptr) root->release();
  root = nullptr;
  while (blocks_ != nullptr) {
    Block* previous = blocks_->previous;
    std::free(blocks_);
    blocks_ = previous;
  }
  next_ = end_ = nullptr;
  blockBytes_ = 0;
}

void JsonDocument::reset() {
  clearValues();
  text_.reset();
  textLength_ = 0;
}

char* JsonDocument::placeText(size_t length) {
  reset();
  // Key and string offsets into the text are 32-bit.
  if (length > UINT32_MAX) throw std::bad_alloc();
  text_.reset(new char[length > 0 ? length : 1]);
  textLength_ = length;
  return text_.get();
}

void JsonDocument::makeNull(JsonCell& cell) {
  new (cell.bytes) JsonNull(JsonValue::Storage::Document);
}

void JsonDocument::makeBoolean(JsonCell& cell, bool isTrue) {
  new (cell.bytes) JsonBoolean(isTrue, JsonValue::Storage::Document);
}

void JsonDocument::makeNumber(JsonCell& cell, NumberForm form, uint64_t payload) {
  new (cell.bytes) JsonNumber(form, payload, JsonValue::Storage::Document);
}

void JsonDocument::makeString(JsonCell& cell, const char* bytes, uint32_t length) {
  new (cell.bytes) JsonString(bytes, length, JsonValue::Storage::Document);
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
  auto* header = static_cast<JsonObject::DocumentRunHeader*>(
      allocate(sizeof(JsonObject::DocumentRunHeader) + runBytes));
  header->keys = text_.get();
  if (count > 0) std::memcpy(static_cast<void*>(header + 1), members, runBytes);
  new (cell.bytes) JsonObject(header, uint32_t(count), JsonValue::Storage::Document);
}

void JsonDocument::setRoot(const JsonCell& cell) {
  auto* stored = static_cast<JsonCell*>(allocate(sizeof(JsonCell)));
  *stored = cell;
  root = reinterpret_cast<JsonValue*>(stored->bytes);
}

void JsonDocument::MemberStack::grow() {
  size_t capacity = capacity_ < 256 ? 256 : 2 * capacity_;
  void* grown = std::realloc(buffer_, headerBytes + capacity * sizeof(JsonObject::Member));
  if (grown == nullptr) throw std::bad_alloc();
  buffer_ = static_cast<char*>(grown);
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
  static_assert(sizeof(Block) + sizeof(JsonObject::DocumentRunHeader) == MemberStack::headerBytes,
                "the stack leaves room for exactly a block header and a run header");
  if (count > UINT32_MAX) throw std::bad_alloc();
  auto* block = reinterpret_cast<Block*>(stack.buffer_);
  // Behind the block that values are being made in; the order only matters for freeing.
  *block = Block{blocks_, sizeof(JsonObject::DocumentRunHeader) +
                              stack.capacity_ * sizeof(JsonObject::Member)};
  blocks_ = block;
  blockBytes_ += block->size;
  auto* header = reinterpret_cast<JsonObject::DocumentRunHeader*>(block + 1);
  header->keys = text_.get();
  new (cell.bytes) JsonObject(header, uint32_t(count), JsonValue::Storage::Document);
  stack.buffer_ = nullptr;
  stack.size_ = stack.capacity_ = 0;
}

const JsonValue& JsonDocument::member(std::string_view key) const {
  if (root == nullptr || root->kind != JsonKind::Object) return *undefinedValue();
  return static_cast<const JsonObject*>(root)->member(key);
}

}  // namespace tolvex
