#include "console/console.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <new>
#include <string>

#include "console/terminal_text.h"
#include "platform/platform.h"

namespace tolvex {
namespace {

using Clock = std::chrono::steady_clock;

// How long a terminal may wait for what has been printed.
constexpr auto gatherTime = std::chrono::milliseconds(100);
// Written sooner when this much has gathered.
constexpr size_t gatherLimit = 64 * 1024;

class Console {
 public:
  Console() : isTerminal_(standardOutputIsTerminal()) {
    try {
      pending_.reserve(gatherLimit);
      writing_.reserve(gatherLimit);
    } catch (const std::bad_alloc&) {
      // Without room set aside the strings grow as lines come, as far as memory allows.
    }
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  // What has gathered reaches standard output however the program ends, short of a signal.
  ~Console() { write(false); }

  // Each adds to what is pending; `mode` says whether a write may be due now.
  enum class Write { IfDue, LinesNow, Later };

  void print(std::string_view text, Write mode = Write::IfDue) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    finishPiece(lock, mode);
  }

  void printRepeated(size_t count, char byte) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(count, byte);
    finishPiece(lock, Write::IfDue);
  }

  void printName(std::string_view name) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (isTerminal_)
      pending_ += terminalText(name);
    else
      pending_.append(name.data(), name.size());
    finishPiece(lock, Write::IfDue);
  }

  void printLine(std::string_view text, Write mode) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    pending_ += '\n';
    linesEnd_ = pending_.size();
    finishPiece(lock, mode);
  }

  void flush() { write(false); }

  void flushIfDue() {
    std::unique_lock<std::mutex> lock(mutex_);
    finishPiece(lock, isTerminal_ ? Write::IfDue : Write::LinesNow);
  }

  void setSink(ConsoleSink* sink, bool asTerminal) {
    write(false);
    std::lock_guard<std::mutex> writing(writer_);
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = sink;
    isTerminal_ = sink ? asTerminal : standardOutputIsTerminal();
  }

 private:
  // Off a terminal only whole lines are written, when asked; on one, the clock and the
  // amount decide.
  void finishPiece(std::unique_lock<std::mutex>& lock, Write mode) {
    bool due = false;
    bool linesOnly = !isTerminal_;
    if (isTerminal_)
      due = mode != Write::Later && !pending_.empty() &&
            (pending_.size() >= gatherLimit || Clock::now() - lastWrite_ >= gatherTime);
    else
      due = mode == Write::LinesNow && linesEnd_ > 0;
    lock.unlock();
    if (due) write(linesOnly);
  }

  // Writes what is pending (only up to the end of the last whole line when `linesOnly`).
  // Writers take turns, each taking the oldest bytes, so bytes go out in the order they
  // were printed; printing goes on meanwhile.
  void write(bool linesOnly) {
    std::lock_guard<std::mutex> writing(writer_);
    ConsoleSink* sink = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      size_t end = linesOnly ? linesEnd_ : pending_.size();
      if (end == 0) return;
      writing_.assign(pending_, 0, end);
      pending_.erase(0, end);
      linesEnd_ = linesEnd_ > end ? linesEnd_ - end : 0;
      lastWrite_ = Clock::now();
      sink = sink_;
    }
    if (sink)
      sink->write(writing_.data(), writing_.size());
    else
      writeStandardOutput(writing_.data(), writing_.size());  // a reader gone: lines dropped
    writing_.clear();
  }

  std::mutex writer_;  // held by whoever writes; taken before mutex_
  std::mutex mutex_;   // guards everything below but writing_
  bool isTerminal_;
  ConsoleSink* sink_ = nullptr;
  std::string pending_;
  size_t linesEnd_ = 0;  // pending_ up to here ends in a newline
  Clock::time_point lastWrite_;
  std::string writing_;  // what the writer is writing; guarded by writer_
};

Console& console() {
  static Console instance;
  return instance;
}

}  // namespace

void printLine(std::string_view text) {
  console().printLine(text, Console::Write::LinesNow);
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
  console().printLine(std::string_view(), Console::Write::LinesNow);
}

void endLineLater() {
  console().printLine(std::string_view(), Console::Write::Later);
}

void flushOutput() {
  console().flush();
}

void flushOutputIfDue() {
  console().flushIfDue();
}

void setConsoleSink(ConsoleSink* sink, bool asTerminal) {
  console().setSink(sink, asTerminal);
}

}  // namespace tolvex
