#include "platform/utf8.h"

namespace tolvex {
namespace {

bool isHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

Utf8Sequence decodeUtf8(std::string_view text, bool loneSurrogates) {
  Utf8Sequence sequence;
  unsigned char lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {1, true, lead};
  size_t length = 0;
  // The second byte's range depends on the lead byte; the later ones are always 80-BF.
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;                      // below: overlong
    if (lead == 0xED && !loneSurrogates) high = 0x9F;  // above: a surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // below: overlong
    if (lead == 0xF4) high = 0x8F;  // above: beyond U+10FFFF
  } else {
    sequence.length = 1;
    return sequence;
  }
  uint32_t value = lead & (0xFF >> (length + 1));
  size_t taken = 1;
  for (; taken < length && taken < text.size(); ++taken) {
    unsigned char next = static_cast<unsigned char>(text[taken]);
    if (next < low || next > high) break;
    value = value << 6 | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  sequence.length = taken;
  sequence.wellFormed = taken == length;
  if (sequence.wellFormed) sequence.codePoint = value;
  return sequence;
}

void appendUtf8(uint32_t codePoint, std::string& text) {
  if (codePoint < 0x80) {
    text += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    text += static_cast<char>(0xC0 | codePoint >> 6);
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    text += static_cast<char>(0xE0 | codePoint >> 12);
    text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | codePoint >> 18);
    text += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::wstring wideFromUtf8(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  while (!text.empty()) {
    Utf8Sequence sequence = decodeUtf8(text, true);
    text.remove_prefix(sequence.length);
    uint32_t codePoint = sequence.codePoint;
    if (codePoint < 0x10000) {
      wide += static_cast<wchar_t>(codePoint);
    } else {
      wide += static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    }
  }
  return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
  std::string text;
  text.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t unit = static_cast<uint16_t>(wide[i]);
    if (isHighSurrogate(unit) && i + 1 < wide.size() &&
        isLowSurrogate(static_cast<uint16_t>(wide[i + 1]))) {
      uint32_t low = static_cast<uint16_t>(wide[++i]);
      appendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), text);
    } else {
      appendUtf8(unit, text);
    }
  }
  return text;
}

size_t incompleteTail(std::string_view text) {
  // A sequence is at most 4 bytes: its lead byte is among the last 3.
  for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    std::string_view tail = text.substr(text.size() - back);
    unsigned char lead = static_cast<unsigned char>(tail[0]);
    if (lead >= 0x80 && lead < 0xC0) continue;  // a continuation byte: the lead is further back
    // Cut short only when every byte there fits the sequence that the lead byte begins.
    bool isLead = lead >= 0xC2 && lead <= 0xF4;
    Utf8Sequence sequence = decodeUtf8(tail, true);
    return isLead && !sequence.wellFormed && sequence.length == back ? back : 0;
  }
  return 0;
}

}  // namespace tolvex
