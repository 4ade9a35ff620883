#include "platform/windows_names.h"

#include <cstddef>
#include <cstdint>

#include "platform/utf8.h"

namespace tolvex {
namespace {

constexpr size_t longestName = 255;  // UTF-16 code units

// The file attributes that decide what a node is, by their values in the Windows SDK.
constexpr uint32_t directoryAttribute = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t deviceAttribute = 0x40;         // FILE_ATTRIBUTE_DEVICE
constexpr uint32_t reparsePointAttribute = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// A reparse tag whose point stands for a name elsewhere (IsReparseTagNameSurrogate).
bool isNameSurrogate(uint32_t tag) {
  return (tag & 0x20000000) != 0;
}

// Reparse points that stand in for data: hierarchical storage (two tags), single instance
// storage, deduplication, the overlay that compresses system files, files in the cloud
// (one tag with sixteen variants) and projected file systems.
bool isDataReparseTag(uint32_t tag) {
  switch (tag) {
    case 0xC0000004:  // HSM
    case 0x80000006:  // HSM2
    case 0x80000007:  // SIS
    case 0x80000013:  // DEDUP
    case 0x80000017:  // WOF
    case 0x9000001C:  // PROJFS
      return true;
    default:
      return (tag & 0xFFFF0FFF) == 0x9000001A;  // CLOUD, CLOUD_1 to CLOUD_F
  }
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
    Utf8Sequence sequence = decodeUtf8(rest);
    if (!sequence.wellFormed || isForbiddenCharacter(sequence.codePoint)) return false;
    codeUnits += sequence.codePoint > 0xFFFF ? 2 : 1;
    rest.remove_prefix(sequence.length);
  }
  return codeUnits <= longestName && !isDeviceName(name);
}

NodeKind windowsNodeKind(uint32_t attributes, uint32_t reparseTag) {
  if ((attributes & reparsePointAttribute) != 0 &&
      (isNameSurrogate(reparseTag) || !isDataReparseTag(reparseTag)))
    return NodeKind::Other;
  if ((attributes & directoryAttribute) != 0) return NodeKind::Directory;
  if ((attributes & deviceAttribute) != 0) return NodeKind::Other;
  return NodeKind::RegularFile;
}

}  // namespace tolvex
