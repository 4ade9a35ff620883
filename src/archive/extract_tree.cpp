#include "archive/extract_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "archive/extract_file.h"
#include "archive/header_prefix.h"
#include "archive/unique_fd.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

// Makes the directory `name` in `parent` unless it exists, and opens it without following
// a link planted in its place. A failure is not reported: the files below then fail.
int openChildDirectory(int parent, const std::string& name) {
  if (parent < 0) return -1;
  mkdirat(parent, name.c_str(), 0777);
  return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool isObject(const JsonValue& value) {
  return value.kind == JsonKind::Object;
}

bool isFileEntry(const JsonObject& entry) {
  return entry.member("offset").kind == JsonKind::String &&
         entry.member("size").kind == JsonKind::Number;
}

bool walkDirectory(ArchiveContext& context, int directory, const std::string& path,
                   const JsonObject& node);

// Handles the member `key` of a directory; false when it failed and the walk must stop.
bool extractEntry(ArchiveContext& context, int directory, const std::string& path,
                  const std::string& key, const JsonObject& entry) {
  bool isFile = isFileEntry(entry);
  const JsonValue& files = entry.member("files");
  if (!isFile && !isObject(files)) return true;  // makes nothing, so nothing to refuse
  std::string joined = path + "/" + key;
  if (!isPlainComponent(key)) {
    printUncreatedFile(joined);
    return false;
  }
  if (isFile)
    return extractFile(context, directory, key, joined, entry.member("offset"),
                       entry.member("size"));
  UniqueFd child(openChildDirectory(directory, key));
  return walkDirectory(context, child.get(), joined, static_cast<const JsonObject&>(files));
}

bool walkDirectory(ArchiveContext& context, int directory, const std::string& path,
                   const JsonObject& node) {
  for (uint32_t i = 0; i < node.memberCount(); ++i) {
    const JsonValue& value = node.memberValue(i);
    if (!isObject(value)) continue;
    if (!extractEntry(context, directory, path, std::string(node.memberKey(i)),
                      static_cast<const JsonObject&>(value)))
      return false;
  }
  return true;
}

}  // namespace

bool isPlainComponent(const std::string& key) {
  if (key.empty() || key == "." || key == "..") return false;
  return key.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool extractTree(ArchiveContext& context, const std::string& path, const JsonValue& node) {
  if (!isObject(node)) return true;
  // The root is the user's to choose and may be a link; only what lies below is guarded.
  mkdir(path.c_str(), 0777);
  UniqueFd root(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return walkDirectory(context, root.get(), path, static_cast<const JsonObject&>(node));
}

}  // namespace tolvex
