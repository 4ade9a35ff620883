#include "archive/extract_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <utility>

#include "archive/byte_source.h"
#include "archive/console.h"
#include "archive/header_prefix.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

constexpr uint32_t chunkSize = 1024;

// Chunks gather in the output buffer and go to the disk a megabyte at a time, so a chunk
// is never a system call of its own; small files get a buffer of their own size.
constexpr uint32_t outputBufferSize = 1024 * chunkSize;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Opens `name` in `directory` for writing, creating it when absent. Succeeds only for a
// regular file, which is then emptied: nothing else is ever written to or truncated.
int openOutput(int directory, const std::string& name) {
  if (directory < 0) return -1;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting for one.
  FileDescriptor fd(openat(directory, name.c_str(),
                           O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                           0666));
  struct stat status;
  if (fd.get() < 0 || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  if (status.st_size != 0 && ftruncate(fd.get(), 0) != 0) return -1;
  return fd.release();
}

bool writeAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = ::write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

// An output file written through a buffer of whole chunks. Chunks are read straight into
// the buffer, so no byte is copied on its way from the archive to the disk.
class OutputFile {
 public:
  OutputFile(int fd, std::unique_ptr<char[]> buffer, uint32_t capacity)
      : fd_(fd), buffer_(std::move(buffer)), capacity_(capacity) {}

  // Room for the next chunk; what lands there counts only once committed.
  char* chunkSpace() { return buffer_.get() + used_; }

  // Takes the chunk of `count` bytes just placed in chunkSpace(). A full buffer is written
  // out before more chunks come; the last chunk waits for finish(). False when the disk
  // refused bytes.
  bool commitChunk(uint32_t count, bool moreFollow) {
    used_ += count;
    return used_ < capacity_ || !moreFollow || flush();
  }

  // Writes what is buffered and closes the file; false when either fails.
  bool finish() {
    bool ok = flush();
    return ::close(fd_.release()) == 0 && ok;
  }

 private:
  bool flush() {
    bool ok = writeAll(fd_.get(), buffer_.get(), used_);
    used_ = 0;
    return ok;
  }

  FileDescriptor fd_;
  std::unique_ptr<char[]> buffer_;
  uint32_t capacity_;
  uint32_t used_ = 0;
};

// Chunks of `count` bytes, whole chunks only, at most one output buffer.
uint32_t bufferCapacity(uint32_t count) {
  uint64_t wholeChunks = (uint64_t(count) + chunkSize - 1) / chunkSize;
  return static_cast<uint32_t>(std::min<uint64_t>(wholeChunks * chunkSize, outputBufferSize));
}

// Positions the source at the entry's first byte. A position beyond 2^64-1 lies past the
// end of every archive: the entry's reads must fail or come up short there, never read
// from wherever the source happened to stand.
void seekToData(ArchiveContext& context, uint64_t offset) {
  uint64_t position = context.dataBase + offset;
  if (offset > UINT64_MAX - context.dataBase) position = UINT64_MAX;
  context.source.seek(position);
}

// Copies `count` bytes chunk by chunk, printing one mark per chunk; the stop marks ">"
// and "<" end the copy. Returns true when every byte was copied.
bool copyChunks(ByteSource& source, uint32_t count, OutputFile& out) {
  uint32_t remaining = count;
  while (remaining != 0) {
    uint32_t n = std::min(remaining, chunkSize);
    uint32_t got = 0;
    if (!source.read(out.chunkSpace(), n, got) || got != n) {
      std::cout.put('>');
      return false;
    }
    if (!out.commitChunk(n, remaining > n)) {
      std::cout.put('<');
      return false;
    }
    remaining -= n;
    std::cout.put('.');
    flushMarksIfDue();
  }
  return true;
}

bool finishLine(bool ok) {
  printLine(ok ? " OK" : " NG");
  return ok;
}

}  // namespace

uint64_t offsetFromText(const JsonValue& offset) {
  // c_str() ends the text at its first NUL, as the conversion wants.
  const std::string text(static_cast<const JsonString&>(offset).text());
  return std::strtoull(text.c_str(), nullptr, 10);
}

uint32_t countFromSize(const JsonValue& size) {
  const JsonNumber& number = static_cast<const JsonNumber&>(size);
  uint64_t bits = number.payload;
  if (number.form == NumberForm::Real) {
    double floored = std::floor(number.realValue());
    // Written so that NaN fails the test too.
    if (!(floored >= -9223372036854775808.0 && floored < 9223372036854775808.0)) return 0;
    bits = static_cast<uint64_t>(static_cast<int64_t>(floored));
  }
  return static_cast<uint32_t>(bits);
}

void printUncreatedFile(const std::string& path) {
  std::cout << "Extracting ";
  printName(path);
  std::cout << " o";
  finishLine(false);
}

bool extractFile(ArchiveContext& context, int directory, const std::string& name,
                 const std::string& path, const JsonValue& offset, const JsonValue& size) {
  uint64_t start = offsetFromText(offset);
  std::cout << "Extracting ";
  printName(path);
  std::cout << ' ';
  seekToData(context, start);
  uint32_t count = countFromSize(size);
  uint32_t capacity = bufferCapacity(count);
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[capacity]);
  int fd = buffer ? openOutput(directory, name) : -1;
  if (fd < 0) {
    std::cout << 'o';
    return finishLine(false);
  }
  OutputFile out(fd, std::move(buffer), capacity);
  std::cout << '(' << count << ") ";
  bool ok = copyChunks(context.source, count, out);
  // Buffered writes can hide a full disk until the end, so the end decides too.
  if (!out.finish() && ok) {
    std::cout.put('<');
    ok = false;
  }
  return finishLine(ok);
}

}  // namespace tolvex
