#ifndef TOLVEX_CLI_DRIVER_H_
#define TOLVEX_CLI_DRIVER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace tolvex {

// The banner's text, its first line on every run.
extern const char bannerText[];
// The line printed instead of anything else when no archive is named.
extern const char usageText[];

// Prints the program's lines for the command line `arguments` (the program's own name
// excluded): the banner, an empty line, then the usage line when there are no arguments, or
// for each argument in order its name line and everything its archive's processing prints.
// Stops after the archive during which the program was interrupted. Everything printed has
// reached standard output when it returns. The program lets each extraction choose how many
// threads make its entries; a benchmark may fix that number with `copyThreads` (not 0).
void runCommandLine(const std::vector<std::string>& arguments, size_t copyThreads = 0);

// Prints one line: the final component of `path`, the bytes after its last '/' or '\'
// (all of `path` when it has neither).
void printArchiveName(const std::string& path);

// Opens the file named by `path` for binary reading and extracts it as an archive. A path
// that cannot be opened or names a directory prints "Error: Cannot open archive." and
// nothing is created for it. A file that can only be read in order (a pipe, a FIFO, a
// terminal) is first read to its end into a nameless file in the current directory and
// extracted from there, with the same lines as a regular file holding the same bytes;
// when that copy cannot be made whole, "Error: Cannot open archive." and nothing more.
// Opening a FIFO waits for a writer. The file, and the copy, are closed as soon as the
// processing returns. `copyThreads` as for runCommandLine.
void openArchive(const std::string& path, size_t copyThreads = 0);

}  // namespace tolvex

#endif  // TOLVEX_CLI_DRIVER_H_
