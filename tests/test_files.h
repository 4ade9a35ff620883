#ifndef TOLVEX_TESTS_TEST_FILES_H_
#define TOLVEX_TESTS_TEST_FILES_H_

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "unique_fd.h"

namespace tolvex {

// Small file helpers shared by the tests.

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

}  // namespace tolvex

#endif  // TOLVEX_TESTS_TEST_FILES_H_
