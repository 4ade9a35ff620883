#include "archive/console.h"

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <iostream>
#include <string>

namespace tolvex {
namespace {

using Clock = std::chrono::steady_clock;

bool& terminalFlag() {
  static bool isTerminal = isatty(1) == 1;
  return isTerminal;
}

bool isControlByte(char byte) {
  unsigned char value = static_cast<unsigned char>(byte);
  return value < 0x20 || value == 0x7F;
}

}  // namespace

bool outputIsTerminal() {
  return terminalFlag();
}

void setOutputIsTerminal(bool isTerminal) {
  terminalFlag() = isTerminal;
}

void printLine(std::string_view text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout.put('\n');
  std::cout.flush();
}

void printName(std::string_view name) {
  if (!outputIsTerminal()) {
    std::cout.write(name.data(), static_cast<std::streamsize>(name.size()));
    return;
  }
  std::string shown = terminalText(name);
  std::cout.write(shown.data(), static_cast<std::streamsize>(shown.size()));
}

void flushMarksIfDue() {
  if (!outputIsTerminal()) return;
  static Clock::time_point lastFlush;
  Clock::time_point now = Clock::now();
  if (now - lastFlush < std::chrono::milliseconds(100)) return;
  lastFlush = now;
  std::cout.flush();
}

namespace {

// The length of the sequence that starts `text` (not empty), and in `wellFormed` whether it
// is one well-formed UTF-8 sequence; when it is not, the length is that of its maximal
// subpart (at least 1). The ranges are those of the table of well-formed byte sequences in
// the Unicode standard: the second byte's range depends on the lead byte, the later ones
// are always 80-BF.
size_t sequenceLength(std::string_view text, bool& wellFormed) {
  unsigned char lead = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    length = 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // below: overlong
    if (lead == 0xED) high = 0x9F;  // above: a surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // below: overlong
    if (lead == 0xF4) high = 0x8F;  // above: beyond U+10FFFF
  } else {
    wellFormed = false;
    return 1;
  }
  size_t taken = 1;
  for (; taken < length && taken < text.size(); ++taken) {
    unsigned char next = static_cast<unsigned char>(text[taken]);
    if (next < low || next > high) break;
    low = 0x80;
    high = 0xBF;
  }
  wellFormed = taken == length;
  return taken;
}

// True for a well-formed sequence that encodes a C0 control, DEL or a C1 control.
bool isControl(std::string_view sequence) {
  if (sequence.size() == 1) return isControlByte(sequence[0]);
  return static_cast<unsigned char>(sequence[0]) == 0xC2 &&
         static_cast<unsigned char>(sequence[1]) < 0xA0;
}

}  // namespace

std::string terminalText(std::string_view name) {
  std::string shown;
  shown.reserve(name.size());
  while (!name.empty()) {
    bool wellFormed = false;
    std::string_view sequence = name.substr(0, sequenceLength(name, wellFormed));
    if (wellFormed && !isControl(sequence))
      shown.append(sequence);
    else
      shown.push_back('?');
    name.remove_prefix(sequence.size());
  }
  return shown;
}

}  // namespace tolvex
