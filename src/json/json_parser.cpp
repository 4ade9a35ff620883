#include "json/json_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "json/json_value.h"

namespace tolvex {
namespace {

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

// True when any byte of `word` is zero.
inline bool hasZeroByte(uint64_t word) {
  return ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) != 0;
}

// The index of the first quotation mark or backslash in bytes[from, size), or size. Eight
// bytes at a time while no word holds either.
size_t findQuoteOrBackslash(const char* bytes, size_t from, size_t size) {
  while (size - from >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes + from, 8);
    if (hasZeroByte(word ^ 0x2222222222222222u) || hasZeroByte(word ^ 0x5C5C5C5C5C5C5C5Cu)) break;
    from += 8;
  }
  while (from < size && bytes[from] != '"' && bytes[from] != '\\')
    ++from;
  return from;
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
  const size_t size = text.size();
  size_t from = open + 1;
  escaped = false;
  for (;;) {
    size_t stop = findQuoteOrBackslash(base, from, size);
    if (stop == size) return false;  // unterminated
    if (!escaped && base[stop] == '\\') {
      scratch.clear();
      escaped = true;
    }
    if (escaped) scratch.append(base + from, stop - from);
    if (base[stop] == '"') {
      decoded = escaped ? std::string_view(scratch) : text.substr(open + 1, stop - open - 1);
      end = stop + 1;
      return true;
    }
    from = decodeEscape(text, stop, scratch);
    if (from == 0) return false;
  }
}

// One parse: the text, the nesting count, and the parts of the containers being built.
// Elements and members wait on stacks shared by all nesting levels (a container's own begin
// where it opened) and each container is made in one allocation when it closes. The stacks
// own what waits on them.
class Parser {
 public:
  explicit Parser(std::string_view& text) : text_(text) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  ~Parser() {
    for (JsonValue* element : elements_)
      element->release();
    for (const PendingMember& member : members_)
      member.value->release();
  }

  bool value(JsonValue*& slot);
  bool array(JsonValue*& slot);
  bool object(JsonValue*& slot);

 private:
  // A member waiting for its object to close. The key views the text itself (`text` set) or,
  // when it held escapes, escapedKeys_ from `offset` on: that buffer may still move.
  struct PendingMember {
    const char* text;
    size_t offset;
    size_t length;
    JsonValue* value;
  };

  // Counts a container as open; false, for good, once one too many would be open.
  bool open() {
    if (openContainers_ == maxOpenContainers) tooDeep_ = true;
    if (tooDeep_) return false;
    ++openContainers_;
    return true;
  }
  bool closeArray(size_t begin, JsonValue*& slot);
  bool closeObject(size_t begin, size_t keysBegin, JsonValue*& slot);
  void dropArray(size_t begin);
  void dropObject(size_t begin, size_t keysBegin);

  std::string_view& text_;
  size_t openContainers_ = 0;
  bool tooDeep_ = false;
  std::vector<JsonValue*> elements_;
  std::vector<PendingMember> members_;
  std::string escapedKeys_;
  std::string scratch_;
  std::vector<JsonObject::Entry> entries_;
  std::vector<JsonValue*> duplicates_;
};

// Closes a counted container on every way out.
class OpenContainer {
 public:
  explicit OpenContainer(size_t& count) : count_(count) {}
  OpenContainer(const OpenContainer&) = delete;
  OpenContainer& operator=(const OpenContainer&) = delete;
  ~OpenContainer() { --count_; }

 private:
  size_t& count_;
};

// The six recognisers start with six different bytes, and the first four fail without
// touching the text, so the first byte picks the one attempt that can succeed, with one
// exception: a failed array attempt hands what it left to the object attempt.
bool Parser::value(JsonValue*& slot) {
  size_t p = firstNonWhitespace(text_);
  if (p == text_.size()) return false;
  switch (text_[p]) {
    case 'n':
      return parseNull(text_, slot);
    case 'f':
    case 't':
      return parseBool(text_, slot);
    case '"':
      return parseString(text_, slot);
    case '[':
      if (array(slot)) return true;
      // Once the nesting bound is hit, nothing more is tried: the whole text fails.
      return !tooDeep_ && object(slot);
    case '{':
      return object(slot);
    default:
      return parseNumber(text_, slot);
  }
}

bool Parser::array(JsonValue*& slot) {
  size_t p = firstNonWhitespace(text_);
  if (p == text_.size() || text_[p] != '[') return false;
  if (!open()) return false;
  OpenContainer counted(openContainers_);
  const size_t begin = elements_.size();
  text_.remove_prefix(p + 1);
  size_t next = firstNonWhitespace(text_);
  if (next < text_.size() && text_[next] == ']') {
    text_.remove_prefix(next + 1);
    return closeArray(begin, slot);
  }
  for (;;) {
    JsonValue* element = nullptr;
    if (!value(element)) break;
    Owned<JsonValue> held(element);
    elements_.push_back(element);
    held.release();
    next = firstNonWhitespace(text_);
    if (next == text_.size()) break;
    if (text_[next] == ']') {
      text_.remove_prefix(next + 1);
      return closeArray(begin, slot);
    }
    if (text_[next] != ',') break;
    text_.remove_prefix(next + 1);
  }
  dropArray(begin);
  return false;
}

