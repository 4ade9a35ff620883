#include "archive/stream_spool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "archive/header_prefix.h"

namespace tolvex {
namespace {

// The only memory a copy takes: large enough to drain a full pipe in one read, small
// enough to be nothing next to the archive.
constexpr size_t bufferSize = 256 * 1024;

// Waits for bytes and reads up to `count` of them: the bytes read, 0 at the end of the
// stream, or -1 on an error.
ssize_t readSome(int in, char* buffer, size_t count) {
  for (;;) {
    ssize_t n = ::read(in, buffer, count);
    if (n >= 0 || errno != EINTR) return n;
    if (interrupted()) return -1;
  }
}

bool writeAll(int out, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = ::write(out, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool readsAtPositions(int fd) {
  // A pipe, a FIFO and a socket refuse any seek (ESPIPE), and so do terminals; asking for
  // the current position moves nothing.
  return ::lseek(fd, 0, SEEK_CUR) >= 0;
}

SpoolResult spoolStream(int in, Handle& copy) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferSize]);
  if (!buffer) return SpoolResult::Failed;
  // The prefix is checked as soon as it is in: a stream that is not an archive is left
  // unread, however long it would run (`yes` never ends), and nothing is created for it.
  size_t held = 0;
  while (held < prefixSize) {
    ssize_t n = readSome(in, buffer.get() + held, bufferSize - held);
    if (n < 0) return SpoolResult::Failed;
    if (n == 0) return SpoolResult::NotAnArchive;
    held += static_cast<size_t>(n);
  }
  if (!isArchivePrefix(reinterpret_cast<const unsigned char*>(buffer.get())))
    return SpoolResult::NotAnArchive;

  Handle file = createNamelessFile();
  if (!file.isOpen()) return SpoolResult::Failed;
  for (;;) {
    if (interrupted() || !writeAll(static_cast<int>(file.value()), buffer.get(), held))
      return SpoolResult::Failed;
    ssize_t n = readSome(in, buffer.get(), bufferSize);
    if (n < 0) return SpoolResult::Failed;
    if (n == 0) break;
    held = static_cast<size_t>(n);
  }
  copy = std::move(file);
  return SpoolResult::Copied;
}

Handle createNamelessFile([[maybe_unused]] bool tryTmpfile) {
#ifdef O_TMPFILE
  // O_EXCL: the file can never be given a name later.
  if (tryTmpfile) {
    int fd = ::open(".", O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    // Some file systems and older kernels have no such files: the portable way follows.
    if (fd >= 0) return Handle(fd);
  }
#endif
  // mkstemp creates exclusively, so an existing file of that name is never opened.
  char name[] = ".tolvex-stream-XXXXXX";
  int fd = ::mkstemp(name);
  if (fd < 0) return Handle();
  Handle file(fd);
  if (::unlink(name) != 0) return Handle();
  return file;
}

}  // namespace tolvex
