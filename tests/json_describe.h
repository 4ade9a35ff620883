#ifndef TOLVEX_TESTS_JSON_DESCRIBE_H_
#define TOLVEX_TESTS_JSON_DESCRIBE_H_

#include <cstdio>
#include <string>
#include <string_view>

#include "json/json_value.h"

namespace tolvex {

// A compact, exact rendering of a tree: numbers carry their form (U, S, R), strings show
// bytes outside printable ASCII as \xHH, object members come in key order.
inline std::string describeBytes(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += char(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    }
  }
  return out + "\"";
}

inline std::string describe(const JsonValue& value) {
  char buffer[64];
  switch (value.kind) {
    case JsonKind::Undefined:
      return "undefined";
    case JsonKind::Null:
      return "null";
    case JsonKind::Boolean:
      return static_cast<const JsonBoolean&>(value).value ? "true" : "false";
    case JsonKind::Number: {
      const auto& number = static_cast<const JsonNumber&>(value);
      if (number.form == NumberForm::Unsigned)
        std::snprintf(buffer, sizeof buffer, "U%llu", (unsigned long long)number.unsignedValue());
      else if (number.form == NumberForm::Signed)
        std::snprintf(buffer, sizeof buffer, "S%lld", (long long)number.signedValue());
      else
        std::snprintf(buffer, sizeof buffer, "R%.17g", number.realValue());
      return buffer;
    }
    case JsonKind::String:
      return describeBytes(static_cast<const JsonString&>(value).text());
    case JsonKind::Array: {
      const auto& array = static_cast<const JsonArray&>(value);
      std::string out = "[";
      for (size_t i = 0; i < array.elementCount(); ++i)
        out += (i ? "," : "") + describe(array.element(i));
      return out + "]";
    }
    case JsonKind::Object: {
      const auto& object = static_cast<const JsonObject&>(value);
      std::string out = "{";
      for (uint32_t i = 0; i < object.memberCount(); ++i) {
        out += (i ? "," : "") + describeBytes(object.memberKey(i)) + ":" +
               describe(object.memberValue(i));
      }
      return out + "}";
    }
  }
  return "?";
}

}  // namespace tolvex

#endif  // TOLVEX_TESTS_JSON_DESCRIBE_H_
