#include "json/json_parser.h"

#include <cstring>
#include <new>
#include <string>

#include "json/json_value.h"

namespace tolvex {
namespace {

// What one parse shares across its nesting levels.
class ParseState {
 public:
  // Counts a container as open; false, for good, once one too many would be open.
  bool open() {
    if (openContainers == maxOpenContainers) tooDeep = true;
    if (tooDeep) return false;
    ++openContainers;
    return true;
  }
  void close() { --openContainers; }
  // Once the bound is hit, nothing more is tried: the whole text fails.
  bool gaveUp() const { return tooDeep; }

 private:
  size_t openContainers = 0;
  bool tooDeep = false;
};

// Closes the container counted by ParseState::open() on every way out.
class OpenContainer {
 public:
  explicit OpenContainer(ParseState& state) : state_(state) {}
  OpenContainer(const OpenContainer&) = delete;
  OpenContainer& operator=(const OpenContainer&) = delete;
  ~OpenContainer() { state_.close(); }

 private:
  ParseState& state_;
};

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends one UTF-16 code unit as UTF-8 of at most three bytes; surrogates are not paired.
void appendCodeUnit(std::string& out, unsigned v) {
  if (v < 0x80) {
    out.push_back(char(v));
  } else if (v < 0x800) {
    out.push_back(char(0xC0 | (v >> 6)));
    out.push_back(char(0x80 | (v & 0x3F)));
  } else {
    out.push_back(char(0xE0 | (v >> 12)));
    out.push_back(char(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(char(0x80 | (v & 0x3F)));
  }
}

// Decodes the escape whose backslash is at `at` into `out`. Returns the index after the
// escape, or 0 when the escape is invalid or cut off by the end of the text.
size_t decodeEscape(std::string_view text, size_t at, std::string& out) {
  if (at + 1 >= text.size()) return 0;
  switch (text[at + 1]) {
    case '"':
      out.push_back('"');
      break;
    case '/':
      out.push_back('/');
      break;
    case '\\':
      out.push_back('\\');
      break;
    case 'b':
      out.push_back('\b');
      break;
    case 'f':
      out.push_back('\f');
      break;
    case 'n':
      out.push_back('\n');
      break;
    case 'r':
      out.push_back('\r');
      break;
    case 't':
      out.push_back('\t');
      break;
    case 'u': {
      if (text.size() - at < 6) return 0;
      unsigned v = 0;
      for (size_t i = at + 2; i < at + 6; ++i) {
        int digit = hexDigitValue(text[i]);
        if (digit < 0) return 0;
        v = v * 16 + unsigned(digit);
      }
      appendCodeUnit(out, v);
      return at + 6;
    }
    default:
      return 0;
  }
  return at + 2;
}

// The string literal whose opening quotation mark is at `open`, decoded. Plain bytes pass
// unchanged. Without escapes `decoded` views the text itself; otherwise it views `scratch`,
// and `escaped` is set. `end` receives the index after the closing quotation mark. Changes
// nothing of the text.
bool scanString(std::string_view text, size_t open, std::string& scratch, std::string_view& decoded,
                bool& escaped, size_t& end) {
  const char* const base = text.data();
  size_t from = open + 1;
  escaped = false;
  for (;;) {
    // Without a quotation mark anywhere ahead the literal can never end.
    auto quote = static_cast<const char*>(std::memchr(base + from, '"', text.size() - from));
    if (quote == nullptr) return false;
    size_t close = size_t(quote - base);
    auto backslash = static_cast<const char*>(std::memchr(base + from, '\\', close - from));
    size_t stop = backslash == nullptr ? close : size_t(backslash - base);
    if (!escaped && backslash != nullptr) {
      scratch.clear();
      escaped = true;
    }
    if (escaped) scratch.append(base + from, stop - from);
    if (backslash == nullptr) {
      decoded = escaped ? std::string_view(scratch) : text.substr(open + 1, close - open - 1);
      end = close + 1;
      return true;
    }
    from = decodeEscape(text, stop, scratch);
    if (from == 0) return false;
  }
}

bool parseValueIn(std::string_view& text, JsonValue*& slot, ParseState& state);

bool parseArrayIn(std::string_view& text, JsonValue*& slot, ParseState& state) {
  size_t p = firstNonWhitespace(text);
  if (p == text.size() || text[p] != '[') return false;
  if (!state.open()) return false;
  OpenContainer counted(state);
  Owned<JsonArray> array(new JsonArray);
  text.remove_prefix(p + 1);
  size_t next = firstNonWhitespace(text);
  if (next < text.size() && text[next] == ']') {
    text.remove_prefix(next + 1);
    slot = array.release();
    return true;
  }
  for (;;) {
    JsonValue* element = nullptr;
    if (!parseValueIn(text, element, state)) return false;
    Owned<JsonValue> held(element);
    array->append(element);
    held.release();
    next = firstNonWhitespace(text);
    if (next == text.size()) return false;
    if (text[next] == ']') {
      text.remove_prefix(next + 1);
      slot = array.release();
      return true;
    }
    if (text[next] != ',') return false;
    text.remove_prefix(next + 1);
  }
}

bool parseObjectIn(std::string_view& text, JsonValue*& slot, ParseState& state) {
  size_t p = firstNonWhitespace(text);
  if (p == text.size() || text[p] != '{') return false;
  if (!state.open()) return false;
  OpenContainer counted(state);
  Owned<JsonObject> object(new JsonObject);
  text.remove_prefix(p + 1);
  size_t next = firstNonWhitespace(text);
  if (next < text.size() && text[next] == '}') {
    text.remove_prefix(next + 1);
    slot = object.release();
    return true;
  }
  std::string scratch;
  for (;;) {
    // The key views the text or `scratch`; neither changes until the member is added.
    size_t keyStart = firstNonWhitespace(text);
    std::string_view key;
    bool escaped;
    size_t keyEnd;
    if (keyStart == text.size() || text[keyStart] != '"' ||
        !scanString(text, keyStart, scratch, key, escaped, keyEnd))
      return false;
    text.remove_prefix(keyEnd);
    next = firstNonWhitespace(text);
    if (next == text.size() || text[next] != ':') return false;
    text.remove_prefix(next + 1);
    JsonValue* value = nullptr;
    if (!parseValueIn(text, value, state)) return false;
    Owned<JsonValue> held(value);
    if (object->addMember(key, value)) held.release();  // else the first value stays
    next = firstNonWhitespace(text);
    if (next == text.size()) return false;
    if (text[next] == '}') {
      text.remove_prefix(next + 1);
      slot = object.release();
      return true;
    }
    if (text[next] != ',') return false;
    text.remove_prefix(next + 1);
  }
}

// The six recognisers start with six different bytes, and the first four fail without
// touching the text, so the first byte picks the one attempt that can succeed, with one
// exception: a failed array attempt hands what it left to the object attempt.
bool parseValueIn(std::string_view& text, JsonValue*& slot, ParseState& state) {
  size_t p = firstNonWhitespace(text);
  if (p == text.size()) return false;
  switch (text[p]) {
    case 'n':
      return parseNull(text, slot);
    case 'f':
    case 't':
      return parseBool(text, slot);
    case '"':
      return parseString(text, slot);
    case '[':
      if (parseArrayIn(text, slot, state)) return true;
      return !state.gaveUp() && parseObjectIn(text, slot, state);
    case '{':
      return parseObjectIn(text, slot, state);
    default:
      return parseNumber(text, slot);
  }
}

}  // namespace

bool parseString(std::string_view& text, JsonValue*& slot) {
  size_t p = firstNonWhitespace(text);
  if (p == text.size() || text[p] != '"') return false;
  std::string scratch;
  std::string_view decoded;
  bool escaped;
  size_t end;
  if (!scanString(text, p, scratch, decoded, escaped, end)) return false;
  slot = new JsonString(escaped ? std::move(scratch) : std::string(decoded));
  text.remove_prefix(end);
  return true;
}

bool parseArray(std::string_view& text, JsonValue*& slot) {
  ParseState state;
  return parseArrayIn(text, slot, state);
}

bool parseObject(std::string_view& text, JsonValue*& slot) {
  ParseState state;
  return parseObjectIn(text, slot, state);
}

bool parseValue(std::string_view& text, JsonValue*& slot) {
  ParseState state;
  return parseValueIn(text, slot, state);
}

bool parseDocument(std::string_view text, JsonDocument& document) {
  document.reset();
  try {
    ParseState state;
    if (!parseValueIn(text, document.root, state)) return false;
  } catch (const std::bad_alloc&) {
    return false;  // the parts built so far were released on the way out
  }
  return firstNonWhitespace(text) == text.size();
}

}  // namespace tolvex
