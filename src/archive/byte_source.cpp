#include "archive/byte_source.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/platform.h"

namespace tolvex {
namespace {

// Large enough that a chunk of 1024 bytes is rarely a system call of its own and that a
// large entry moves in few reads and writes, small enough that first touching its pages
// costs little.
constexpr uint32_t windowSize = ByteSource::viewLimit;

}  // namespace

FileByteSource::FileByteSource(const Handle& file) : file_(file) {}

bool FileByteSource::read(char* buffer, uint32_t count, uint32_t& got) {
  // After a failed seek the position is not the one asked for; reading there would hand
  // out the wrong bytes as if they were right.
  if (seekFailed_) return false;
  uint32_t delivered = 0;
  if (!atEnd_ && !readThrough(buffer, count, delivered)) return false;
  position_ += delivered;
  atEnd_ = atEnd_ || delivered < count;
  got = delivered;
  return true;
}

bool FileByteSource::readThrough(char* buffer, uint32_t count, uint32_t& got) {
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
    int64_t n = readAt(file_, target, direct ? count - done : windowSize, at);
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
  // Positions beyond what a signed 64-bit offset reaches exist in no file.
  seekFailed_ = position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (!seekFailed_) position_ = position;
  atEnd_ = false;
}

bool FileByteSource::bytesLeft(uint64_t& count) {
  if (size_ == Size::Unasked) {
    size_ = regularFileSize(file_, sizeInBytes_) ? Size::Known : Size::Unknown;
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
    int64_t n = readAt(file_, window_.get() + windowLength_, windowSize - windowLength_,
                       position_ + windowLength_);
    if (n < 0) return windowLength_ > 0;  // the bytes before the error are good
    if (n == 0) break;
    windowLength_ += static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace tolvex
