#include "archive/console.h"

#include <chrono>
#include <mutex>

#include "archive/platform.h"

namespace tolvex {
namespace {

using Clock = std::chrono::steady_clock;

// How long a terminal may wait for what has been printed.
constexpr auto gatherTime = std::chrono::milliseconds(100);
// Written sooner when this much has gathered.
constexpr size_t gatherLimit = 64 * 1024;

class Console {
 public:
  Console() : isTerminal_(standardOutputIsTerminal()) { pending_.reserve(gatherLimit); }

  void print(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    writeIfDue(false);
  }

  void printRepeated(size_t count, char byte) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(count, byte);
    writeIfDue(false);
  }

  void printName(std::string_view name) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isTerminal_)
      pending_ += terminalText(name);
    else
      pending_.append(name.data(), name.size());
    writeIfDue(false);
  }

  void printLine(std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    pending_ += '\n';
    writeIfDue(true);
  }

  void endLine() { printLine(std::string_view()); }

  void flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    writePending();
  }

  void flushIfDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isTerminal_ && !pending_.empty()) writeIfDue(false);
  }

  bool isTerminal() {
    std::lock_guard<std::mutex> lock(mutex_);
    return isTerminal_;
  }

  void setSink(ConsoleSink* sink, bool asTerminal) {
    std::lock_guard<std::mutex> lock(mutex_);
    writePending();
    sink_ = sink;
    isTerminal_ = sink ? asTerminal : standardOutputIsTerminal();
  }

 private:
  // Off a terminal, only the end of a line writes; on one, the clock and the amount decide.
  void writeIfDue(bool lineEnded) {
    if (!isTerminal_) {
      if (lineEnded) writePending();
      return;
    }
    if (pending_.size() >= gatherLimit || Clock::now() - lastWrite_ >= gatherTime) writePending();
  }

  void writePending() {
    if (pending_.empty()) return;
    if (sink_)
      sink_->write(pending_.data(), pending_.size());
    else
      writeStandardOutput(pending_.data(), pending_.size());  // a reader gone: lines dropped
    pending_.clear();
    lastWrite_ = Clock::now();
  }

  std::mutex mutex_;
  bool isTerminal_;
  ConsoleSink* sink_ = nullptr;
  std::string pending_;
  Clock::time_point lastWrite_;
};

Console& console() {
  static Console instance;
  return instance;
}

bool isControlByte(char byte) {
  unsigned char value = static_cast<unsigned char>(byte);
  return value < 0x20 || value == 0x7F;
}

}  // namespace

void printLine(std::string_view text) {
  console().printLine(text);
}

void printText(std::string_view text) {
  console().print(text);
}

void printMarks(size_t count, char mark) {
  if (count > 0) console().printRepeated(count, mark);
}

void printName(std::string_view name) {
  console().printName(name);
}

void endLine() {
  console().endLine();
}

void flushOutput() {
  console().flush();
}

void flushOutputIfDue() {
  console().flushIfDue();
}

std::string terminalText(std::string_view name) {
  std::string shown(name);
  for (char& byte : shown)
    if (isControlByte(byte)) byte = '?';
  return shown;
}

bool outputIsTerminal() {
  return console().isTerminal();
}

void setConsoleSink(ConsoleSink* sink, bool asTerminal) {
  console().setSink(sink, asTerminal);
}

}  // namespace tolvex
