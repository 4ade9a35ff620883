#include "archive/progress_line.h"

#include <charconv>
#include <string_view>

#include "archive/extract_file.h"
#include "console/console.h"

namespace tolvex {
namespace {

// What stops the marks of a copy that ended at `result` short of its end: none, or the
// mark that says why.
char stopMark(const CopyResult& result) {
  if (result.end == CopyEnd::ArchiveShort) return '>';
  if (result.end == CopyEnd::DiskRefused || (result.end == CopyEnd::NoSpace && result.created))
    return '<';
  return '\0';
}

void printCount(uint32_t count) {
  char digits[16];
  auto written = std::to_chars(digits, digits + sizeof digits, count);
  printText("(");
  printText(std::string_view(digits, static_cast<size_t>(written.ptr - digits)));
  printText(") ");
}

}  // namespace

uint64_t marksFor(uint64_t held, uint32_t count) {
  if (held >= count) return (uint64_t(count) + chunkSize - 1) / chunkSize;
  return held / chunkSize;
}

void ProgressLine::show(const CopyResult& result, bool done) {
  if (ended_) return;
  if (!headShown_) {
    printText("Extracting ");
    printName(path_);
    printText(" ");
    headShown_ = true;
  }
  if (!sizeShown_ && (result.created || done)) {
    if (result.created)
      printCount(count_);
    else
      printText("o");
    sizeShown_ = true;
  }
  uint64_t marks = marksFor(result.held, count_);
  if (marks > marksShown_) {
    printMarks(marks - marksShown_);
    marksShown_ = marks;
  }
  if (!done) return;
  if (char mark = stopMark(result)) printMarks(1, mark);
  printText(result.end == CopyEnd::Copied ? " OK" : " NG");
  endLineLater();
  ended_ = true;
}

void ProgressLine::cut() {
  if (!headShown_ || ended_) return;
  endLine();
  ended_ = true;
}

}  // namespace tolvex
