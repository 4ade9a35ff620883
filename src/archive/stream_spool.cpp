#include "archive/stream_spool.h"

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

}  // namespace

SpoolResult spoolStream(const Handle& in, Handle& copy) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferSize]);
  if (!buffer) return SpoolResult::Failed;
  // The prefix is checked as soon as it is in: a stream that is not an archive is left
  // unread, however long it would run (`yes` never ends), and nothing is created for it.
  size_t held = 0;
  while (held < prefixSize) {
    int64_t n = readStream(in, buffer.get() + held, bufferSize - held);
    if (n < 0) return SpoolResult::Failed;
    if (n == 0) return SpoolResult::NotAnArchive;
    held += static_cast<size_t>(n);
  }
  if (!isArchivePrefix(reinterpret_cast<const unsigned char*>(buffer.get())))
    return SpoolResult::NotAnArchive;

  Handle file = createNamelessFile();
  if (!file.isOpen()) return SpoolResult::Failed;
  for (;;) {
    if (interrupted() || !writeAll(file, buffer.get(), held)) return SpoolResult::Failed;
    int64_t n = readStream(in, buffer.get(), bufferSize);
    if (n < 0) return SpoolResult::Failed;
    if (n == 0) break;
    held = static_cast<size_t>(n);
  }
  copy = std::move(file);
  return SpoolResult::Copied;
}

}  // namespace tolvex
