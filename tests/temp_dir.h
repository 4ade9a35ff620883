#ifndef TOLVEX_TESTS_TEMP_DIR_H_
#define TOLVEX_TESTS_TEMP_DIR_H_

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace tolvex {

// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes. With `enter` true it is also the current directory for the
// object's lifetime, so that code extracting into ./tolvex writes there.
class TempDir {
 public:
  explicit TempDir(bool enter = true) {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "tolvex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    char previous[PATH_MAX];
    if (enter && !path_.empty() && getcwd(previous, sizeof previous) != nullptr &&
        chdir(path_.c_str()) == 0)
      previous_ = previous;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) return;
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }

  // Empty when the directory could not be made.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previous_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_TEMP_DIR_H_
