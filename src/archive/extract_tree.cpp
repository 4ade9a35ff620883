#include "archive/extract_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "archive/ahead_queue.h"
#include "archive/console.h"
#include "archive/extract_file.h"
#include "archive/header_prefix.h"
#include "archive/unique_fd.h"
#include "json/json_value.h"

namespace tolvex {
namespace {

// Makes the directory `name` in `parent` unless it exists, and opens it without following
// a link planted in its place; `made` tells whether this call created it. A failure is
// not reported: the files below then fail.
DirectoryHandle openChildDirectory(int parent, const std::string& name, bool& made) {
  made = parent >= 0 && mkdirat(parent, name.c_str(), 0777) == 0;
  int fd = parent < 0
               ? -1
               : openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return std::make_shared<const UniqueFd>(fd);
}

bool isObject(const JsonValue& value) {
  return value.kind == JsonKind::Object;
}

bool isFileEntry(const JsonObject& entry) {
  return entry.member("offset").kind == JsonKind::String &&
         entry.member("size").kind == JsonKind::Number;
}

// One walk over a tree. Without a queue every file is copied and its line printed before
// the walk goes on; with one, file entries are handed to the queue in walk order.
class Walker {
 public:
  Walker(ArchiveContext& context, AheadQueue* queue) : context_(context), queue_(queue) {}

  // False at the first failed entry (with a queue: when the queue says stop).
  bool walkDirectory(const DirectoryHandle& directory, const std::string& path,
                     const JsonObject& node) {
    for (uint32_t i = 0; i < node.memberCount(); ++i) {
      const JsonValue& value = node.memberValue(i);
      if (!isObject(value)) continue;
      if (!extractEntry(directory, path, std::string(node.memberKey(i)),
                        static_cast<const JsonObject&>(value)))
        return false;
    }
    return true;
  }

 private:
  // Handles the member `key` of a directory; false when the walk must stop.
  bool extractEntry(const DirectoryHandle& directory, const std::string& path,
                    const std::string& key, const JsonObject& entry) {
    bool isFile = isFileEntry(entry);
    const JsonValue& files = entry.member("files");
    if (!isFile && !isObject(files)) return true;  // makes nothing, so nothing to refuse
    std::string joined = path + "/" + key;
    if (!isPlainComponent(key)) {
      if (queue_) return queue_->addRefused(std::move(joined));
      printUncreatedFile(joined);
      return false;
    }
    const JsonValue& offset = entry.member("offset");
    const JsonValue& size = entry.member("size");
    if (isFile && queue_)
      return queue_->addFile(directory,
                             fileTask(directory->get(), key, std::move(joined), offset, size));
    if (isFile) return extractFile(context_, directory->get(), key, joined, offset, size);
    bool made = false;
    DirectoryHandle child = openChildDirectory(directory->get(), key, made);
    if (queue_ && !queue_->addDirectory(directory, key, made)) return false;
    return walkDirectory(child, joined, static_cast<const JsonObject&>(files));
  }

  ArchiveContext& context_;
  AheadQueue* queue_;
};

}  // namespace

bool isPlainComponent(const std::string& key) {
  if (key.empty() || key == "." || key == "..") return false;
  return key.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool extractTree(ArchiveContext& context, const std::string& path, const JsonValue& node) {
  if (!isObject(node)) return true;
  // The root is the user's to choose and may be a link; only what lies below is guarded.
  mkdir(path.c_str(), 0777);
  auto root =
      std::make_shared<const UniqueFd>(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const JsonObject& files = static_cast<const JsonObject&>(node);
  // A second thread copies too, unless its whole lines would hide the marks of long
  // copies from someone watching them on a terminal.
  if (context.aheadSource && !outputIsTerminal()) {
    AheadQueue queue(context, *context.aheadSource);
    if (queue.start()) {
      bool walked = Walker(context, &queue).walkDirectory(root, path, files);
      bool finished = queue.finish();
      return walked && finished;
    }
  }
  return Walker(context, nullptr).walkDirectory(root, path, files);
}

}  // namespace tolvex
