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
#include "archive/unique_fd.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

constexpr uint32_t chunkSize = 1024;

// The chunks of `count` bytes, the last one possibly shorter.
uint64_t chunksOf(uint64_t count) {
  return (count + chunkSize - 1) / chunkSize;
}

// How much the source moves between two looks at the marks, so that on a terminal they
// show while a long entry is copied.
constexpr uint64_t movePiece = 4 * 1024 * 1024;

// One buffer for every copy through this process, made on first use and kept: a fresh
// one per file would pay for first touching its pages again each time. Null when there
// is no memory for it.
char* copyBuffer() {
  static std::unique_ptr<char[]> buffer;
  if (!buffer) buffer.reset(new (std::nothrow) char[copyBufferSize]);
  return buffer.get();
}

constexpr int outputFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;

// Opens `name` in `directory` for writing, creating it when absent, and says whether this
// call created it. Succeeds only for a regular file, which is then empty: nothing else is
// ever written to or truncated. With `onlyNew`, a name that is already taken is left
// alone: the result is -1 with `taken` set.
int openOutput(int directory, const std::string& name, bool onlyNew, bool& created, bool& taken) {
  created = taken = false;
  if (directory < 0) return -1;
  // Most files are new, and a file this call creates is known to be an empty regular
  // file without asking. Anything already there (a link included) gives EEXIST.
  int fresh = openat(directory, name.c_str(), outputFlags | O_EXCL, 0666);
  created = fresh >= 0;
  if (fresh >= 0 || errno != EEXIST) return fresh;
  taken = onlyNew;
  if (onlyNew) return -1;
  // O_NONBLOCK: a FIFO without a reader fails at once instead of waiting for one.
  UniqueFd fd(openat(directory, name.c_str(), outputFlags | O_NONBLOCK, 0666));
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

// An output file written through a borrowed buffer that holds whole chunks. Chunks are
// read straight into the buffer, so no byte is copied on its way from the archive to the
// disk.
class OutputFile {
 public:
  OutputFile(int fd, char* buffer, uint32_t capacity)
      : fd_(fd), buffer_(buffer), capacity_(capacity) {}

  int descriptor() const { return fd_.get(); }

  // Room for the next chunk; what lands there counts only once committed.
  char* chunkSpace() { return buffer_ + used_; }

  // Takes the chunk of `count` bytes just placed in chunkSpace(). A full buffer is written
  // out before more chunks come; the last chunk waits for finish(). False when the disk
  // refused bytes.
  bool commitChunk(uint32_t count, bool moreFollow) {
    used_ += count;
    return used_ < capacity_ || !moreFollow || flush();
  }

  // Cuts what was written past `length` away and goes on writing there; nothing may be
  // buffered. False when the file refused.
  bool cutTo(uint64_t length) {
    return ftruncate(fd_.get(), static_cast<off_t>(length)) == 0 &&
           lseek(fd_.get(), static_cast<off_t>(length), SEEK_SET) >= 0;
  }

  // Writes what is buffered and closes the file; false when either fails.
  bool finish() {
    bool ok = flush();
    return ::close(fd_.release()) == 0 && ok;
  }

 private:
  bool flush() {
    bool ok = writeAll(fd_.get(), buffer_, used_);
    used_ = 0;
    return ok;
  }

  UniqueFd fd_;
  char* buffer_;
  uint32_t capacity_;
  uint32_t used_ = 0;
};

// Positions the source at the entry's first byte and returns that position. A position
// beyond 2^64-1 lies past the end of every archive: the entry's reads must fail or come
// up short there, never read from wherever the source happened to stand.
uint64_t seekToData(ByteSource& source, uint32_t dataBase, uint64_t offset) {
  uint64_t position = dataBase + offset;
  if (offset > UINT64_MAX - dataBase) position = UINT64_MAX;
  source.seek(position);
  return position;
}

void printMarks(uint64_t count) {
  static const std::string marks(chunkSize, '.');
  for (; count > marks.size(); count -= marks.size())
    std::cout.write(marks.data(), static_cast<std::streamsize>(marks.size()));
  std::cout.write(marks.data(), static_cast<std::streamsize>(count));
}

// What one copy reports as it goes: kept in its outcome and, when live, printed on the
// spot as well, so the marks of a long copy can show while it runs.
class Progress {
 public:
  Progress(FileOutcome& outcome, bool live) : outcome_(outcome), live_(live) {}

  FileOutcome& outcome() { return outcome_; }

  void notOpened() {
    if (live_) std::cout.put('o');
  }

  void opened(uint32_t count) {
    outcome_.opened = true;
    if (live_) std::cout << '(' << count << ") ";
  }

  void chunks(uint64_t count) {
    outcome_.marks += count;
    if (!live_) return;
    printMarks(count);
    flushMarksIfDue();
  }

  void stop(char mark) {
    outcome_.stop = mark;
    if (live_) std::cout.put(mark);
  }

 private:
  FileOutcome& outcome_;
  bool live_;
};

// Copies `count` bytes chunk by chunk, printing one mark per chunk; the stop marks ">"
// and "<" end the copy. Returns true when every byte was copied.
bool copyChunks(ByteSource& source, uint32_t count, OutputFile& out, Progress& progress) {
  uint32_t remaining = count;
  while (remaining != 0) {
    uint32_t n = std::min(remaining, chunkSize);
    uint32_t got = 0;
    if (!source.read(out.chunkSpace(), n, got) || got != n) {
      progress.stop('>');
      return false;
    }
    if (!out.commitChunk(n, remaining > n)) {
      progress.stop('<');
      return false;
    }
    remaining -= n;
    progress.chunks(1);
  }
  return true;
}

// Lets the source move the entry's `count` bytes into `out` as far as it will (see
// ByteSource::copyTo), printing one mark per chunk moved whole (the last, shorter chunk
// included once every byte is there). Returns the bytes moved.
uint64_t moveWhole(ByteSource& source, uint32_t count, OutputFile& out, Progress& progress) {
  uint64_t moved = 0;
  uint64_t marked = 0;
  while (moved < count) {
    uint64_t piece = std::min<uint64_t>(count - moved, movePiece);
    uint64_t step = source.copyTo(out.descriptor(), piece);
    moved += step;
    uint64_t chunks = moved == count ? chunksOf(count) : moved / chunkSize;
    progress.chunks(chunks - marked);
    marked = chunks;
    if (step < piece) break;
  }
  return moved;
}

// Copies the entry of `count` bytes at `position`, where the source stands, with the
// marks and the file the chunked copy gives. The source moves what it can; the chunks
// after the last whole one it moved go through the copy buffer, which then meets any
// end, read error or full disk just as the chunked copy would.
bool copyEntry(ByteSource& source, uint64_t position, uint32_t count, OutputFile& out,
               Progress& progress) {
  uint64_t left = 0;
  uint32_t done = 0;
  if (count != 0 && source.bytesLeft(left) && left >= count) {
    uint64_t moved = moveWhole(source, count, out, progress);
    if (moved == count) return true;
    done = static_cast<uint32_t>(moved / chunkSize * chunkSize);
    if (done != moved) {
      if (!out.cutTo(done)) {
        progress.stop('<');
        return false;
      }
      source.seek(position + done);
    }
  }
  return copyChunks(source, count - done, out, progress);
}

// Copies `task` through `buffer` (none: the file cannot be made), reporting to
// `progress`; see copyFile.
void copyWith(ByteSource& source, uint32_t dataBase, char* buffer, const FileTask& task,
              bool onlyNew, Progress& progress) {
  FileOutcome& outcome = progress.outcome();
  uint64_t position = seekToData(source, dataBase, task.start);
  int fd = buffer
               ? openOutput(task.directory, task.name, onlyNew, outcome.createdNew, outcome.taken)
               : -1;
  if (fd < 0) {
    progress.notOpened();
    return;
  }
  progress.opened(task.count);
  OutputFile out(fd, buffer, copyBufferSize);
  outcome.ok = copyEntry(source, position, task.count, out, progress);
  // Buffered writes can hide a full disk until the end, so the end decides too.
  if (!out.finish() && outcome.ok) {
    progress.stop('<');
    outcome.ok = false;
  }
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

FileTask fileTask(int directory, std::string name, std::string path, const JsonValue& offset,
                  const JsonValue& size) {
  return {directory, std::move(name), std::move(path), offsetFromText(offset), countFromSize(size)};
}

FileOutcome copyFile(ByteSource& source, uint32_t dataBase, char* buffer, const FileTask& task,
                     bool onlyNew) {
  FileOutcome outcome;
  Progress progress(outcome, false);
  copyWith(source, dataBase, buffer, task, onlyNew, progress);
  return outcome;
}

bool printFileLine(const FileTask& task, const FileOutcome& outcome) {
  std::cout << "Extracting ";
  printName(task.path);
  if (!outcome.opened) {
    std::cout << " o";
    return finishLine(false);
  }
  std::cout << " (" << task.count << ") ";
  printMarks(outcome.marks);
  if (outcome.stop != 0) std::cout.put(outcome.stop);
  return finishLine(outcome.ok);
}

void printUncreatedFile(const std::string& path) {
  printFileLine(FileTask{-1, {}, path, 0, 0}, FileOutcome());
}

bool extractFile(ArchiveContext& context, int directory, const std::string& name,
                 const std::string& path, const JsonValue& offset, const JsonValue& size) {
  FileTask task = fileTask(directory, name, path, offset, size);
  std::cout << "Extracting ";
  printName(path);
  std::cout << ' ';
  FileOutcome outcome;
  Progress progress(outcome, true);
  copyWith(context.source, context.dataBase, copyBuffer(), task, false, progress);
  return finishLine(outcome.ok);
}

}  // namespace tolvex
