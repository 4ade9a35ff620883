#ifndef TOLVEX_TESTS_PROMISE_CHECK_H_
#define TOLVEX_TESTS_PROMISE_CHECK_H_

#include <string>
#include <vector>

#include "archive_builder.h"
#include "disk_tree.h"

namespace tolvex {

// One run of tolvex, however it ended, as the README's promises judge it.
struct RunRecord {
  // What the run printed first: the banner and its empty line, or nothing for a run of
  // the archive processing alone.
  std::string start;
  // Each argument in command-line order: its name line and the entries of its archive, as
  // the builder that made it knows them.
  struct Argument {
    std::string name;
    std::vector<ArchiveBuilder::Entry> entries;
  };
  std::vector<Argument> arguments;
  // The working directory before and after the run (snapshotTree(".")).
  TreeSnapshot before;
  TreeSnapshot after;
  std::string output;
  // False when writes to standard output were made to fail: lines may then be missing,
  // and only what is below ./tolvex and outside it is judged.
  bool outputComplete = true;
};

// "" when the run kept every promise; otherwise one line per fault found:
// - the output is the start and, with no argument, the usage line; otherwise, for each argument its
// name line and one of: nothing (not
//   an archive, or one that could not be read), "Error: Cannot open archive.", "Error:
//   Header malformed.", or progress lines for the archive's files in walk order, each
//   "OK" but the last, which may end in "NG" and then "Error: Extraction failed." follows
//   (as it does after "OK" lines that stop short of the last file);
// - a file whose last line ends in "OK" holds exactly the archive's bytes; one whose line
//   ends in "NG" after marks holds the first bytes of the entry, one mark per whole piece
//   of 1024 it holds (all its marks when it holds every byte); "o NG" makes no new file;
// - every file below ./tolvex has a line, or was there before and is unchanged; every
//   directory made there belongs to an entry no later than the last line of its archive;
// - nothing outside ./tolvex changed (no temporary file left).
std::string checkPromises(const RunRecord& run);

// The output of a run in which every archive of `run` extracts completely.
std::string completeOutput(const RunRecord& run);

}  // namespace tolvex

#endif  // TOLVEX_TESTS_PROMISE_CHECK_H_
