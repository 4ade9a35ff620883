#ifndef TOLVEX_ARCHIVE_WINDOWS_NAMES_H_
#define TOLVEX_ARCHIVE_WINDOWS_NAMES_H_

#include <string_view>

namespace tolvex {

// True when Windows takes `name`, one path component in UTF-8, as the name of a file of
// its own, and false for every name it would misread or refuse:
// - bytes that are not well-formed UTF-8 (no UTF-16 name can be made of them);
// - the bytes 0 to 31 and any of < > : " / \ | ? * (":" opens an alternate data stream
//   or names a drive);
// - a name ending in "." or " ", which Windows strips (".. " would mean "..");
// - a device name, in any case and with any extension, spaces before it included: CON,
//   PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 (with the digits 1 to 9, or the
//   superscripts 1, 2 and 3), such as "nul.txt", "Com1.js" or "CON .log";
// - more than 255 UTF-16 code units, the limit of the file systems Windows uses;
// - the empty name.
// The same rule on every system, so that it can be tested anywhere.
bool isWindowsFileName(std::string_view name);

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_WINDOWS_NAMES_H_
