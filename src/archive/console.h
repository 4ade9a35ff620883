#ifndef TOLVEX_ARCHIVE_CONSOLE_H_
#define TOLVEX_ARCHIVE_CONSOLE_H_

#include <string>
#include <string_view>

namespace tolvex {

// Everything tolvex prints goes to std::cout through these helpers or as plain pieces
// written to std::cout before a printLine ends the line.

// Writes `text`, a newline, and flushes std::cout.
void printLine(std::string_view text);

// Writes a name or path taken from an archive or the command line: as terminalText shows
// it when standard output is a terminal, so that a hostile name cannot steer the terminal;
// otherwise every byte unchanged.
void printName(std::string_view name);

// What a terminal is shown of `name`. Valid UTF-8 is kept as it is, except for controls: a
// C0 control (0x00-0x1F), DEL (0x7F) and a C1 control (U+0080-U+009F, the bytes C2 80 to
// C2 9F) each become one '?'. Each maximal subpart of an ill-formed sequence becomes one
// '?' as well, as decoders replace it with U+FFFD: a byte that cannot start a sequence
// (80-C1, F5-FF) is one subpart, and so is a lead byte together with the continuation
// bytes after it that still fit a valid sequence. Overlong forms (C0 80, E0 80 80), the
// surrogates (ED A0 80 to ED BF BF) and code points above U+10FFFF are not valid.
std::string terminalText(std::string_view name);

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
