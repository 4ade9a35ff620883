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

// Large enough that a chunk of 1024 bytes is rarely a system call of its own and that a
// large entry moves in few reads and writes, small enough that first touching its pages
// costs little.
constexpr uint32_t windowSize = ByteSource::viewLimit;

}  // namespace

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

uint32_t FileByteSource::view(uint32_t count, const char*& data) {
  if (seekFailed_ || atEnd_) return 0;
  count = std::min(count, windowSize);
  bool inWindow = position_ >= windowStart_ && position_ - windowStart_ <= windowLength_ &&
                  windowLength_ - (position_ - windowStart_) >= count;
  if (!inWindow && !fillWindow(count)) {
    atEnd_ = true;
    return 0;
  }
  uint64_t offset = position_ - windowStart_;
  uint32_t delivered = static_cast<uint32_t>(std::min<uint64_t>(count, windowLength_ - offset));
  data = window_.get() + offset;
  position_ += delivered;
  atEnd_ = delivered < count;
  return delivered;
}

bool FileByteSource::fillWindow(uint32_t count) {
  if (!window_) window_.reset(new (std::nothrow) char[windowSize]);
  if (!window_) return false;
  windowStart_ = position_;
  windowLength_ = 0;
  // Filled whole when the file allows, so that the entries after this one are read from it.
  while (windowLength_ < count) {
    ssize_t n = pread(fd_, window_.get() + windowLength_, windowSize - windowLength_,
                      static_cast<off_t>(position_ + windowLength_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return windowLength_ > 0;  // the bytes before the error are good
    if (n == 0) break;
    windowLength_ += static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace tolvex
