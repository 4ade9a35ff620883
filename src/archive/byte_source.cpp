#include "archive/byte_source.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace tolvex {
namespace {

// Large enough that a chunk of 1024 bytes is rarely a system call of its own, small
// enough that first touching its pages costs little.
constexpr uint32_t windowSize = 256 * 1024;

// The most one copy_file_range call is asked to move (the kernel moves at most about
// 2 GiB per call anyway).
constexpr uint64_t kernelCopyLimit = uint64_t(1) << 30;

// Answers of copy_file_range that hold for every later call on the same archive: the
// kernel or the file systems cannot copy between these files, or a policy forbids it.
bool isRefusal(int error) {
  return error == ENOSYS || error == EOPNOTSUPP || error == EXDEV || error == EINVAL ||
         error == EPERM || error == EBADF;
}

}  // namespace

uint64_t ByteSource::copyTo(int, uint64_t) {
  return 0;
}

FileByteSource::FileByteSource(std::FILE* stream) : fd_(fileno(stream)) {}

bool FileByteSource::read(char* buffer, uint32_t count, uint32_t& got) {
  // After a failed seek the position is not the one asked for; reading there would hand
  // out the wrong bytes as if they were right.
  if (seekFailed_) return false;
  uint32_t delivered = 0;
  if (!atEnd_ && !readAt(buffer, count, delivered)) return false;
  position_ += delivered;
  atEnd_ = delivered < count;
  got = delivered;
  return true;
}

bool FileByteSource::readAt(char* buffer, uint32_t count, uint32_t& got) {
  uint32_t done = 0;
  while (done < count) {
    uint64_t at = position_ + done;
    if (at >= windowStart_ && at - windowStart_ < windowLength_) {
      uint32_t n = static_cast<uint32_t>(
          std::min<uint64_t>(count - done, windowLength_ - (at - windowStart_)));
      std::memcpy(buffer + done, window_.get() + (at - windowStart_), n);
      done += n;
      continue;
    }
    // What fills a window or more goes straight to the caller: the window would only add
    // a copy.
    if (!window_ && count - done < windowSize) window_.reset(new (std::nothrow) char[windowSize]);
    bool direct = count - done >= windowSize || !window_;
    char* target = direct ? buffer + done : window_.get();
    ssize_t n = pread(fd_, target, direct ? count - done : windowSize, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (direct) {
      done += static_cast<uint32_t>(n);
    } else {
      windowStart_ = at;
      windowLength_ = static_cast<uint32_t>(n);
    }
  }
  got = done;
  return true;
}

void FileByteSource::seek(uint64_t position) {
  seekFailed_ = position > static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  if (!seekFailed_) position_ = position;
  atEnd_ = false;
}

bool FileByteSource::bytesLeft(uint64_t& count) {
  if (sizeKnown_ < 0) {
    struct stat status;
    sizeKnown_ = fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? 1 : 0;
    if (sizeKnown_ == 1) size_ = static_cast<uint64_t>(status.st_size);
  }
  if (seekFailed_ || sizeKnown_ == 0) return false;
  count = size_ > position_ ? size_ - position_ : 0;
  return true;
}

uint64_t FileByteSource::copyTo(int out, uint64_t count) {
  if (seekFailed_ || atEnd_ || kernelRefuses_) return 0;
  uint64_t moved = 0;
  while (moved < count) {
    loff_t from = static_cast<loff_t>(position_);
    ssize_t n = copy_file_range(fd_, &from, out, nullptr,
                                std::min(count - moved, kernelCopyLimit), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // Anything but a refusal (an error, the end of the archive) is for read() to find.
      if (n < 0 && moved == 0 && isRefusal(errno)) kernelRefuses_ = true;
      break;
    }
    position_ += static_cast<uint64_t>(n);
    moved += static_cast<uint64_t>(n);
  }
  return moved;
}

}  // namespace tolvex
