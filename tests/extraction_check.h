#ifndef TOLVEX_TESTS_EXTRACTION_CHECK_H_
#define TOLVEX_TESTS_EXTRACTION_CHECK_H_

#include <cstdint>
#include <string>

namespace tolvex {

// A progress line as printed: "Extracting <path> (<count>) <marks><stop> OK" or "... NG",
// the stop '>' when the archive ran short, '<' when the disk refused bytes; or
// "Extracting <path> o NG" when no file was made.
struct PrintedLine {
  std::string path;
  bool madeFile = false;
  uint64_t count = 0;
  uint64_t marks = 0;
  char stop = '\0';
  bool ok = false;
};

// False when `text` is no progress line.
bool parsePrintedLine(const std::string& text, PrintedLine& line);

// "" when a file that holds `held` bytes is what `line` claims: all of them for "OK", never
// more than its count, one mark per piece of 1024 bytes it holds (the last, shorter piece
// counting only when it holds every byte), whole pieces only when the archive ran short.
std::string claimOf(const PrintedLine& line, uint64_t held);

// Judges one extraction of the archive `archive`, whatever its bytes, by what holds for any
// input, without reading its header: `output` is what it printed after the archive's name
// line, and `root` the output root of the working directory, which did not exist before.
// - "Error: Header malformed." alone leaves no output root;
// - the progress lines are well formed, each path once and in walk order (keys in ascending
//   byte order, depth first), and only the last may fail ("NG"), followed then by
//   "Error: Extraction failed.", as it may follow a last "OK";
// - below the root there are only directories and regular files, and every file has a line
//   that made it: "OK" for one that holds all the bytes its line counts, marks then ">" or
//   "<" for one that holds fewer (one mark per whole piece of 1024 it holds, whole pieces
//   only when the archive ran short); "o NG" makes none. Its bytes are bytes of the
//   archive's data region, in the order they stand there;
// - after a failed file nothing made is left that comes after it in walk order.
// Returns "" when all holds, or a description of the first fault found.
std::string checkExtraction(const std::string& archive, const std::string& output,
                            const std::string& root);

}  // namespace tolvex

#endif  // TOLVEX_TESTS_EXTRACTION_CHECK_H_
