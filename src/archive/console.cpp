#include "archive/console.h"

#include <unistd.h>

#include <chrono>
#include <iostream>

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
  for (char byte : name)
    std::cout.put(isControlByte(byte) ? '?' : byte);
}

void flushMarksIfDue() {
  if (!outputIsTerminal()) return;
  static Clock::time_point lastFlush;
  Clock::time_point now = Clock::now();
  if (now - lastFlush < std::chrono::milliseconds(100)) return;
  lastFlush = now;
  std::cout.flush();
}

}  // namespace tolvex