bool Parser::object(JsonValue*& slot) {
  size_t p = firstNonWhitespace(text_);
  if (p == text_.size() || text_[p] != '{') return false;
  if (!open()) return false;
  OpenContainer counted(openContainers_);
  const size_t begin = members_.size();
  const size_t keysBegin = escapedKeys_.size();
  text_.remove_prefix(p + 1);
  size_t next = firstNonWhitespace(text_);
  if (next < text_.size() && text_[next] == '}') {
    text_.remove_prefix(next + 1);
    return closeObject(begin, keysBegin, slot);
  }
  for (;;) {
    size_t keyStart = firstNonWhitespace(text_);
    std::string_view key;
    bool escaped;
    size_t keyEnd;
    if (keyStart == text_.size() || text_[keyStart] != '"' ||
        !scanString(text_, keyStart, scratch_, key, escaped, keyEnd))
      break;
    PendingMember member{key.data(), 0, key.size(), nullptr};
    if (escaped) {
      member.text = nullptr;
      member.offset = escapedKeys_.size();
      escapedKeys_ += key;
    }
    text_.remove_prefix(keyEnd);
    next = firstNonWhitespace(text_);
    if (next == text_.size() || text_[next] != ':') break;
    text_.remove_prefix(next + 1);
    if (!value(member.value)) break;
    Owned<JsonValue> held(member.value);
    members_.push_back(member);
    held.release();
    next = firstNonWhitespace(text_);
    if (next == text_.size()) break;
    if (text_[next] == '}') {
      text_.remove_prefix(next + 1);
      return closeObject(begin, keysBegin, slot);
    }
    if (text_[next] != ',') break;
    text_.remove_prefix(next + 1);
  }
  dropObject(begin, keysBegin);
  return false;
}

bool Parser::closeArray(size_t begin, JsonValue*& slot) {
  auto* array = new JsonArray(std::vector<JsonValue*>(elements_.begin() + begin, elements_.end()));
  elements_.resize(begin);
  slot = array;
  return true;
}

void Parser::dropArray(size_t begin) {
  for (size_t i = begin; i < elements_.size(); ++i)
    elements_[i]->release();
  elements_.resize(begin);
}

// Byte order of keys, unsigned; most keys differ in their first byte, which is looked at
// before calling the general comparison.
inline bool keyLess(std::string_view a, std::string_view b) {
  if (!a.empty() && !b.empty() && a[0] != b[0])
    return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
  return a < b;
}

// Sorts stably, for short sequences.
template <class T, class Less>
void insertionSort(std::vector<T>& items, Less less) {
  for (size_t i = 1; i < items.size(); ++i) {
    T item = items[i];
    size_t j = i;
    for (; j > 0 && less(item, items[j - 1]); --j)
      items[j] = items[j - 1];
    items[j] = item;
  }
}

bool Parser::closeObject(size_t begin, size_t keysBegin, JsonValue*& slot) {
  entries_.clear();
  for (size_t i = begin; i < members_.size(); ++i) {
    const PendingMember& member = members_[i];
    const char* key = member.text ? member.text : escapedKeys_.data() + member.offset;
    entries_.push_back({std::string_view(key, member.length), member.value});
  }
  auto before = [](const JsonObject::Entry& a, const JsonObject::Entry& b) {
    return keyLess(a.key, b.key);
  };
  auto notBefore = [](const JsonObject::Entry& a, const JsonObject::Entry& b) {
    return !keyLess(a.key, b.key);
  };
  // Headers mostly list keys in order already; otherwise sort, keeping the text's order among
  // equal keys so that the first value for a key is the one that stays.
  duplicates_.clear();
  if (std::adjacent_find(entries_.begin(), entries_.end(), notBefore) != entries_.end()) {
    if (entries_.size() <= 16)
      insertionSort(entries_, before);  // a file entry's few members: no buffer needed
    else
      std::stable_sort(entries_.begin(), entries_.end(), before);
    auto kept = entries_.begin();
    for (auto it = entries_.begin() + 1; it != entries_.end(); ++it) {
      if (it->key == kept->key)
        duplicates_.push_back(it->value);
      else
        *++kept = *it;
    }
    entries_.erase(kept + 1, entries_.end());
  }
  JsonObject* object = JsonObject::make(entries_.data(), entries_.size());
  members_.resize(begin);
  escapedKeys_.resize(keysBegin);
  for (JsonValue* duplicate : duplicates_)
    duplicate->release();
  slot = object;
  return true;
}

void Parser::dropObject(size_t begin, size_t keysBegin) {
  for (size_t i = begin; i < members_.size(); ++i)
    members_[i].value->release();
  members_.resize(begin);
  escapedKeys_.resize(keysBegin);
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
  slot = JsonString::make(decoded);
  text.remove_prefix(end);
  return true;
}

bool parseArray(std::string_view& text, JsonValue*& slot) {
  return Parser(text).array(slot);
}

bool parseObject(std::string_view& text, JsonValue*& slot) {
  return Parser(text).object(slot);
}

bool parseValue(std::string_view& text, JsonValue*& slot) {
  return Parser(text).value(slot);
}

bool parseDocument(std::string_view text, JsonDocument& document) {
  document.reset();
  try {
    if (!Parser(text).value(document.root)) return false;
  } catch (const std::bad_alloc&) {
    return false;  // what was built so far was released on the way out
  }
  return firstNonWhitespace(text) == text.size();
}

}  // namespace tolvex
