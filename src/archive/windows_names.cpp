#include "archive/windows_names.h"

#include <cstddef>
#include <cstdint>

namespace tolvex {
namespace {

constexpr size_t longestName = 255;  // UTF-16 code units

// Decodes the well-formed UTF-8 sequence at the front of `text` into `codePoint` and
// returns its length, or 0 when the bytes there are not one (overlong forms, surrogates
// and values above U+10FFFF included).
size_t decodeUtf8(std::string_view text, uint32_t& codePoint) {
  auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || text.size() < length) return 0;
  codePoint = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    codePoint = codePoint << 6 | (byte(i) & 0x3F);
  }
  static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < smallest[length] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return 0;
  return length;
}

bool isForbiddenCharacter(uint32_t codePoint) {
  if (codePoint < 32) return true;
  for (char forbidden : {'<', '>', ':', '"', '/', '\\', '|', '?', '*'})
    if (codePoint == static_cast<uint32_t>(forbidden)) return true;
  return false;
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view text, std::string_view upperCase) {
  if (text.size() != upperCase.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (upper(text[i]) != upperCase[i]) return false;
  return true;
}

// The device names, which Windows finds in any directory: the part of the name before its
// first dot, spaces at its end left out.
bool isDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ')
    stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL"})
    if (equalsIgnoringCase(stem, device)) return true;
  for (std::string_view device : {"COM", "LPT"}) {
    if (stem.size() < 4 || !equalsIgnoringCase(stem.substr(0, 3), device)) continue;
    std::string_view number = stem.substr(3);
    if (number.size() == 1 && number[0] >= '1' && number[0] <= '9') return true;
    // The superscripts one, two and three count as digits there too.
    if (number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3") return true;
  }
  return false;
}

}  // namespace

bool isWindowsFileName(std::string_view name) {
  if (name.empty() || name.back() == '.' || name.back() == ' ') return false;
  size_t codeUnits = 0;
  for (std::string_view rest = name; !rest.empty();) {
    uint32_t codePoint = 0;
    size_t length = decodeUtf8(rest, codePoint);
    if (length == 0 || isForbiddenCharacter(codePoint)) return false;
    codeUnits += codePoint > 0xFFFF ? 2 : 1;
    rest.remove_prefix(length);
  }
  return codeUnits <= longestName && !isDeviceName(name);
}

}  // namespace tolvex
