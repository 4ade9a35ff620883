#ifndef TOLVEX_ARCHIVE_PROGRESS_LINE_H_
#define TOLVEX_ARCHIVE_PROGRESS_LINE_H_

#include <cstdint>
#include <string>

namespace tolvex {

struct CopyResult;

// The line a file entry prints: "Extracting <path> (<count>) <marks><stop> <verdict>", or
// "Extracting <path> o NG" when the file could not be made. It is printed in pieces, as the
// copy goes: each show() prints what is new since the one before, so that the marks of a
// long copy appear while it runs. The marks: one "." per chunk (chunkSize, 1024 bytes)
// that the file holds whole, and the last, shorter chunk once it is there; so a failed file
// shows one mark per whole chunk it holds. <stop> is ">" when the archive ran short, "<"
// when the disk did not take every byte, and nothing otherwise; the verdict is "OK" for a
// complete copy and "NG" for any other. Not thread-safe: its owner serialises the calls.
class ProgressLine {
 public:
  ProgressLine(std::string path, uint32_t count) : path_(std::move(path)), count_(count) {}

  // Shows the copy as it stands at `result`; with `done`, ends the line with its verdict,
  // to be written at the next flushOutputIfDue() (see console.h). A line ended stays so.
  void show(const CopyResult& result, bool done);
  // Ends a line that was begun where it stands, without a verdict (a copy that was
  // interrupted), and writes it now.
  void cut();

  bool begun() const { return headShown_; }
  bool ended() const { return ended_; }
  const std::string& path() const { return path_; }

 private:
  const std::string path_;
  const uint32_t count_;
  bool headShown_ = false;
  bool sizeShown_ = false;  // "(count) ", or "o"
  uint64_t marksShown_ = 0;
  bool ended_ = false;
};

// The marks of a line for a file of `count` bytes that holds the first `held` of them.
uint64_t marksFor(uint64_t held, uint32_t count);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_PROGRESS_LINE_H_
