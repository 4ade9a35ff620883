#ifndef TOLVEX_CONSOLE_CONSOLE_H_
#define TOLVEX_CONSOLE_CONSOLE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tolvex {

// Everything tolvex prints goes to standard output through the console, as one stream of
// bytes: lines, or pieces of a line ended later by endLine(). Pieces may come from either
// thread of a run; whoever prints decides their order. What is printed gathers for up to
// about a tenth of a second after the last write and is then written at once: on a
// terminal every piece, so that the marks of a long copy show while it runs; elsewhere
// (a file, a pipe) whole lines only. It is written when a piece is printed after that
// time, or when a waiting thread looks (flushOutputIfDue), or at once by flushOutput().
// Safe to call from several threads.

// Writes `text` and ends the line.
void printLine(std::string_view text);

// A piece of the current line.
void printText(std::string_view text);
void printMarks(size_t count, char mark = '.');

// A name or path taken from an archive or the command line, as a piece of the current
// line: unchanged off a terminal, as terminalText() (terminal_text.h) shows it on one.
void printName(std::string_view name);

// Ends the current line.
void endLine();
// Ends the current line without writing anything now: for a caller that holds a lock of
// its own and lets what is due out (flushOutputIfDue) once it has let go of it.
void endLineLater();

// Writes what has gathered now: everything on a terminal, whole lines elsewhere. Called
// before anything that may take long.
void flushOutput();

// Whatever is printed while one lives reaches standard output by the time it goes, on
// every way out of its scope; what remains at the program's exit is written then too.
// The program's lines are printed inside one, so that no path out of it can lose any.
class OutputScope {
 public:
  OutputScope() = default;
  OutputScope(const OutputScope&) = delete;
  OutputScope& operator=(const OutputScope&) = delete;
  ~OutputScope() { flushOutput(); }
};

// Writes what has gathered (as flushOutput does) when the last write is a tenth of a second
// old or more. Called by whoever waits, so that what was printed does not wait with it;
// cheap when nothing is to be written.
void flushOutputIfDue();

// True when flushOutputIfDue() would write now; takes no lock.
bool outputIsDue();

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

#endif  // TOLVEX_CONSOLE_CONSOLE_H_
