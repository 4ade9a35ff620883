#ifndef TOLVEX_ARCHIVE_PROCESS_ARCHIVE_H_
#define TOLVEX_ARCHIVE_PROCESS_ARCHIVE_H_

#include <cstddef>

namespace tolvex {

class ByteSource;
class CopySources;
class FileSystem;

// The directory, relative to the working directory, that every archive is extracted into.
constexpr char OUTPUT_ROOT[] = "tolvex";

// Extracts one whole archive from `source` (borrowed for the call) into OUTPUT_ROOT. Rewinds
// the source, reads and checks the prefix, parses the header and recreates the tree of its
// top-level "files" member. Prints every line after the archive's name: the progress lines,
// then "Error: Header malformed." when the header is not one JSON value followed only by
// whitespace, or "Error: Extraction failed." when a file failed. A source that is not an
// archive, or whose header is empty, prints nothing. Owns the parsed tree for the call only.
// `copySources`, when given, read the same archive for the threads that copy files ahead
// of the walk, as many as the extraction chooses (or `copyThreads`, when not 0: a count
// fixed for tests and benchmarks); what is printed and made is the same either way. When
// the program is interrupted, the extraction winds down and nothing more is printed for the
// archive. The tree is made through `files`, the system's own file system unless given.
void processArchive(ByteSource& source, CopySources* copySources = nullptr);
void processArchive(ByteSource& source, CopySources* copySources, FileSystem& files,
                    size_t copyThreads = 0);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_PROCESS_ARCHIVE_H_
