#include "archive/byte_source.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <limits>

namespace tolvex {

bool FileByteSource::read(char* buffer, uint32_t count, uint32_t& got) {
  // After a failed seek the stream stands at some earlier position; reading there would
  // hand out the wrong bytes as if they were right.
  if (seekFailed_) return false;
  if (std::feof(stream_)) {
    got = 0;
    return true;
  }
  size_t delivered = std::fread(buffer, 1, count, stream_);
  if (delivered < count && !std::feof(stream_) && std::ferror(stream_)) return false;
  got = static_cast<uint32_t>(delivered);
  return true;
}

void FileByteSource::seek(uint64_t position) {
  seekFailed_ = position > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
                fseeko(stream_, static_cast<off_t>(position), SEEK_SET) != 0;
}

bool FileByteSource::bytesLeft(uint64_t& count) {
  struct stat status;
  if (seekFailed_ || fstat(fileno(stream_), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  off_t position = ftello(stream_);
  if (position < 0) return false;
  count = status.st_size > position ? static_cast<uint64_t>(status.st_size - position) : 0;
  return true;
}

}  // namespace tolvex
