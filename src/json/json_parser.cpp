#include "json/json_parser.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "json/json_builder.h"
#include "json/json_value.h"
#include "json/key_order.h"

namespace tolvex {
namespace {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The top bit of each byte of `word` that is zero, and maybe of bytes after such a byte;
// the first marked byte is always a zero byte.
inline uint64_t zeroBytes(uint64_t word) {
  return (word - 0x0101010101010101u) & ~word & 0x8080808080808080u;
}

// Whether the first byte in memory of a 64-bit word is its lowest.
inline bool littleEndianHost() {
  const uint64_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// The index of the lowest marked byte of `marks` (nonzero, top bits only): the lowest mark,
// moved down to bit 8k, times a constant whose byte 7 - k is k, leaves k in the top byte.
inline size_t lowestMarkedByte(uint64_t marks) {
  uint64_t lowest = marks & (0 - marks);
  return size_t(((lowest >> 7) * 0x0001020304050607u) >> 56);
}

// The index of the first quotation mark or backslash in bytes[from, size), or size. Eight
// bytes at a time while no word holds either.
inline size_t findQuoteOrBackslash(const char* bytes, size_t from, size_t size) {
  while (size - from >= 8) {
    uint64_t word;
    std::memcpy(&word, bytes + from, 8);
    uint64_t found = zeroBytes(word ^ 0x2222222222222222u) | zeroBytes(word ^ 0x5C5C5C5C5C5C5C5Cu);
    if (found != 0) {
      if (littleEndianHost()) return from + lowestMarkedByte(found);
      break;
    }
    from += 8;
  }
  while (from < size && bytes[from] != '"' && bytes[from] != '\\')
    ++from;
  return from;
}

// The length of the escape whose backslash is at `at`, or 0 when the escape is invalid or
// cut off by the end of the text.
size_t escapeLength(const char* bytes, size_t at, size_t size) {
  if (at + 1 >= size) return 0;
  switch (bytes[at + 1]) {
    case '"':
    case '/':
    case '\\':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
      return 2;
    case 'u':
      if (size - at < 6) return 0;
      for (size_t i = at + 2; i < at + 6; ++i)
        if (hexDigitValue(bytes[i]) < 0) return 0;
      return 6;
    default:
      return 0;
  }
}

// The byte an escape of one letter stands for (the letter of "\\b" is 'b'): a control, or
// the letter itself for a quotation mark, a slash or a backslash.
char escapedByte(char letter) {
  switch (letter) {
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return letter;
  }
}

// Writes the "\u" escape of the four hex digits at `digits` to `out` as UTF-8 of at most
// three bytes, on its own; returns the end of what it wrote.
char* decodeUnicodeEscape(const char* digits, char* out) {
  unsigned v = 0;
  for (size_t k = 0; k < 4; ++k)
    v = v * 16 + unsigned(hexDigitValue(digits[k]));
  if (v < 0x80) {
    *out++ = char(v);
  } else if (v < 0x800) {
    *out++ = char(0xC0 | (v >> 6));
    *out++ = char(0x80 | (v & 0x3F));
  } else {
    *out++ = char(0xE0 | (v >> 12));
    *out++ = char(0x80 | ((v >> 6) & 0x3F));
    *out++ = char(0x80 | (v & 0x3F));
  }
  return out;
}

// Writes the bytes of `length` text bytes holding checked escapes, decoded, to `out`, which
// may be the same place or lie before it: no escape decodes to more bytes than it takes.
// Plain bytes pass unchanged. Returns the decoded length.
size_t decodeEscapes(const char* in, size_t length, char* out) {
  char* const start = out;
  size_t i = 0;
  while (i < length) {
    size_t stop = findQuoteOrBackslash(in, i, length);
    std::memmove(out, in + i, stop - i);
    out += stop - i;
    if (stop == length) break;
    const char letter = in[stop + 1];
    i = stop + 2;
    if (letter == 'u') {
      out = decodeUnicodeEscape(in + i, out);
      i += 4;
    } else {
      *out++ = escapedByte(letter);
    }
  }
  return size_t(out - start);
}

// One parse of a document's text. The text is read at a position that only moves forward,
// which is the same as cutting what was recognised from its front: each recogniser starts
// at the position as the previous one left it. Values are made by the document's builder.
// Elements and members wait on stacks shared by all nesting levels (a container's own
// begin where it opened) and each container is made in one piece when it closes; a failed
// container, and a value that loses to an earlier one under the same key, leaves its
// values to the document, which frees them with the rest.
class Parser {
 public:
  explicit Parser(JsonDocument& document)
      : builder_(document),
        // The document's own bytes, which the parse may rewrite: escaped strings are decoded
        // where they stand.
        text_(builder_.text()),
        size_(document.text().size()) {}
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The recognisers: each makes its value in `slot` and succeeds, or fails with `slot` as
  // it was and the position where the working model of json_parser.h leaves the text.
  bool value(JsonCell& slot);
  bool array(JsonCell& slot);
  bool object(JsonCell& slot);
  bool string(JsonCell& slot);
  bool null(JsonCell& slot) { return null(skipWhitespace(position_), slot); }
  bool boolean(JsonCell& slot) {
    size_t at = skipWhitespace(position_);
    return boolean(at, "false", 5, slot) || boolean(at, "true", 4, slot);
  }
  bool number(JsonCell& slot) {
    size_t at = skipWhitespace(position_);
    return at < size_ && number(at, slot);
  }

  // Makes the value in `slot` the document's root.
  void setRoot(const JsonCell& slot) { builder_.setRoot(slot); }

  // How much of the text has been recognised.
  size_t position() const { return position_; }
  bool onlyWhitespaceLeft() const { return skipWhitespace(position_) == size_; }

 private:
  using Member = JsonBuilder::Member;

  size_t skipWhitespace(size_t at) const {
    while (at < size_ && isJsonWhitespace(text_[at]))
      ++at;
    return at;
  }
  bool hasWordAt(size_t at, const char* word, size_t length) const {
    return size_ - at >= length && std::memcmp(text_ + at, word, length) == 0;
  }
  bool null(size_t at, JsonCell& slot) {
    if (!hasWordAt(at, "null", 4)) return false;
    JsonBuilder::makeNull(slot);
    position_ = at + 4;
    return true;
  }
  bool boolean(size_t at, const char* word, size_t length, JsonCell& slot) {
    if (!hasWordAt(at, word, length)) return false;
    JsonBuilder::makeBoolean(slot, length == 4);
    position_ = at + length;
    return true;
  }
  bool number(size_t at, JsonCell& slot);
  // The string literal whose quotation mark is at `open`: its bytes, decoded in place, start
  // at open + 1. Returns the index after the closing quotation mark with `length` set, or 0
  // when the literal is not complete and valid (then nothing is changed).
  size_t scanString(size_t open, uint32_t& length);

  // Counts a container as open; false, for good, once one too many would be open.
  bool open() {
    if (openContainers_ == maxOpenContainers) overLimit_ = true;
    if (overLimit_) return false;
    ++openContainers_;
    return true;
  }
  bool closeArray(size_t begin, JsonCell& slot);
  bool closeObject(size_t begin, JsonCell& slot);
  // The order of two members' keys, as compareKeys gives it.
  int compare(const Member& a, const Member& b) const;

  JsonBuilder builder_;
  char* const text_;
  const size_t size_;
  size_t position_ = 0;
  size_t openContainers_ = 0;
  // A limit of the parse's own was hit (the nesting bound, a container too large): the
  // whole text fails, and nothing more is tried.
  bool overLimit_ = false;
  std::vector<JsonCell> elements_;
  JsonBuilder::MemberStack members_;
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
// moving the position, so the first byte picks the one attempt that can succeed, with one
// exception: a failed array attempt hands what it left to the object attempt.
bool Parser::value(JsonCell& slot) {
  size_t p = skipWhitespace(position_);
  if (p == size_) return false;
  switch (text_[p]) {
    case 'n':
      return null(p, slot);
    case 'f':
      return boolean(p, "false", 5, slot);
    case 't':
      return boolean(p, "true", 4, slot);
    case '"':
      return string(slot);
    case '[':
      if (array(slot)) return true;
      // Once a limit is hit, nothing more is tried: the whole text fails.
      return !overLimit_ && object(slot);
    case '{':
      return object(slot);
    default:
      return number(p, slot);
  }
}

bool Parser::number(size_t at, JsonCell& slot) {
  std::string_view rest(text_ + at, size_ - at);
  NumberForm form;
  uint64_t payload;
  if (!readNumber(rest, form, payload)) return false;
  JsonBuilder::makeNumber(slot, form, payload);
  position_ = size_ - rest.size();
  return true;
}

size_t Parser::scanString(size_t open, uint32_t& length) {
  size_t from = open + 1;
  bool escaped = false;
  for (;;) {
    size_t stop = findQuoteOrBackslash(text_, from, size_);
    if (stop == size_) return 0;  // unterminated
    if (text_[stop] == '"') {
      size_t raw = stop - open - 1;
      length = uint32_t(escaped ? decodeEscapes(text_ + open + 1, raw, text_ + open + 1) : raw);
      return stop + 1;
    }
    size_t escape = escapeLength(text_, stop, size_);
    if (escape == 0) return 0;
    escaped = true;
    from = stop + escape;
  }
}

bool Parser::string(JsonCell& slot) {
  size_t p = skipWhitespace(position_);
  if (p == size_ || text_[p] != '"') return false;
  uint32_t length;
  size_t end = scanString(p, length);
  if (end == 0) return false;
  JsonBuilder::makeString(slot, text_ + p + 1, length);
  position_ = end;
  return true;
}

bool Parser::array(JsonCell& slot) {
  size_t p = skipWhitespace(position_);
  if (p == size_ || text_[p] != '[') return false;
  if (!open()) return false;
  OpenContainer counted(openContainers_);
  const size_t begin = elements_.size();
  position_ = p + 1;
  size_t next = skipWhitespace(position_);
  if (next < size_ && text_[next] == ']') {
    position_ = next + 1;
    return closeArray(begin, slot);
  }
  for (;;) {
    JsonCell element;
    if (!value(element)) break;
    elements_.push_back(element);
    next = skipWhitespace(position_);
    if (next == size_) break;
    if (text_[next] == ']') {
      position_ = next + 1;
      return closeArray(begin, slot);
    }
    if (text_[next] != ',') break;
    position_ = next + 1;
  }
  elements_.resize(begin);
  return false;
}

bool Parser::object(JsonCell& slot) {
  size_t p = skipWhitespace(position_);
  if (p == size_ || text_[p] != '{') return false;
  if (!open()) return false;
  OpenContainer counted(openContainers_);
  const size_t begin = members_.size();
  position_ = p + 1;
  size_t next = skipWhitespace(position_);
  if (next < size_ && text_[next] == '}') {
    position_ = next + 1;
    return closeObject(begin, slot);
  }
  for (;;) {
    size_t keyStart = skipWhitespace(position_);
    if (keyStart == size_ || text_[keyStart] != '"') break;
    uint32_t keyLength;
    size_t keyEnd = scanString(keyStart, keyLength);
    if (keyEnd == 0) break;
    position_ = keyEnd;
    next = skipWhitespace(position_);
    if (next == size_ || text_[next] != ':') break;
    position_ = next + 1;
    Member member{uint32_t(keyStart + 1), keyLength, {}};
    if (!value(member.value)) break;
    members_.push(member);
    next = skipWhitespace(position_);
    if (next == size_) break;
    if (text_[next] == '}') {
      position_ = next + 1;
      return closeObject(begin, slot);
    }
    if (text_[next] != ',') break;
    position_ = next + 1;
  }
  members_.resize(begin);
  return false;
}

bool Parser::closeArray(size_t begin, JsonCell& slot) {
  bool made = builder_.makeArray(slot, elements_.data() + begin, elements_.size() - begin);
  elements_.resize(begin);
  if (!made) overLimit_ = true;
  return made;
}

int Parser::compare(const Member& a, const Member& b) const {
  return compareKeys(text_ + a.keyOffset, a.keyLength, text_ + b.keyOffset, b.keyLength);
}

bool Parser::closeObject(size_t begin, JsonCell& slot) {
  Member* const first = members_.members() + begin;
  Member* last = members_.members() + members_.size();
  // Headers mostly list keys in order already; otherwise sort, keeping the text's order among
  // equal keys so that the first value for a key is the one that stays.
  Member* unordered = first + (first == last ? 0 : 1);
  while (unordered < last && compare(unordered[-1], *unordered) < 0)
    ++unordered;
  if (unordered < last) {
    bool repeated = true;  // whether a key may come twice
    if (last - first <= 16) {
      // A file entry's few members: an insertion sort, stable, needs no buffer. An item
      // stops right after the last key not above its own, so a repeated key shows there.
      repeated = false;
      for (Member* i = unordered; i < last; ++i) {
        Member item = *i;
        Member* j = i;
        int order = -1;
        for (; j > first && (order = compare(item, j[-1])) < 0; --j)
          *j = j[-1];
        *j = item;
        repeated = repeated || (j > first && order == 0);
      }
    } else {
      std::stable_sort(first, last,
                       [this](const Member& a, const Member& b) { return compare(a, b) < 0; });
    }
    if (repeated)
      last = std::unique(first, last,
                         [this](const Member& a, const Member& b) { return compare(a, b) == 0; });
  }
  members_.resize(begin + size_t(last - first));
  if (builder_.makeObject(slot, members_, begin)) return true;
  members_.resize(begin);
  overLimit_ = true;
  return false;
}

// Gives `document` a copy of `text` to parse; false, with the document reset, when the
// text is longer than a document holds or there is no memory for it.
bool placeCopy(std::string_view text, JsonDocument& document) {
  try {
    char* copy = JsonBuilder(document).placeText(text.size());
    if (copy == nullptr) return false;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    return true;
  } catch (const std::bad_alloc&) {
    document.reset();
    return false;
  }
}

// Runs `attempt` on a copy of `text` that `document` keeps; its value, when it succeeds,
// becomes the root. Cuts from `text` what the attempt recognised.
bool parseAlone(std::string_view& text, JsonDocument& document,
                bool (Parser::*attempt)(JsonCell&)) {
  if (!placeCopy(text, document)) return false;
  try {
    Parser parser(document);
    JsonCell value;
    bool ok = (parser.*attempt)(value);
    if (ok) parser.setRoot(value);
    text.remove_prefix(parser.position());
    return ok;
  } catch (const std::bad_alloc&) {
    document.reset();
    return false;
  }
}

}  // namespace

bool parseNull(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::null);
}

bool parseBool(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::boolean);
}

bool parseNumber(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::number);
}

bool parseString(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::string);
}

bool parseArray(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::array);
}

bool parseObject(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::object);
}

bool parseValue(std::string_view& text, JsonDocument& document) {
  return parseAlone(text, document, &Parser::value);
}

bool parseDocument(JsonDocument& document) {
  JsonBuilder builder(document);
  builder.clearValues();
  try {
    Parser parser(document);
    JsonCell root;
    if (!parser.value(root)) {
      builder.clearValues();  // nothing refers to what the failed attempts made
      return false;
    }
    parser.setRoot(root);
    return parser.onlyWhitespaceLeft();
  } catch (const std::bad_alloc&) {
    builder.clearValues();
    return false;
  }
}

bool parseDocument(std::string_view text, JsonDocument& document) {
  return placeCopy(text, document) && parseDocument(document);
}

}  // namespace tolvex
