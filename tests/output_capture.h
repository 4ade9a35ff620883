#ifndef TOLVEX_TESTS_OUTPUT_CAPTURE_H_
#define TOLVEX_TESTS_OUTPUT_CAPTURE_H_

#include <iostream>
#include <sstream>
#include <string>

#include "archive/console.h"

namespace tolvex {

// A string buffer that counts its flushes.
class CountingBuffer : public std::stringbuf {
 public:
  int flushes = 0;

 protected:
  int sync() override {
    ++flushes;
    return std::stringbuf::sync();
  }
};

// Collects what is written to std::cout while the object lives. The console treats the
// capture as a terminal only when asked to, whatever the test runs in.
class OutputCapture {
 public:
  explicit OutputCapture(bool asTerminal = false)
      : wasTerminal_(outputIsTerminal()), previous_(std::cout.rdbuf(&buffer_)) {
    setOutputIsTerminal(asTerminal);
  }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture() {
    std::cout.rdbuf(previous_);
    setOutputIsTerminal(wasTerminal_);
  }

  std::string text() const { return buffer_.str(); }
  int flushes() const { return buffer_.flushes; }

 private:
  CountingBuffer buffer_;
  bool wasTerminal_;
  std::streambuf* previous_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_OUTPUT_CAPTURE_H_
