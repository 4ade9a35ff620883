#ifndef TOLVEX_PLATFORM_WINDOWS_NAMES_H_
#define TOLVEX_PLATFORM_WINDOWS_NAMES_H_

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

// What Windows would misread: names it would take for something else, and nodes that stand
// for something elsewhere. The same rules on every system, so that they are tested anywhere;
// the Windows platform decides with them.

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
bool isWindowsFileName(std::string_view name);

// What a node is, from its attributes and, when it is a reparse point, its tag (as
// FileAttributeTagInfo reports them): a link to a name elsewhere (a symbolic link, a
// junction, a mount point: any tag that is a name surrogate) is Other. So is a reparse
// point whose data only its own driver can serve (a socket, an app alias). The reparse
// points that stand in for data, such as files that are compressed, deduplicated or kept
// in the cloud, are what they hold: Directory or RegularFile.
NodeKind windowsNodeKind(uint32_t attributes, uint32_t reparseTag);

}  // namespace tolvex

#endif  // TOLVEX_PLATFORM_WINDOWS_NAMES_H_
