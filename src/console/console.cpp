#include "console/console.h"

#include <atomic>
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

// How long what has been printed may wait.
constexpr auto gatherTime = std::chrono::milliseconds(100);
// Written sooner when this much has gathered.
constexpr size_t gatherLimit = 64 * 1024;

// What gathers: on a terminal every piece, so that the marks of a long copy show while it
// runs; elsewhere whole lines only. What is due goes out in one write.
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
  ~Console() { write(true); }

  // Each adds to what is pending; `mayWrite` says whether what is due may be written now.
  void print(std::string_view text, bool mayWrite = true) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    finishPiece(lock, mayWrite);
  }

  void printRepeated(size_t count, char byte) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(count, byte);
    finishPiece(lock, true);
  }

  void printName(std::string_view name) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (isTerminal_)
      pending_ += terminalText(name);
    else
      pending_.append(name.data(), name.size());
    finishPiece(lock, true);
  }

  void printLine(std::string_view text, bool mayWrite) {
    std::unique_lock<std::mutex> lock(mutex_);
    pending_.append(text.data(), text.size());
    pending_ += '\n';
    linesEnd_ = pending_.size();
    writable_.store(true, std::memory_order_relaxed);
    finishPiece(lock, mayWrite);
  }

  void flush() { write(false); }

  void flushIfDue() {
    if (!isDue()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    finishPiece(lock, true);
  }

  // Looked at often, by threads that wait: the common answer needs no lock.
  bool isDue() const {
    return writable_.load(std::memory_order_relaxed) &&
           Clock::now().time_since_epoch().count() -
                   lastWriteTicks_.load(std::memory_order_relaxed) >=
               std::chrono::duration_cast<Clock::duration>(gatherTime).count();
  }

  void setSink(ConsoleSink* sink, bool asTerminal) {
    write(true);
    std::lock_guard<std::mutex> writing(writer_);
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = sink;
    isTerminal_ = sink ? asTerminal : standardOutputIsTerminal();
  }

 private:
  // The end of what may be written now: everything on a terminal, whole lines elsewhere.
  size_t writableEnd() const { return isTerminal_ ? pending_.size() : linesEnd_; }

  // Writes what may be written once a tenth of a second has passed since the last write,
  // or when much has gathered.
  void finishPiece(std::unique_lock<std::mutex>& lock, bool mayWrite) {
    if (isTerminal_ && !pending_.empty()) writable_.store(true, std::memory_order_relaxed);
    size_t end = writableEnd();
    bool due =
        mayWrite && end > 0 && (end >= gatherLimit || Clock::now() - lastWrite_ >= gatherTime);
    lock.unlock();
    if (due) write(false);
  }

  // Writes what may be written now (with `everything`, a line not yet ended too). Writers
  // take turns, each taking the oldest bytes, so bytes go out in the order they were
  // printed; printing goes on meanwhile.
  void write(bool everything) {
    std::lock_guard<std::mutex> writing(writer_);
    ConsoleSink* sink = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      size_t end = everything ? pending_.size() : writableEnd();
      if (end == 0) return;
      writing_.assign(pending_, 0, end);
      pending_.erase(0, end);
      linesEnd_ = linesEnd_ > end ? linesEnd_ - end : 0;
      writable_.store(writableEnd() > 0, std::memory_order_relaxed);
      lastWrite_ = Clock::now();
      lastWriteTicks_.store(lastWrite_.time_since_epoch().count(), std::memory_order_relaxed);
      sink = sink_;
    }
    if (sink)
      sink->write(writing_.data(), writing_.size());
    else
      writeStandardOutput(writing_.data(), writing_.size());  // a reader gone: lines dropped
    writing_.clear();
  }

  std::mutex writer_;  // held by whoever writes; taken before mutex_
  std::mutex mutex_;   // guards everything below but writable_ and writing_
  bool isTerminal_;
  ConsoleSink* sink_ = nullptr;
  std::string pending_;
  size_t linesEnd_ = 0;  // pending_ up to here ends in a newline
  Clock::time_point lastWrite_;
  // Whether anything may be written (set under mutex_, read without it): a hint that a
  // look is worth the lock.
  std::atomic<bool> writable_{false};
  std::atomic<Clock::rep> lastWriteTicks_{0};  // lastWrite_, for the same look
  std::string writing_;                        // what the writer is writing; guarded by writer_
};

Console& console() {
  static Console instance;
  return instance;
}

}  // namespace

void printLine(std::string_view text) {
  console().printLine(text, true);
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
  console().printLine(std::string_view(), true);
}

void endLineLater() {
  console().printLine(std::string_view(), false);
}

void flushOutput() {
  console().flush();
}

void flushOutputIfDue() {
  console().flushIfDue();
}

bool outputIsDue() {
  return console().isDue();
}

void setConsoleSink(ConsoleSink* sink, bool asTerminal) {
  console().setSink(sink, asTerminal);
}

}  // namespace tolvex
