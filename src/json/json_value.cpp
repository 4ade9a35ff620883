#include "json/json_value.h"

#include <cstring>

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
  for (JsonValue* element : elements)
    element->release();
}

void JsonArray::append(JsonValue* value) {
  elements.push_back(value);
}

JsonObject::~JsonObject() {
  // Every value goes before any key: the map itself is torn down after this body.
  for (auto& member : members)
    member.second->release();
}

bool JsonObject::addMember(std::string_view key, JsonValue* value) {
  auto place = members.lower_bound(key);
  if (place != members.end() && place->first == key) return false;
  members.emplace_hint(place, std::string(key), value);
  // Positions from the new key on have moved.
  cursor = members.begin();
  cursorIndex = 0;
  return true;
}

void JsonObject::seekMember(uint32_t index) const {
  if (index < cursorIndex) {
    cursor = members.begin();
    cursorIndex = 0;
  }
  for (; cursorIndex < index; ++cursorIndex)
    ++cursor;
}

const std::string& JsonObject::memberKey(uint32_t index) const {
  static const std::string noKey;
  if (index >= memberCount()) return noKey;
  seekMember(index);
  return cursor->first;
}

const JsonValue& JsonObject::memberValue(uint32_t index) const {
  if (index >= memberCount()) return *undefinedValue();
  seekMember(index);
  return *cursor->second;
}

const JsonValue& JsonObject::member(std::string_view key) const {
  auto found = members.find(key);
  return found == members.end() ? *undefinedValue() : *found->second;
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
