#ifndef TOLVEX_TESTS_TREE_VALUES_H_
#define TOLVEX_TESTS_TREE_VALUES_H_

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "json/json_value.h"

namespace tolvex {

// Header trees written by hand, as the JSON parser would build them. Each function
// returns a new value owned by the caller; object() takes ownership of its members'
// values.

inline JsonValue* text(const std::string& bytes) {
  return JsonString::make(bytes);
}

inline JsonValue* unsignedNumber(uint64_t value) {
  return new JsonNumber(NumberForm::Unsigned, value);
}

inline JsonValue* signedNumber(int64_t value) {
  return new JsonNumber(NumberForm::Signed, static_cast<uint64_t>(value));
}

inline JsonValue* realNumber(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return new JsonNumber(NumberForm::Real, bits);
}

inline JsonObject* object(std::initializer_list<std::pair<std::string, JsonValue*>> members) {
  JsonObject* result = JsonObject::make();
  for (const auto& [key, value] : members)
    if (!result->addMember(key, value)) value->release();
  return result;
}

inline JsonObject* fileEntry(const std::string& offset, JsonValue* size) {
  return object({{"offset", text(offset)}, {"size", size}});
}

inline JsonObject* directoryEntry(JsonValue* files) {
  return object({{"files", files}});
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_TREE_VALUES_H_
