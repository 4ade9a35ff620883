#ifndef TOLVEX_TESTS_OUTPUT_CAPTURE_H_
#define TOLVEX_TESTS_OUTPUT_CAPTURE_H_

#include <mutex>
#include <string>

#include "console/console.h"

namespace tolvex {

// Collects what the console writes while the object lives, counting the writes. The
// console treats the capture as a terminal only when asked to, whatever the test runs in.
class OutputCapture final : public ConsoleSink {
 public:
  explicit OutputCapture(bool asTerminal = false) { setConsoleSink(this, asTerminal); }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture() { setConsoleSink(nullptr, false); }

  void write(const char* bytes, size_t count) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(bytes, count);
    ++writes_;
  }

  // What was written so far, after writing out what the console still gathers.
  std::string text() {
    flushOutput();
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  // What has been written so far, without writing out what the console gathers.
  std::string written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  // How many writes that took.
  int writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }

 private:
  std::mutex mutex_;
  std::string text_;
  int writes_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_OUTPUT_CAPTURE_H_
