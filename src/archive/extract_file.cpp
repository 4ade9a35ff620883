#include "archive/extract_file.h"

#include <algorithm>
#include <utility>

#include "archive/byte_source.h"
#include "platform/platform.h"

namespace tolvex {
namespace {

// Positions the source at the entry's first byte. A position beyond 2^64-1 lies past the
// end of every archive: the entry's reads must come up short there, never read from
// wherever the source happened to stand.
void seekToData(ByteSource& source, uint32_t dataBase, uint64_t offset) {
  source.seek(offset > UINT64_MAX - dataBase ? UINT64_MAX : dataBase + offset);
}

// Creates the output file, making room for it first when `mayReplace`; see extractFile.
FsStatus createOnce(FileSystem& files, const Handle& directory, const std::string& name,
                    bool mayReplace, Handle& file) {
  FsStatus status = files.createFile(directory, name, file);
  if (status != FsStatus::Exists || !mayReplace) return status;
  // A new file in place of the old one, rather than the old one rewritten: a hard link to
  // it from outside the output, or an archive being read from it, keeps its bytes.
  if (files.kindOf(directory, name) != NodeKind::RegularFile || !files.removeFile(directory, name))
    return FsStatus::Failed;
  status = files.createFile(directory, name, file);
  return status == FsStatus::Exists ? FsStatus::Failed : status;
}

// Creates the output file, trying once more when the observer has freed descriptors or
// made room since the first try failed for want of them.
FsStatus createOutput(FileSystem& files, const Handle& directory, const std::string& name,
                      bool mayReplace, CopyObserver& observer, Handle& file) {
  FsStatus status = createOnce(files, directory, name, mayReplace, file);
  if ((status == FsStatus::NoDescriptors && observer.descriptorsFreed()) ||
      (status == FsStatus::NoSpace && observer.roomMade()))
    status = createOnce(files, directory, name, mayReplace, file);
  return status;
}

// Writes all of `bytes` to `file`, telling `observer` what the file holds as it grows. A
// full file system ends it unless the observer makes room; the write then goes on with
// the bytes not yet taken.
FsStatus writePiece(FileSystem& files, const Handle& file, const char* bytes, uint32_t count,
                    CopyObserver& observer, uint64_t& held) {
  for (uint32_t done = 0; done < count;) {
    size_t written = 0;
    FsStatus status = files.write(file, bytes + done, count - done, written);
    done += static_cast<uint32_t>(written);
    held += written;
    if (written > 0) observer.holds(held);
    if (status == FsStatus::NoSpace && observer.roomMade()) continue;
    if (status != FsStatus::Ok) return status;
  }
  return FsStatus::Ok;
}

// Copies the entry's bytes from where the source stands into `file`, a piece of up to
// viewLimit bytes at a time straight from the source's memory, and tells `observer` after
// every piece how much the file holds.
CopyEnd copyBytes(FileSystem& files, ByteSource& source, const Handle& file, uint32_t count,
                  CopyObserver& observer, uint64_t& held) {
  while (held < count) {
    if (observer.shouldStop()) return CopyEnd::Stopped;
    uint32_t wanted =
        static_cast<uint32_t>(std::min<uint64_t>(count - held, ByteSource::viewLimit));
    const char* data = nullptr;
    uint32_t got = source.view(wanted, data);
    // A piece that comes up short keeps only its whole chunks, as a copy chunk by chunk
    // would have stopped at the first chunk it could not read.
    uint32_t keep = got == wanted ? got : got / chunkSize * chunkSize;
    FsStatus status = writePiece(files, file, data, keep, observer, held);
    if (status != FsStatus::Ok)
      return status == FsStatus::NoSpace ? CopyEnd::NoSpace : CopyEnd::DiskRefused;
    if (got < wanted) return CopyEnd::ArchiveShort;
  }
  return CopyEnd::Copied;
}

}  // namespace

CopyResult extractFile(FileSystem& files, ByteSource& source, uint32_t dataBase,
                       const Handle& directory, const FileTask& task, bool mayReplace,
                       CopyObserver& observer) {
  CopyResult result;
  Handle file;
  FsStatus status = directory.isOpen()
                        ? createOutput(files, directory, task.name, mayReplace, observer, file)
                        : FsStatus::Failed;
  if (status == FsStatus::Exists) {
    result.end = CopyEnd::Taken;
    return result;
  }
  if (status == FsStatus::NoDescriptors) {
    result.end = CopyEnd::NoDescriptors;
    return result;
  }
  observer.created(status == FsStatus::Ok);
  if (status != FsStatus::Ok) {
    result.end = status == FsStatus::NoSpace ? CopyEnd::NoSpace : CopyEnd::NotCreated;
    return result;
  }
  result.created = true;
  seekToData(source, dataBase, task.start);
  result.end = copyBytes(files, source, file, task.count, observer, result.held);
  // Some file systems report a write that could not be kept only when the file is closed.
  if (!files.close(file) && result.end == CopyEnd::Copied) result.end = CopyEnd::DiskRefused;
  return result;
}

}  // namespace tolvex
