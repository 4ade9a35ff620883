#ifndef TOLVEX_TESTS_SCRIPTED_FILE_SYSTEM_H_
#define TOLVEX_TESTS_SCRIPTED_FILE_SYSTEM_H_

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace tolvex {

// The file system the tests put in front of the system's own (or of `next`), on every
// system: as it is, or as a test needs it. It may take names as another system would; fold
// names as the case-insensitive file systems of two major desktop systems do (a name then
// stands for one made earlier in its directory that differs in case only, which keeps the
// spelling it was made with); and have room for so many bytes of file contents only, a
// write past them taking what fits and reporting the file system full, a removal giving
// room back. And before each call the test's script runs, which may wait for something to
// happen first, pause, or fail the call: a failed write takes half of what it was given
// first, a failed close closes all the same. It records what it sees.
class ScriptedFileSystem final : public FileSystem {
 public:
  // Whether names fold, and whether directories say they may: as the system says; every
  // directory says it may (whether or not it does); names fold; no directory says it may.
  enum class Folding { AsTheSystemSays, SaysItMay, Folds, Never };

  explicit ScriptedFileSystem(FileSystem& next = nativeFileSystem()) : real_(next) {}

  Folding folding = Folding::AsTheSystemSays;
  uint64_t room = UINT64_MAX;
  std::function<bool(const std::string&)> takes;  // the names it takes; all when not set
  // Runs before each call, named as FileSystem names it ("createFile", "write", ...), with
  // the name it makes, opens or removes (a write's or a close's: its file's name); a status
  // other than Ok is reported instead of making the call.
  std::function<FsStatus(const std::string& call, const std::string& name)> script;

  // What it saw: how many calls of `call` there were for `name`, the names of the files
  // created in order, whether a call found no descriptor left (the system's or the script's).
  int calls(const std::string& call, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_[{call, name}];
  }
  std::vector<std::string> created() {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
  }
  bool ranShort() const { return ranShort_; }
  // Whether every byte of room is taken.
  bool full() {
    std::lock_guard<std::mutex> lock(mutex_);
    return used_ >= room;
  }

  // Waits until `condition` holds, at most two seconds; false when it never did.
  static bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  bool takesName(const std::string& name) override {
    return takes ? takes(name) : real_.takesName(name);
  }
  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      names_.clear();  // a new extraction
    }
    FsStatus status = before("openRoot", path);
    return status != FsStatus::Ok ? status : noted(real_.openRoot(path, root, id));
  }
  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    const Name known = spelling(parent, name);
    FsStatus status = before("makeDirectory", known.second);
    if (status != FsStatus::Ok) return status;
    status = noted(real_.makeDirectory(parent, known.second));
    std::lock_guard<std::mutex> lock(mutex_);
    if (status == FsStatus::Ok) held(known) = 0;
    return status;
  }
  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    const std::string spelled = spelling(parent, name).second;
    FsStatus status = before("openDirectory", spelled);
    return status != FsStatus::Ok ? status
                                  : noted(real_.openDirectory(parent, spelled, directory, id));
  }
  bool identify(const Handle& directory, DirectoryId& id) override {
    return before("identify", "") == FsStatus::Ok && real_.identify(directory, id);
  }
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    const Name known = spelling(parent, name);
    FsStatus status = before("createFile", known.second);
    if (status != FsStatus::Ok) return status;
    status = noted(real_.createFile(parent, known.second, file));
    if (status != FsStatus::Ok) return status;
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(known.second);
    names_[known.first][known.second] = 0;
    open_[file.value()] = known;
    return status;
  }
  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    const std::string spelled = spelling(parent, name).second;
    return before("kindOf", spelled) != FsStatus::Ok ? NodeKind::Other
                                                     : real_.kindOf(parent, spelled);
  }
  bool mayFoldNames(const Handle& directory) override {
    return folding == Folding::AsTheSystemSays ? real_.mayFoldNames(directory)
                                               : folding != Folding::Never;
  }
  bool removeFile(const Handle& parent, const std::string& name) override {
    return remove("removeFile", parent, name);
  }
  bool removeDirectory(const Handle& parent, const std::string& name) override {
    return remove("removeDirectory", parent, name);
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    const Name known = openName(file);
    FsStatus failure = before("write", known.second);
    size_t allowed = failure != FsStatus::Ok ? count / 2 : count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      allowed = static_cast<size_t>(std::min<uint64_t>(allowed, room - used_));
      used_ += allowed;  // taken now, so that two writers cannot both have it
    }
    FsStatus status = real_.write(file, bytes, allowed, written);
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= allowed - written;
    held(known) += written;
    if (status != FsStatus::Ok || failure != FsStatus::Ok)
      return status != FsStatus::Ok ? status : failure;
    return allowed < count ? FsStatus::NoSpace : status;
  }
  bool close(Handle& file) override {
    FsStatus failure = before("close", openName(file).second);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_.erase(file.value());
    }
    return real_.close(file) && failure == FsStatus::Ok;
  }

 private:
  // A name in a directory, the directory known by its identity.
  using Directory = std::pair<uint64_t, uint64_t>;
  using Name = std::pair<Directory, std::string>;

  FsStatus before(const std::string& call, const std::string& name) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_[{call, name}];
    }
    return noted(script ? script(call, name) : FsStatus::Ok);
  }
  FsStatus noted(FsStatus status) {
    if (status == FsStatus::NoDescriptors) ranShort_ = true;
    return status;
  }
  // The bytes the file `name` holds, of those made through here (under the mutex).
  uint64_t& held(const Name& name) { return names_[name.first][name.second]; }
  Name openName(const Handle& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_[file.value()];
  }
  // The name in `parent` that `name` stands for: one made there already, or `name` itself.
  Name spelling(const Handle& parent, const std::string& name) {
    DirectoryId id;  // told apart only where it matters
    if (folding == Folding::Folds || room != UINT64_MAX) real_.identify(parent, id);
    const Directory directory{id.device, id.node};
    const auto lower = [](std::string text) {
      for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return text;
    };
    std::lock_guard<std::mutex> lock(mutex_);
    if (folding == Folding::Folds)
      for (const auto& [made, size] : names_[directory])
        if (lower(made) == lower(name)) return {directory, made};
    return {directory, name};
  }
  bool remove(const std::string& call, const Handle& parent, const std::string& name) {
    const Name known = spelling(parent, name);
    if (before(call, known.second) != FsStatus::Ok) return false;
    if (!(call == "removeFile" ? real_.removeFile(parent, known.second)
                               : real_.removeDirectory(parent, known.second)))
      return false;
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= held(known);
    names_[known.first].erase(known.second);
    return true;
  }

  FileSystem& real_;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, int> calls_;
  std::vector<std::string> created_;
  std::map<Directory, std::map<std::string, uint64_t>> names_;  // made here, bytes they hold
  std::map<intptr_t, Name> open_;                               // files open for writing
  uint64_t used_ = 0;
  std::atomic<bool> ranShort_{false};
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_SCRIPTED_FILE_SYSTEM_H_
