#include "extraction_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/extract_tree.h"
#include "archive_builder.h"
#include "disk_tree.h"
#include "json/json_parser.h"
#include "json/json_value.h"
#include "test_files.h"

namespace tolvex {
namespace {

constexpr uint64_t chunkSize = 1024;

uint32_t fieldAt(const std::string& bytes, size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The header text and data region start of `archive` as the format defines them, worked
// out here on its own; false when the archive has no readable non-empty header.
bool headerOf(const std::string& archive, std::string& text, uint64_t& dataBase) {
  if (archive.size() < 16) return false;
  uint64_t payloadSize = fieldAt(archive, 0), blockSize = fieldAt(archive, 4),
           headerPayloadSize = fieldAt(archive, 8), textLength = fieldAt(archive, 12);
  uint64_t padded = (textLength + 3) / 4 * 4;
  if (payloadSize != 4 || headerPayloadSize != padded + 4 || blockSize != headerPayloadSize + 4 ||
      blockSize + 8 > UINT32_MAX || textLength > archive.size() - 16 || textLength == 0)
    return false;
  text = archive.substr(16, textLength);
  dataBase = blockSize + 8;
  return true;
}

bool isFileEntry(const JsonValue& entry) {
  const auto& object = static_cast<const JsonObject&>(entry);
  return object.member("offset").kind == JsonKind::String &&
         object.member("size").kind == JsonKind::Number;
}

class Checker {
 public:
  Checker(const std::string& archive, uint64_t dataBase) : archive_(archive), dataBase_(dataBase) {}

  // Checks the directory open as `directory` against the directory node `node`.
  std::string directory(int directory, const std::string& path, const JsonObject& node) {
    std::vector<std::string> names;
    if (!listDirectory(directory, names)) return "cannot list " + path;
    for (const std::string& name : names) {
      std::string fault = entry(directory, path + "/" + name, name, node);
      if (!fault.empty()) return fault;
    }
    return "";
  }

 private:
  std::string entry(int parent, const std::string& path, const std::string& name,
                    const JsonObject& node) {
    const JsonValue& value = node.member(name);
    if (!isPlainComponent(name) || value.kind != JsonKind::Object)
      return "not in the header: " + jsonQuoted(path);
    struct stat status;
    if (fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
      return "cannot stat " + jsonQuoted(path);
    const auto& object = static_cast<const JsonObject&>(value);
    if (isFileEntry(object)) {
      if (!S_ISREG(status.st_mode)) return "not a regular file: " + jsonQuoted(path);
      return file(parent, path, name, object);
    }
    const JsonValue& files = object.member("files");
    if (files.kind != JsonKind::Object || !S_ISDIR(status.st_mode))
      return "not a directory the header describes: " + jsonQuoted(path);
    UniqueFd child(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.get() < 0) return "cannot open " + jsonQuoted(path);
    return directory(child.get(), path, static_cast<const JsonObject&>(files));
  }

  std::string file(int parent, const std::string& path, const std::string& name,
                   const JsonObject& entry) {
    std::string contents;
    UniqueFd fd(openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0 || !readAll(fd.get(), contents)) return "cannot read " + jsonQuoted(path);
    uint64_t count = countFromSize(entry.member("size"));
    uint64_t offset = offsetFromText(entry.member("offset"));
    uint64_t length = contents.size();
    if (length > count)
      return jsonQuoted(path) + " holds " + std::to_string(length) + " bytes of " +
             std::to_string(count);
    if (length != count && length % chunkSize != 0)
      return jsonQuoted(path) + " holds a partial chunk: " + std::to_string(length) + " bytes";
    if (length == 0) return "";
    bool inside = offset <= UINT64_MAX - dataBase_ && dataBase_ + offset < archive_.size() &&
                  length <= archive_.size() - (dataBase_ + offset);
    if (!inside || std::memcmp(contents.data(), archive_.data() + dataBase_ + offset, length) != 0)
      return jsonQuoted(path) + " holds bytes other than the archive's at its offset";
    return "";
  }

  static bool readAll(int fd, std::string& contents) {
    char buffer[65536];
    for (;;) {
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0) return false;
      if (got == 0) return true;
      contents.append(buffer, static_cast<size_t>(got));
    }
  }

  const std::string& archive_;
  uint64_t dataBase_;
};

void walk(const std::string& archive, uint64_t dataBase, const std::string& path,
          const JsonObject& node, std::vector<WalkEntry>& entries) {
  for (uint32_t i = 0; i < node.memberCount(); ++i) {
    const JsonValue& value = node.memberValue(i);
    if (value.kind != JsonKind::Object) continue;
    const auto& object = static_cast<const JsonObject&>(value);
    const std::string key(node.memberKey(i));
    WalkEntry entry;
    entry.path = path + "/" + key;
    entry.isPlain = isPlainComponent(key);
    if (isFileEntry(object)) {
      entry.count = countFromSize(object.member("size"));
      uint64_t offset = offsetFromText(object.member("offset"));
      if (offset <= UINT64_MAX - dataBase && dataBase + offset < archive.size())
        entry.bytes = archive.substr(dataBase + offset, entry.count);
      entries.push_back(entry);
      continue;
    }
    const JsonValue& files = object.member("files");
    if (files.kind != JsonKind::Object) continue;
    entry.isDirectory = true;
    entries.push_back(entry);
    walk(archive, dataBase, entry.path, static_cast<const JsonObject&>(files), entries);
  }
}

}  // namespace

bool walkArchive(const std::string& archive, std::vector<WalkEntry>& entries) {
  entries.clear();
  std::string text;
  uint64_t dataBase = 0;
  JsonDocument document;
  if (!headerOf(archive, text, dataBase) || !parseDocument(text, document) ||
      document.member("files").kind != JsonKind::Object)
    return false;
  walk(archive, dataBase, "tolvex", static_cast<const JsonObject&>(document.member("files")),
       entries);
  return true;
}

std::string checkExtraction(const std::string& archive, const std::string& root) {
  struct stat status;
  bool rootExists = lstat(root.c_str(), &status) == 0;
  std::string text;
  uint64_t dataBase = 0;
  JsonDocument document;
  if (!headerOf(archive, text, dataBase) || !parseDocument(text, document) ||
      document.member("files").kind != JsonKind::Object)
    return rootExists ? "the archive describes no tree, yet " + root + " exists" : "";
  if (!rootExists || !S_ISDIR(status.st_mode)) return root + " is not a directory";
  UniqueFd directory(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (directory.get() < 0) return "cannot open " + root;
  Checker checker(archive, dataBase);
  return checker.directory(directory.get(), root,
                           static_cast<const JsonObject&>(document.member("files")));
}

}  // namespace tolvex
