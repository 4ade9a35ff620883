#ifndef TOLVEX_ARCHIVE_BYTE_SOURCE_H_
#define TOLVEX_ARCHIVE_BYTE_SOURCE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace tolvex {

class Handle;

// The bytes of one archive, read at a current position. Everything that reads an archive
// reads it through this interface. A source is owned by whoever made it and is never
// destroyed through this interface; users borrow it by reference.
class ByteSource {
 public:
  // Reads up to `count` bytes at the current position into `buffer` (which must hold
  // `count` bytes) and advances the position by what was delivered. Returns true with
  // `got` set to the bytes stored; fewer than `count` means the archive ended (or cannot
  // be read further), and every caller compares. Returns false on a read error and then
  // leaves `got` untouched. A count of 0 gives true with `got` 0.
  virtual bool read(char* buffer, uint32_t count, uint32_t& got) = 0;

  // Moves the read position to `position`, counted from the archive's first byte. Reports
  // nothing, but a position that cannot be reached makes every following read fail until
  // the next seek that succeeds, so a wrong position is never read silently.
  virtual void seek(uint64_t position) = 0;

  // Sets `count` to the number of bytes from the read position to the end of the archive
  // and returns true, or returns false when the source cannot tell (a pipe, a device).
  virtual bool bytesLeft(uint64_t& count) = 0;

  // Makes up to `count` bytes at the read position (at most viewLimit) readable at `data`
  // without copying them into the caller's memory, advances the position past them and
  // returns how many there are. Fewer than `count` means the archive ended there or could
  // not be read further; the bytes before that point are good. `data` stays valid until
  // the next call on the source.
  virtual uint32_t view(uint32_t count, const char*& data) = 0;

  // The most view() delivers at once.
  static constexpr uint32_t viewLimit = 256 * 1024;

 protected:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ~ByteSource() = default;
};

// A ByteSource over an open file, starting at the file's first byte. Borrows the file: it
// neither opens nor closes it, and the file must outlive the source. Reads go to the file
// at the source's own position (readAt), through a window of viewLimit bytes that the
// source owns, so several sources can read one file at once; view() hands out bytes in
// that window.
class FileByteSource final : public ByteSource {
 public:
  explicit FileByteSource(const Handle& file);

  // As ByteSource::read; also true with `got` 0, without reading, once a read has reached
  // the end of the archive (a seek starts over).
  bool read(char* buffer, uint32_t count, uint32_t& got) override;
  void seek(uint64_t position) override;
  // The archive's size is asked once; a file that changes size while it is read is seen
  // by read() and view() as it is.
  bool bytesLeft(uint64_t& count) override;
  uint32_t view(uint32_t count, const char*& data) override;

 private:
  // Reads into `buffer` at the position until `count` bytes, the end or an error; false
  // on an error.
  bool readThrough(char* buffer, uint32_t count, uint32_t& got);
  // Fills the window from the read position with up to `count` bytes (at least as many as
  // the file holds there, up to the window's size); false on an error or without memory.
  bool fillWindow(uint32_t count);

  const Handle& file_;
  uint64_t position_ = 0;
  bool seekFailed_ = false;
  bool atEnd_ = false;
  enum class Size { Unasked, Unknown, Known };  // Unknown: not a regular file
  Size size_ = Size::Unasked;
  uint64_t sizeInBytes_ = 0;  // when Known
  std::unique_ptr<char[]> window_;
  uint64_t windowStart_ = 0;
  uint32_t windowLength_ = 0;
};

// Sources for the threads that copy files besides the walking one: each reads the same
// archive at a position of its own.
class CopySources {
 public:
  // The most sources a pool hands out: one for each thread that copies, but the walking one.
  static constexpr size_t most = 15;

  // The source of copying thread `index` (1 to `most`), made when first asked for and kept
  // while the pool lives; null when it cannot be made.
  virtual ByteSource* source(size_t index) = 0;

 protected:
  CopySources() = default;
  CopySources(const CopySources&) = delete;
  CopySources& operator=(const CopySources&) = delete;
  ~CopySources() = default;
};

// CopySources each made by `make`, which gives a new source over the archive as a
// std::unique_ptr (null when it cannot be made).
template <typename Make>
class MadeSources final : public CopySources {
 public:
  explicit MadeSources(Make make) : make_(std::move(make)) {}

  ByteSource* source(size_t index) override {
    if (index < 1 || index > most) return nullptr;
    auto& made = sources_[index - 1];
    if (!made) made = make_();
    return made.get();
  }

 private:
  Make make_;
  std::array<decltype(std::declval<Make&>()()), most> sources_;
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_BYTE_SOURCE_H_
