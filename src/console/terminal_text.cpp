#include "console/terminal_text.h"

#include <cstdint>

#include "platform/utf8.h"

namespace tolvex {
namespace {

bool isControl(uint32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0);
}

}  // namespace

std::string terminalText(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  while (!name.empty()) {
    Utf8Sequence sequence = decodeUtf8(name);
    if (sequence.wellFormed && !isControl(sequence.codePoint))
      shown.append(name.substr(0, sequence.length));
    else
      shown.push_back('?');
    name.remove_prefix(sequence.length);
  }
  return shown;
}

}  // namespace tolvex
