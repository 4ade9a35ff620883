#ifndef TOLVEX_TESTS_TREE_VALUES_H_
#define TOLVEX_TESTS_TREE_VALUES_H_

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "archive_builder.h"

namespace tolvex {

// Header trees written by hand, as JSON text for the parser: each function returns the text
// of one value. object() writes its members in the order given, as a header may.

inline std::string text(const std::string& bytes) {
  return jsonQuoted(bytes);
}

inline std::string unsignedNumber(uint64_t value) {
  return std::to_string(value);
}

inline std::string object(std::initializer_list<std::pair<std::string, std::string>> members) {
  std::string result = "{";
  for (const auto& [key, value] : members)
    result += (result.size() > 1 ? "," : "") + jsonQuoted(key) + ":" + value;
  return result + "}";
}

inline std::string fileEntry(const std::string& offset, const std::string& size) {
  return object({{"offset", text(offset)}, {"size", size}});
}

inline std::string directoryEntry(const std::string& files) {
  return object({{"files", files}});
}

const std::string emptyArray = "[]";

}  // namespace tolvex

#endif  // TOLVEX_TESTS_TREE_VALUES_H_
