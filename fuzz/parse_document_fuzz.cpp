// Parses arbitrary bytes as a header text. Any crash, leak, sanitizer report or hang is a
// finding; after a successful parse the tree is walked so that every value is read once.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "json/json_parser.h"
#include "json/json_value.h"

namespace {

// Reads every value of the tree; returns a number that depends on all of them.
size_t visit(const tolvex::JsonValue& value) {
  using tolvex::JsonKind;
  switch (value.kind) {
    case JsonKind::Number:
      return size_t(static_cast<const tolvex::JsonNumber&>(value).payload);
    case JsonKind::String:
      return static_cast<const tolvex::JsonString&>(value).text().size();
    case JsonKind::Array: {
      const auto& array = static_cast<const tolvex::JsonArray&>(value);
      size_t sum = array.elementCount();
      for (size_t i = 0; i < array.elementCount(); ++i)
        sum += visit(array.element(i));
      return sum;
    }
    case JsonKind::Object: {
      const auto& object = static_cast<const tolvex::JsonObject&>(value);
      size_t sum = object.memberCount();
      for (uint32_t i = 0; i < object.memberCount(); ++i) {
        std::string_view key = object.memberKey(i);
        // Keys are unique, ascending, and each finds its own value.
        if (i > 0 && !(object.memberKey(i - 1) < key)) __builtin_trap();
        if (&object.member(key) != &object.memberValue(i)) __builtin_trap();
        sum += key.size() + visit(object.memberValue(i));
      }
      return sum;
    }
    default:
      return size_t(value.kind);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tolvex::JsonDocument document;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (tolvex::parseDocument(text, document)) {
    volatile size_t sink = visit(*document.root());
    (void)sink;
  }
  return 0;
}
