#include "archive/extract_tree.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>

#include "archive/copy_scheduler.h"
#include "archive/extract_file.h"
#include "archive/header_prefix.h"
#include "archive/output_directory.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

bool isObject(const JsonValue& value) {
  return value.kind == JsonKind::Object;
}

bool isFileEntry(const JsonObject& entry) {
  return entry.member("offset").kind == JsonKind::String &&
         entry.member("size").kind == JsonKind::Number;
}

// The file entry `entry`, the file `name` of its directory, named `path` in its line.
FileTask fileTask(std::string name, std::string path, const JsonObject& entry) {
  return {std::move(name), std::move(path), offsetFromText(entry.member("offset")),
          countFromSize(entry.member("size"))};
}

// Hands every entry of a tree to the scheduler, in walk order.
class Walker {
 public:
  Walker(CopyScheduler& scheduler, FileSystem& files) : scheduler_(scheduler), files_(files) {}

  // False when the walk must stop.
  bool walkDirectory(const std::shared_ptr<OutputDirectory>& directory, const std::string& path,
                     const JsonObject& node) {
    for (uint32_t i = 0; i < node.memberCount(); ++i) {
      const JsonValue& value = node.memberValue(i);
      if (!isObject(value)) continue;
      if (!addEntry(directory, path, std::string(node.memberKey(i)),
                    static_cast<const JsonObject&>(value)))
        return false;
    }
    return true;
  }

 private:
  bool addEntry(const std::shared_ptr<OutputDirectory>& directory, const std::string& path,
                const std::string& key, const JsonObject& entry) {
    bool isFile = isFileEntry(entry);
    const JsonValue& files = entry.member("files");
    if (!isFile && !isObject(files)) return true;  // makes nothing, so nothing to refuse
    std::string joined = path + "/" + key;
    if (!isPlainComponent(key) || !files_.takesName(key))
      return scheduler_.addRefused(std::move(joined));
    if (isFile) return scheduler_.addFile(directory, fileTask(key, std::move(joined), entry));
    auto child = std::make_shared<OutputDirectory>(directory, key);
    return scheduler_.addDirectory(child) &&
           walkDirectory(child, joined, static_cast<const JsonObject&>(files));
  }

  CopyScheduler& scheduler_;
  FileSystem& files_;
};

}  // namespace

bool isPlainComponent(const std::string& key) {
  if (key.empty() || key == "." || key == "..") return false;
  return key.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

uint64_t offsetFromText(const JsonValue& offset) {
  // c_str() ends the text at its first NUL, as the conversion wants.
  const std::string text(static_cast<const JsonString&>(offset).text());
  return std::strtoull(text.c_str(), nullptr, 10);
}

uint32_t countFromSize(const JsonValue& size) {
  const JsonNumber& number = static_cast<const JsonNumber&>(size);
  uint64_t bits = number.payload;
  if (number.form == NumberForm::Real) {
    double floored = std::floor(number.realValue());
    // Written so that NaN fails the test too.
    if (!(floored >= -9223372036854775808.0 && floored < 9223372036854775808.0)) return 0;
    bits = static_cast<uint64_t>(static_cast<int64_t>(floored));
  }
  return static_cast<uint32_t>(bits);
}

bool extractTree(ArchiveContext& context, const std::string& path, const JsonValue& node,
                 FileSystem& files) {
  if (!isObject(node)) return true;
  DirectoryId rootId;
  Handle rootHandle;
  files.openRoot(path, rootHandle, rootId);
  auto root = std::make_shared<OutputDirectory>(path, std::move(rootHandle), rootId);
  root->mayFold = root->state != OutputDirectory::State::Open || files.mayFoldNames(root->handle());
  CopyScheduler scheduler(files, context, root);
  bool walked =
      Walker(scheduler, files).walkDirectory(root, path, static_cast<const JsonObject&>(node));
  bool finished = scheduler.finish();
  return walked && finished;
}

}  // namespace tolvex
