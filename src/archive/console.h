#ifndef TOLVEX_ARCHIVE_CONSOLE_H_
#define TOLVEX_ARCHIVE_CONSOLE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvex {

// Everything tolvex prints goes to standard output through the console, as one stream of
// bytes: lines, or pieces of a line ended later by endLine(). Pieces may come from either
// thread of a run; whoever prints decides their order. Off a terminal each line is written
// as soon as it ends, and not before. On a terminal, what is printed gathers for up to
// about a tenth of a second and is then written at once, so that the marks of a long copy
// show while it runs without a write for every mark. Safe to call from several threads.

// Writes `text` and ends the line.
void printLine(std::string_view text);

// A piece of the current line.
void printText(std::string_view text);
void printMarks(size_t count, char mark = '.');

// A name or path taken from an archive or the command line, as a piece of the current
// line: unchanged off a terminal, as terminalText() on one.
void printName(std::string_view name);

// Ends the current line.
void endLine();

// Writes what has gathered now. Called before anything that may take long, and at the end.
void flushOutput();

// On a terminal, writes what has gathered when the last write is a tenth of a second old
// or more. Called by whoever waits, so that a gathered piece does not wait with it.
void flushOutputIfDue();

// What a terminal is shown for `name`: every byte as it is, except that control bytes
// (0x00-0x1F and 0x7F) become '?', so that a hostile name cannot steer the terminal.
std::string terminalText(std::string_view name);

// Whether standard output counts as a terminal: asked once, on first use.
bool outputIsTerminal();

// Where the console's bytes go instead of standard output; for tests and fuzzing.
class ConsoleSink {
 public:
  virtual void write(const char* bytes, size_t count) = 0;

 protected:
  ~ConsoleSink() = default;
};

// Sends the console's bytes to `sink` (null: standard output again), seen as a terminal
// when `asTerminal`, after writing what had gathered for the previous one.
void setConsoleSink(ConsoleSink* sink, bool asTerminal);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_CONSOLE_H_
