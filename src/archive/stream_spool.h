#ifndef TOLVEX_ARCHIVE_STREAM_SPOOL_H_
#define TOLVEX_ARCHIVE_STREAM_SPOOL_H_

#include "platform/platform.h"

namespace tolvex {

// Extraction reads an archive at positions. An archive that hands out its bytes only once
// and in order (a pipe, a FIFO, a terminal, a socket) is therefore first copied, in one
// pass, into a file in the current directory that no name reaches: it is read like any
// regular file, and it is gone when its descriptor is closed.

// What spoolStream made of a stream.
enum class SpoolResult {
  // `copy` holds every byte the stream gave, up to its end.
  Copied,
  // The stream ended before 16 bytes, or its first 16 bytes are not an archive's prefix
  // (isArchivePrefix). Nothing was created, and the stream was read no further than the
  // read that brought the 16th byte.
  NotAnArchive,
  // A read failed, or the copy could not be created (an unwritable directory) or did not
  // take every byte (a full disk, a size limit), or the program was interrupted. Nothing
  // is left behind.
  Failed,
};

// Reads the stream `in` from where it stands to its end into a new nameless file in the
// current directory (createNamelessFile), checking the prefix as soon as it has arrived.
// On Copied, `copy` holds that file, open for reading and writing; otherwise `copy` is left
// as it was. Takes one buffer of fixed size, whatever the stream's length. Waits for the
// stream as long as it has no end.
SpoolResult spoolStream(const Handle& in, Handle& copy);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_STREAM_SPOOL_H_
