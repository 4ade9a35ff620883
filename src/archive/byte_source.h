#ifndef TOLVEX_ARCHIVE_BYTE_SOURCE_H_
#define TOLVEX_ARCHIVE_BYTE_SOURCE_H_

#include <cstdint>
#include <cstdio>

namespace tolvex {

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

 protected:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ~ByteSource() = default;
};

// A ByteSource over a stdio stream opened for binary reading. Borrows the stream: it
// neither opens nor closes it, and the stream must outlive the source. Reads go through
// the stream's own buffer, so its size (setvbuf) sets how often the file is read.
class FileByteSource final : public ByteSource {
 public:
  explicit FileByteSource(std::FILE* stream) : stream_(stream) {}

  // As ByteSource::read; also true with `got` 0, without touching the stream, once the
  // stream's end-of-file indicator is set (a seek clears it).
  bool read(char* buffer, uint32_t count, uint32_t& got) override;
  void seek(uint64_t position) override;
  bool bytesLeft(uint64_t& count) override;

 private:
  std::FILE* stream_;
  bool seekFailed_ = false;
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_BYTE_SOURCE_H_
