#ifndef TOLVEX_TESTS_TEST_FILES_H_
#define TOLVEX_TESTS_TEST_FILES_H_

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#ifndef _WIN32
#include "unique_fd.h"
#endif

namespace tolvex {

// Small file helpers shared by the tests.

// `piece`, `times` times over.
inline std::string repeat(const std::string& piece, size_t times) {
  std::string result;
  result.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i)
    result += piece;
  return result;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

#ifndef _WIN32
// While it lives, no file this process writes may grow beyond `bytes`, and a write past
// that fails (SIGXFSZ ignored, as the program ignores it). A test that feeds a byte count
// of 4 GiB holds one, so that a fault which copies on fails at once instead of filling the
// disk.
class FileSizeCap {
 public:
  explicit FileSizeCap(rlim_t bytes) : previousHandler_(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit cap = previous_;
    cap.rlim_cur = previous_.rlim_max == RLIM_INFINITY || bytes < previous_.rlim_max
                       ? bytes
                       : previous_.rlim_max;
    setrlimit(RLIMIT_FSIZE, &cap);
  }
  FileSizeCap(const FileSizeCap&) = delete;
  FileSizeCap& operator=(const FileSizeCap&) = delete;
  ~FileSizeCap() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_ = {};
  void (*previousHandler_)(int);
};
#endif

}  // namespace tolvex

#endif  // TOLVEX_TESTS_TEST_FILES_H_
