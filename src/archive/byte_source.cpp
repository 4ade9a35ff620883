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

// Large enough that a chunk of 1024 bytes is rarely a system call of its own and that
// copyTo moves a large entry in few reads and writes, small enough that first touching
// its pages costs little.
constexpr uint32_t windowSize = 256 * 1024;

// Writes `count` bytes to `out`, as far as it takes them; returns the bytes written.
uint64_t writeOut(int out, const char* bytes, uint64_t count) {
  uint64_t written = 0;
  while (written < count) {
    ssize_t n = ::write(out, bytes + written, count - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<uint64_t>(n);
  }
  return written;
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
  atEnd_ = atEnd_ || delivered < count;
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
  if (size_ == Size::Unasked) {
    struct stat status;
    size_ = fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? Size::Known : Size::Unknown;
    if (size_ == Size::Known) sizeInBytes_ = static_cast<uint64_t>(status.st_size);
  }
  if (seekFailed_ || size_ == Size::Unknown) return false;
  count = sizeInBytes_ > position_ ? sizeInBytes_ - position_ : 0;
  return true;
}

uint64_t FileByteSource::copyTo(int out, uint64_t count) {
  if (seekFailed_ || atEnd_) return 0;
  if (!window_) window_.reset(new (std::nothrow) char[windowSize]);
  if (!window_) return 0;
  uint64_t moved = 0;
  while (moved < count) {
    if (position_ < windowStart_ || position_ - windowStart_ >= windowLength_) {
      // The window is refilled whole, so the entries after this one are read from it.
      ssize_t n = pread(fd_, window_.get(), windowSize, static_cast<off_t>(position_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the end, or an error for read() to find
      windowStart_ = position_;
      windowLength_ = static_cast<uint32_t>(n);
    }
    uint64_t offset = position_ - windowStart_;
    uint64_t wanted = std::min<uint64_t>(count - moved, windowLength_ - offset);
    uint64_t written = writeOut(out, window_.get() + offset, wanted);
    position_ += written;
    moved += written;
    if (written < wanted) break;
  }
  return moved;
}

}  // namespace tolvex
