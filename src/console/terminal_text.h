#ifndef TOLVEX_CONSOLE_TERMINAL_TEXT_H_
#define TOLVEX_CONSOLE_TERMINAL_TEXT_H_

#include <string>
#include <string_view>

namespace tolvex {

// What a terminal is shown of `name`, so that a hostile name cannot move the cursor or
// retitle the window. Valid UTF-8 is kept as it is, except for controls: a C0 control
// (0x00-0x1F), DEL (0x7F) and a C1 control (U+0080-U+009F, the bytes C2 80 to C2 9F) each
// become one '?'. Each maximal subpart of an ill-formed sequence becomes one '?' as well, as
// decoders replace it with U+FFFD (see decodeUtf8).
std::string terminalText(std::string_view name);

}  // namespace tolvex

#endif  // TOLVEX_CONSOLE_TERMINAL_TEXT_H_
