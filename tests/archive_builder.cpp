#include "archive_builder.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "json/json_parser.h"

namespace tolvex {
namespace {

using Sink = std::function<bool(const char* bytes, size_t count)>;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t paddedLength(uint32_t textLength) {
  return textLength + (4 - textLength % 4) % 4;
}

// Copies exactly `size` bytes of the file at `path` to `sink`.
bool copyFromDisk(const std::string& path, uint64_t size, const Sink& sink) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::vector<char> buffer(1 << 20);
  while (size > 0) {
    size_t want = size < buffer.size() ? static_cast<size_t>(size) : buffer.size();
    size_t got = std::fread(buffer.data(), 1, want, file.get());
    if (got != want || !sink(buffer.data(), got)) return false;
    size -= got;
  }
  return true;
}

}  // namespace

std::string le32(std::initializer_list<uint32_t> values) {
  std::string bytes;
  for (uint32_t value : values)
    for (int shift = 0; shift < 32; shift += 8)
      bytes += static_cast<char>(value >> shift & 0xFF);
  return bytes;
}

std::string validPrefix(uint32_t textLength) {
  uint32_t headerPayloadSize = paddedLength(textLength) + 4;
  return le32({4, headerPayloadSize + 4, headerPayloadSize, textLength});
}

std::string archiveFromHeader(const std::string& headerText, const std::string& data, bool pad) {
  uint32_t textLength = static_cast<uint32_t>(headerText.size());
  std::string padding(pad ? paddedLength(textLength) - textLength : 0, '\0');
  return validPrefix(textLength) + headerText + padding + data;
}

bool writeArchiveWithLargeFile(const std::string& path, const std::string& first, uint64_t size,
                               int count) {
  std::string members =
      "\"" + first + "\":{\"offset\":\"0\",\"size\":" + std::to_string(size) + "}";
  for (int i = 0; i < count; ++i)
    members += ",\"z" + std::to_string(10000 + i) + "\":{\"offset\":\"0\",\"size\":10}";
  const std::string archive = archiveFromHeader("{\"files\":{" + members + "}}");
  {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file || std::fwrite(archive.data(), 1, archive.size(), file.get()) != archive.size())
      return false;
  }
  std::error_code error;
  std::filesystem::resize_file(path, archive.size() + size, error);
  return !error;
}

std::string okLine(const std::string& path, uint64_t size) {
  return "Extracting " + path + " (" + std::to_string(size) + ") " +
         std::string((size + 1023) / 1024, '.') + " OK\n";
}

std::string jsonQuoted(const std::string& bytes) {
  std::string quoted = "\"";
  for (char byte : bytes) {
    unsigned char value = static_cast<unsigned char>(byte);
    if (byte == '"' || byte == '\\') {
      quoted += '\\';
      quoted += byte;
    } else if (value < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", value);
      quoted += escape;
    } else {
      quoted += byte;
    }
  }
  return quoted + "\"";
}

ArchiveBuilder::Node& ArchiveBuilder::entryAt(const std::string& path) {
  Node* node = &root_;
  size_t start = 0;
  while (true) {
    size_t slash = path.find('/', start);
    std::string key =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    node = &node->children[key];
    if (slash == std::string::npos) return *node;
    start = slash + 1;
  }
}

void ArchiveBuilder::addDirectory(const std::string& path) {
  entryAt(path).isFile = false;
}

void ArchiveBuilder::addFile(const std::string& path, const std::string& contents) {
  Node& node = entryAt(path);
  node.isFile = true;
  node.contents = contents;
  node.sourcePath.clear();
  node.size = contents.size();
}

void ArchiveBuilder::addFileFromDisk(const std::string& path, const std::string& sourcePath,
                                     uint64_t size) {
  Node& node = entryAt(path);
  node.isFile = true;
  node.contents.clear();
  node.sourcePath = sourcePath;
  node.size = size;
}

bool ArchiveBuilder::addTree(const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::recursive_directory_iterator it(directory, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::string path = it->path().lexically_relative(directory).generic_string();
    fs::file_status status = it->symlink_status(error);
    if (error) return false;
    if (fs::is_directory(status)) {
      addDirectory(path);
    } else if (fs::is_regular_file(status)) {
      uint64_t size = it->file_size(error);
      if (error) return false;
      addFileFromDisk(path, it->path().string(), size);
    }
  }
  return !error;
}

namespace {

template <class Node>
void appendHeader(const Node& directory, uint64_t& offset, std::string& text) {
  text += '{';
  bool first = true;
  for (const auto& [key, node] : directory.children) {
    if (!first) text += ',';
    first = false;
    text += jsonQuoted(key) + ':';
    if (node.isFile) {
      text += "{\"offset\":\"" + std::to_string(offset) +
              "\",\"size\":" + std::to_string(node.size) + '}';
      offset += node.size;
    } else {
      text += "{\"files\":";
      appendHeader(node, offset, text);
      text += '}';
    }
  }
  text += '}';
}

template <class Node>
bool writeData(const Node& directory, const Sink& sink) {
  for (const auto& [key, node] : directory.children) {
    bool ok = !node.isFile              ? writeData(node, sink)
              : node.sourcePath.empty() ? sink(node.contents.data(), node.contents.size())
                                        : copyFromDisk(node.sourcePath, node.size, sink);
    if (!ok) return false;
  }
  return true;
}

template <class Node, class Entry>
void appendEntries(const Node& directory, const std::string& path, std::vector<Entry>& entries) {
  for (const auto& [key, node] : directory.children) {
    const std::string entryPath = path + "/" + key;
    entries.push_back({entryPath, !node.isFile, node.contents, node.size});
    if (!node.isFile) appendEntries(node, entryPath, entries);
  }
}

}  // namespace

std::vector<ArchiveBuilder::Entry> ArchiveBuilder::entries(const std::string& root) const {
  std::vector<Entry> all;
  appendEntries(root_, root, all);
  return all;
}

std::string ArchiveBuilder::headerText() const {
  uint64_t offset = 0;
  std::string text = "{\"files\":";
  appendHeader(root_, offset, text);
  return text + '}';
}

const JsonValue& ArchiveBuilder::filesValue(JsonDocument& document) const {
  parseDocument(headerText(), document);
  return document.member("files");
}

std::string ArchiveBuilder::build() const {
  std::string archive = archiveFromHeader(headerText());
  writeData(root_, [&archive](const char* bytes, size_t count) {
    archive.append(bytes, count);
    return true;
  });
  return archive;
}

bool ArchiveBuilder::writeTo(const std::string& archivePath) const {
  FilePtr file(std::fopen(archivePath.c_str(), "wb"));
  if (!file) return false;
  Sink sink = [&file](const char* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, file.get()) == count;
  };
  std::string start = archiveFromHeader(headerText());
  if (!sink(start.data(), start.size()) || !writeData(root_, sink)) return false;
  return std::fclose(file.release()) == 0;
}

}  // namespace tolvex
