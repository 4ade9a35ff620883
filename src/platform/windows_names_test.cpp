#include "platform/windows_names.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvex {
namespace {

using namespace std::string_literals;

// `count` times an emoji: two UTF-16 code units each.
std::string repeatEmoji(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text += "\xF0\x9F\x98\x80";
  return text;
}

TEST(IsWindowsFileName, RefusesWhatWindowsWouldMisread) {
  struct Case {
    std::string name;
    bool taken;
  };
  const Case cases[] = {
      {"plain.txt", true},
      {".hidden", true},
      {"a b", true},
      {"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", true},  // é, 中, an emoji
      {"CONSOLE", true},
      {"con-fig", true},
      {"COM0", true},
      {"COM10", true},
      {"LPT", true},
      {"nul.txt.bak", false},
      {"", false},
      {"a:b", false},
      {"c:", false},
      {"file.txt:stream", false},
      {"a<b", false},
      {"a>b", false},
      {"a\"b", false},
      {"a|b", false},
      {"a?b", false},
      {"a*b", false},
      {"a/b", false},
      {"a\\b", false},
      {"tab\tname", false},
      {"\x01", false},
      {"a\0b"s, false},
      {"\x1F", false},
      {"end.", false},
      {"end ", false},
      {".. ", false},
      {"...", false},
      {"CON", false},
      {"con", false},
      {"Prn.log", false},
      {"aux", false},
      {"NUL.tar.gz", false},
      {"nul .txt", false},
      {"CON .log", false},
      {"com1", false},
      {"Com1.js", false},
      {"COM9", false},
      {"lpt5.txt", false},
      {"LPT\xC2\xB9", false},  // superscript one
      {"com\xC2\xB3.x", false},
      {"\xC3", false},              // a lead byte alone
      {"\xC0\xAF", false},          // an overlong "/"
      {"\xED\xA0\x80", false},      // a surrogate
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xFF", false},
      {std::string(255, 'x'), true},
      {std::string(256, 'x'), false},
      {repeatEmoji(127) + "x", true},  // 254 + 1 code units
      {repeatEmoji(128), false},       // 256 code units in 512 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.taken, isWindowsFileName(c.name));
  }
}

// Reparse points cannot be made here, nor under Wine (it follows Unix links as if they were
// not there): the rule that refuses them is checked on the attributes Windows reports.
TEST(WindowsNodeKind, RefusesLinksAndDevicesButNotDataInAFilter) {
  constexpr uint32_t reparse = 0x400;   // FILE_ATTRIBUTE_REPARSE_POINT
  constexpr uint32_t directory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
  struct Case {
    const char* name;
    uint32_t attributes;
    uint32_t tag;
    NodeKind kind;
  };
  const Case cases[] = {
      {"file", 0x20 /* FILE_ATTRIBUTE_ARCHIVE */, 0, NodeKind::RegularFile},
      {"directory", directory, 0, NodeKind::Directory},
      {"symbolic link to a file", reparse, 0xA000000C, NodeKind::Other},
      {"symbolic link to a directory", reparse | directory, 0xA000000C, NodeKind::Other},
      {"junction", reparse | directory, 0xA0000003, NodeKind::Other},
      {"a Linux link made by WSL", reparse, 0xA000001D, NodeKind::Other},
      {"socket", reparse, 0x80000023, NodeKind::Other},
      {"app alias", reparse, 0x8000001B, NodeKind::Other},
      {"unknown tag", reparse | directory, 0x00001234, NodeKind::Other},
      {"device", 0x40 /* FILE_ATTRIBUTE_DEVICE */, 0, NodeKind::Other},
      {"deduplicated file", reparse, 0x80000013, NodeKind::RegularFile},
      {"compressed system file", reparse, 0x80000017, NodeKind::RegularFile},
      {"file in the cloud", reparse, 0x9000001A, NodeKind::RegularFile},
      {"directory in the cloud", reparse | directory, 0x9000601A, NodeKind::Directory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.kind, windowsNodeKind(c.attributes, c.tag));
  }
}

}  // namespace
}  // namespace tolvex
