#ifndef TOLVEX_ARCHIVE_EXTRACT_FILE_H_
#define TOLVEX_ARCHIVE_EXTRACT_FILE_H_

#include <cstdint>
#include <string>

namespace tolvex {

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
