#ifndef TOLVEX_TESTS_EXTRACTION_CHECK_H_
#define TOLVEX_TESTS_EXTRACTION_CHECK_H_

#include <string>

namespace tolvex {

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
