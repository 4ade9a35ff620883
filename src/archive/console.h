#ifndef TOLVEX_ARCHIVE_CONSOLE_H_
#define TOLVEX_ARCHIVE_CONSOLE_H_

#include <string_view>

namespace tolvex {

// Everything tolvex prints goes to std::cout through these helpers or as plain pieces
// written to std::cout before a printLine ends the line.

// Writes `text`, a newline, and flushes std::cout.
void printLine(std::string_view text);

// Writes a name or path taken from an archive or the command line. When standard output is
// a terminal, control bytes (0x00-0x1F and 0x7F) are shown as '?' so that a hostile name
// cannot steer the terminal; otherwise every byte is written unchanged.
void printName(std::string_view name);

// Called after each progress mark: when standard output is a terminal, flushes std::cout if
// the last such flush is at least a tenth of a second old, so a long copy shows its marks
// while it runs. Does nothing otherwise.
void flushMarksIfDue();

// Whether standard output counts as a terminal: isatty(1), asked once on first use.
bool outputIsTerminal();

// Overrides the answer of outputIsTerminal(); for tests.
void setOutputIsTerminal(bool isTerminal);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_CONSOLE_H_
