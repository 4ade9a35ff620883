#ifndef TOLVEX_ARCHIVE_PLATFORM_WINDOWS_H_
#define TOLVEX_ARCHIVE_PLATFORM_WINDOWS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/platform.h"

// The rules of the Windows platform that do not need Windows to be judged: how its text
// turns between UTF-8 and UTF-16, and what a node's attributes make of it. The Windows
// implementation of platform.h decides with them; its tests check them with inputs that
// no file system at hand can produce (reparse points, say).

namespace tolvex {
namespace windows {

// UTF-16 of `text`. Well-formed UTF-8 is decoded; so is a surrogate encoded on its own in
// three bytes (ED A0 80 to ED BF BF), which utf8FromWide() makes of a lone surrogate, so
// that any Windows name survives the trip to bytes and back. Each maximal ill-formed
// subpart becomes U+FFFD.
std::wstring wideFromUtf8(std::string_view text);

// UTF-8 of `wide`: a surrogate pair becomes one 4-byte sequence, a lone surrogate the
// 3-byte sequence of its own value (the one byte string a name holding one can have).
std::string utf8FromWide(std::wstring_view wide);

// How many bytes at the end of `text` begin a sequence that the bytes after them could
// still complete: 0 to 3. A writer keeps them for its next piece.
size_t incompleteTail(std::string_view text);

// What a node is, from its attributes and, when it is a reparse point, its tag (as
// FileAttributeTagInfo reports them): a link to a name elsewhere (a symbolic link, a
// junction, a mount point: any tag that is a name surrogate) is Other. So is a reparse
// point whose data only its own driver can serve (a socket, an app alias). The reparse
// points that stand in for data, such as files that are compressed, deduplicated or kept
// in the cloud, are what they hold: Directory or RegularFile.
NodeKind nodeKindOf(uint32_t attributes, uint32_t reparseTag);

}  // namespace windows
}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_PLATFORM_WINDOWS_H_
