#ifndef TOLVEX_TESTS_UNIQUE_FD_H_
#define TOLVEX_TESTS_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace tolvex {

// Owns a file descriptor, or -1 for none, and closes it when destroyed.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }

  int get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_UNIQUE_FD_H_
