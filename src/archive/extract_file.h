#ifndef TOLVEX_ARCHIVE_EXTRACT_FILE_H_
#define TOLVEX_ARCHIVE_EXTRACT_FILE_H_

#include <cstdint>
#include <string>

namespace tolvex {

class ByteSource;
struct ArchiveContext;
class JsonValue;

// Copies one file entry into the file `name` of the open directory `directory` and prints
// its whole progress line, naming the file by `path` (the joined path from the output
// root). `name` must be one plain path component; `directory` may be -1 when the
// directory could not be made, and the file then cannot be created either. The line is
// "Extracting ", path, " " and then "o" when the file could not be created (nothing else
// is read or written), or "(", the byte count, ") ", one "." per chunk of up to 1024
// bytes, ">" when the archive failed or ran short, "<" when the disk did not take every
// byte (a failed close included); then " ", and "OK" or "NG". Returns true exactly for
// "OK". An existing regular file is truncated and rewritten; a symbolic link, a FIFO, a
// device or a directory in its place is left alone and the entry fails with "o".
// `offset` must be a JsonString and `size` a JsonNumber, borrowed for the call; the
// output file is owned only during the call.
bool extractFile(ArchiveContext& context, int directory, const std::string& name,
                 const std::string& path, const JsonValue& offset, const JsonValue& size);

// Chunks that pass through this process gather in a copy buffer of this many bytes and go
// to the disk a buffer at a time, so a chunk is never a system call of its own.
constexpr uint32_t copyBufferSize = 256 * 1024;

// A file entry taken out of the header, so that it can be copied away from the walk: the
// file `name` in the open directory `directory` (borrowed; -1 when the directory could
// not be made), named `path` in its line, with its data at `start` in the data region and
// `count` bytes long.
struct FileTask {
  int directory;
  std::string name;
  std::string path;
  uint64_t start;
  uint32_t count;
};

// A FileTask for the entry with the members `offset` (a JsonString) and `size` (a
// JsonNumber), read as extractFile reads them.
FileTask fileTask(int directory, std::string name, std::string path, const JsonValue& offset,
                  const JsonValue& size);

// What copying a file entry came to: enough to print its line afterwards, and to take the
// file away again.
struct FileOutcome {
  bool opened = false;      // the output file was opened; "o" otherwise
  bool createdNew = false;  // and the copy created it: nothing was there before
  bool taken = false;       // left alone because the name was taken (onlyNew)
  uint64_t marks = 0;       // chunks copied whole, one "." each
  char stop = 0;            // '>' or '<' when the copy stopped short, else 0
  bool ok = false;          // the verdict
};

// Copies `task` as extractFile would, reading with `source` (whose data region starts at
// `dataBase`) through `buffer` of copyBufferSize bytes, and prints nothing. With
// `onlyNew`, a name already taken is not touched (outcome.taken). Safe to run on several
// threads at once for different files, each with its own source and buffer.
FileOutcome copyFile(ByteSource& source, uint32_t dataBase, char* buffer, const FileTask& task,
                     bool onlyNew);

// Prints the whole progress line of a copy that ended with `outcome`; the same bytes as
// extractFile prints for it. Returns outcome.ok.
bool printFileLine(const FileTask& task, const FileOutcome& outcome);

// Prints the progress line of a file entry that cannot be created: "Extracting ", path,
// " ", "o", " ", "NG".
void printUncreatedFile(const std::string& path);

// The entry's offset into the data region: the text of the JsonString `offset` up to its
// first NUL, read as a base-10 number the way strtoull reads it (leading white space and
// one sign accepted, digits up to the first other byte, none gives 0, too large gives
// 2^64-1, "-" negates modulo 2^64).
uint64_t offsetFromText(const JsonValue& offset);

// The entry's byte count from the JsonNumber `size`: the low 32 bits of the 64-bit
// integer it holds; a Real is rounded down first, and one outside the signed 64-bit range
// (infinities and NaN included) gives 0.
uint32_t countFromSize(const JsonValue& size);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_EXTRACT_FILE_H_
