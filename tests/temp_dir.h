#ifndef TOLVEX_TESTS_TEMP_DIR_H_
#define TOLVEX_TESTS_TEMP_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

namespace tolvex {

// A fresh directory under the system's temporary directory (or under `base`), removed with
// everything in it when the object goes. With `enter` true it is also the current directory
// for the object's lifetime, so that code extracting into ./tolvex writes there. On every
// system.
class TempDir {
 public:
  explicit TempDir(bool enter = true, const std::string& under = "") {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> made{0};
    std::error_code error;
    const fs::path base = under.empty() ? fs::temp_directory_path(error) : fs::path(under);
    // create_directory makes a directory only where there was none: a name taken by
    // another process is passed over.
    for (int attempt = 0; attempt < 100 && path_.empty() && !base.empty(); ++attempt) {
      auto now = std::chrono::steady_clock::now().time_since_epoch().count();
      fs::path candidate =
          base / ("tolvex-test-" + std::to_string(now) + "-" + std::to_string(made++));
      if (fs::create_directory(candidate, error)) path_ = candidate.generic_string();
    }
    if (!enter || path_.empty()) return;
    fs::path previous = fs::current_path(error);
    if (error) return;
    fs::current_path(path_, error);
    if (!error) previous_ = previous.generic_string();
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code error;
    if (!previous_.empty()) std::filesystem::current_path(previous_, error);
    if (!error && !path_.empty()) std::filesystem::remove_all(path_, error);
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
