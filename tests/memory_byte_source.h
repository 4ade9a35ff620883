#ifndef TOLVEX_TESTS_MEMORY_BYTE_SOURCE_H_
#define TOLVEX_TESTS_MEMORY_BYTE_SOURCE_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/byte_source.h"

namespace tolvex {

// A ByteSource over bytes in memory that can be told to fail: the next read, every read
// that would reach a given position (a view then ends there), or to hide its size. Records the
// largest read count it was asked for.
class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::string bytes) : bytes_(std::move(bytes)) {}

  bool read(char* buffer, uint32_t count, uint32_t& got) override {
    largestRead = std::max(largestRead, count);
    ++readCalls;
    if (failNextRead) {
      failNextRead = false;
      return false;
    }
    uint64_t delivered =
        position_ < bytes_.size() ? std::min<uint64_t>(count, bytes_.size() - position_) : 0;
    if (delivered > 0 && position_ + delivered > failFrom) return false;
    if (delivered > 0) std::memcpy(buffer, bytes_.data() + position_, delivered);
    position_ += delivered;
    got = static_cast<uint32_t>(delivered);
    return true;
  }

  void seek(uint64_t position) override { position_ = position; }

  // Delivers what a read of `count` would, and up to failFrom when a read would fail there.
  uint32_t view(uint32_t count, const char*& data) override {
    count = std::min(count, viewLimit);
    uint64_t end = std::min<uint64_t>(bytes_.size(), failFrom);
    uint64_t delivered = position_ < end ? std::min<uint64_t>(count, end - position_) : 0;
    data = bytes_.data() + std::min<uint64_t>(position_, bytes_.size());
    position_ += delivered;
    return static_cast<uint32_t>(delivered);
  }

  bool bytesLeft(uint64_t& count) override {
    if (!tellsSize) return false;
    count = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    return true;
  }

  bool failNextRead = false;       // the next read fails, then reads work again
  uint64_t failFrom = UINT64_MAX;  // a read that would deliver the byte at this position fails
  bool tellsSize = true;           // false: bytesLeft cannot tell, as for a pipe
  uint32_t largestRead = 0;
  uint32_t readCalls = 0;

 private:
  std::string bytes_;
  uint64_t position_ = 0;
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_MEMORY_BYTE_SOURCE_H_
