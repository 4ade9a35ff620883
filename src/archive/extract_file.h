#ifndef TOLVEX_ARCHIVE_EXTRACT_FILE_H_
#define TOLVEX_ARCHIVE_EXTRACT_FILE_H_

#include <cstdint>
#include <string>

namespace tolvex {

class ByteSource;
class FileSystem;
class Handle;

// The bytes of a file entry are copied, and its progress marks counted, in chunks of this
// many bytes (the last one shorter).
constexpr uint32_t chunkSize = 1024;

// A file entry taken out of the header: the file `name` of its directory, named `path` in
// its progress line, with its bytes at `start` in the data region, `count` bytes long.
struct FileTask {
  std::string name;
  std::string path;
  uint64_t start = 0;
  uint32_t count = 0;
};

// Told how a copy goes while it goes; called on the copying thread.
class CopyObserver {
 public:
  // The output file has been created (`made`), or could not be.
  virtual void created(bool made) = 0;
  // The output file holds the first `bytes` bytes of the entry now.
  virtual void holds(uint64_t bytes) = 0;
  // Asked before each piece: true when the copy must stop where it is.
  virtual bool shouldStop() = 0;
  // The process has no descriptor left for the output file. True when some may have been
  // freed since, and creating it is worth one more try.
  virtual bool descriptorsFreed() = 0;
  // The file system was full. True when room may have been made since: the copy then goes
  // on from where it stands (the file keeps what it holds), or creating it is tried again.
  virtual bool roomMade() = 0;

 protected:
  ~CopyObserver() = default;
};

// How a copy ended (and what its progress line shows for it, see ProgressLine).
enum class CopyEnd {
  Copied,         // every byte is in the file: "OK"
  NotCreated,     // the file could not be made: "o"
  Taken,          // not mayReplace, and the name was taken: nothing done
  NoDescriptors,  // too many files open to create it, even after descriptorsFreed(): nothing done
  ArchiveShort,   // the archive ended or failed first: ">"
  DiskRefused,    // the file took fewer bytes or could not be closed: "<"
  NoSpace,        // the file system was full, even after roomMade(): "<", or "o" when the
                  // file was not made
  Stopped,        // shouldStop() said so
};

struct CopyResult {
  CopyEnd end = CopyEnd::NotCreated;
  bool created = false;  // a file stands at the name that this copy made
  uint64_t held = 0;     // the bytes of the entry that the file holds
};

// Copies one file entry into the file `task.name` of `directory`, reading with `source`,
// whose data region starts at `dataBase`. The file is always a new one: when the name is
// taken by a regular file and `mayReplace` holds, that file's name is removed first (a
// file linked from elsewhere, or the archive itself, is never written to); anything else
// at the name (a link, a directory, a FIFO) is left alone and the file is not created.
// Bytes are copied in whole chunks (chunkSize; the last one shorter): when the archive runs
// short, the file keeps the whole chunks before the one that could not be read. Reports
// to `observer` as it goes and prints nothing. Safe to run on several threads at once for
// different files, each with its own source.
CopyResult extractFile(FileSystem& files, ByteSource& source, uint32_t dataBase,
                       const Handle& directory, const FileTask& task, bool mayReplace,
                       CopyObserver& observer);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_EXTRACT_FILE_H_
