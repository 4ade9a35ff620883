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

#include "forwarding_file_system.h"

namespace tolvex {

// The system's file system (or `next`) as a test of the copy threads wants it, on every
// system: names may fold as on the case-insensitive file systems of two major desktop
// systems, a name then standing for one made earlier in its directory that differs in case
// only, which keeps the spelling it was made with; file contents may have room for only so
// many bytes, a write past them taking what fits and reporting the file system full, a
// removal giving room back; and before each call the test's script runs, which may wait for
// something to happen first, pause, or fail the call. It records what it sees.
class ScriptedFileSystem final : public ForwardingFileSystem {
 public:
  enum class Call { MakeDirectory, OpenDirectory, Create, Write, Close, Remove };

  explicit ScriptedFileSystem(FileSystem& next = nativeFileSystem()) : ForwardingFileSystem(next) {}

  // Whether names fold, and whether directories say they may: as the system says; every
  // directory says it may (whether or not it does); names fold; no directory says it may.
  enum class Folding { AsTheSystemSays, SaysItMay, Folds, Never };
  Folding folding = Folding::AsTheSystemSays;
  uint64_t room = UINT64_MAX;
  // Runs before each call with the name it makes or opens (a write's or a close's: its file's
  // name); a status other than Ok is reported instead of making the call.
  std::function<FsStatus(Call, const std::string& name)> script;

  // What it saw: how many calls of `call` there were for `name`, the names of the files
  // created in order, whether a call found no descriptor left (the system's or the script's).
  int calls(Call call, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_[{call, name}];
  }
  std::vector<std::string> created() {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
  }
  bool ranShort() const { return ranShort_; }

  // Waits until `condition` holds, at most two seconds; false when it never did.
  static bool waitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      names_.clear();  // a new extraction
    }
    return noted(real_.openRoot(path, root, id));
  }
  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    const std::string spelled = spelling(parent, name);
    FsStatus status = before(Call::MakeDirectory, spelled);
    if (status != FsStatus::Ok) return status;
    status = real_.makeDirectory(parent, spelled);
    if (status == FsStatus::Ok) remember(parent, spelled, 0);
    return noted(status);
  }
  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    const std::string spelled = spelling(parent, name);
    FsStatus status = before(Call::OpenDirectory, spelled);
    if (status != FsStatus::Ok) return status;
    return noted(real_.openDirectory(parent, spelled, directory, id));
  }
  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    const std::string spelled = spelling(parent, name);
    FsStatus status = before(Call::Create, spelled);
    if (status != FsStatus::Ok) return status;
    status = noted(real_.createFile(parent, spelled, file));
    if (status != FsStatus::Ok) return status;
    Name known = remember(parent, spelled, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    created_.push_back(spelled);
    open_[file.value()] = known;
    return status;
  }
  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    return real_.kindOf(parent, spelling(parent, name));
  }
  bool mayFoldNames(const Handle& directory) override {
    return folding == Folding::AsTheSystemSays ? real_.mayFoldNames(directory)
                                               : folding != Folding::Never;
  }
  bool removeFile(const Handle& parent, const std::string& name) override {
    const std::string spelled = spelling(parent, name);
    if (before(Call::Remove, spelled) != FsStatus::Ok || !real_.removeFile(parent, spelled))
      return false;
    forget(parent, spelled);
    return true;
  }
  bool removeDirectory(const Handle& parent, const std::string& name) override {
    const std::string spelled = spelling(parent, name);
    if (before(Call::Remove, spelled) != FsStatus::Ok || !real_.removeDirectory(parent, spelled))
      return false;
    forget(parent, spelled);
    return true;
  }
  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    written = 0;
    const Name name = openName(file);
    FsStatus status = before(Call::Write, name.second);
    if (status != FsStatus::Ok) return status;
    size_t allowed = count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      allowed = static_cast<size_t>(std::min<uint64_t>(count, room - used_));
      used_ += allowed;  // taken now, so that two writers cannot both have it
    }
    status = real_.write(file, bytes, allowed, written);
    std::lock_guard<std::mutex> lock(mutex_);
    used_ -= allowed - written;
    sizes_[name] += written;
    return status == FsStatus::Ok && allowed < count ? FsStatus::NoSpace : status;
  }
  bool close(Handle& file) override {
    const std::string name = openName(file).second;
    before(Call::Close, name);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_.erase(file.value());
    }
    return real_.close(file);
  }

 private:
  // A name in a directory, the directory known by its identity.
  using Name = std::pair<std::pair<uint64_t, uint64_t>, std::string>;

  FsStatus before(Call call, const std::string& name) {
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
  Name nameIn(const Handle& parent, const std::string& name) {
    DirectoryId id;
    real_.identify(parent, id);
    return {{id.device, id.node}, name};
  }
  Name remember(const Handle& parent, const std::string& name, uint64_t size) {
    Name known = nameIn(parent, name);
    std::lock_guard<std::mutex> lock(mutex_);
    names_[known.first].push_back(name);
    sizes_[known] = size;
    return known;
  }
  void forget(const Handle& parent, const std::string& name) {
    Name known = nameIn(parent, name);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string>& names = names_[known.first];
    names.erase(std::remove(names.begin(), names.end(), name), names.end());
    used_ -= sizes_[known];
    sizes_.erase(known);
  }
  Name openName(const Handle& file) {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_[file.value()];
  }
  // The name in `parent` that `name` stands for: one made there already, or `name` itself.
  std::string spelling(const Handle& parent, const std::string& name) {
    if (folding != Folding::Folds) return name;
    const auto lower = [](std::string text) {
      for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return text;
    };
    Name known = nameIn(parent, name);
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& made : names_[known.first])
      if (lower(made) == lower(name)) return made;
    return name;
  }

  std::mutex mutex_;
  std::map<std::pair<Call, std::string>, int> calls_;
  std::vector<std::string> created_;
  std::map<std::pair<uint64_t, uint64_t>, std::vector<std::string>> names_;  // made, by directory
  std::map<Name, uint64_t> sizes_;  // bytes held by the files it made
  std::map<intptr_t, Name> open_;   // the files open for writing
  uint64_t used_ = 0;
  std::atomic<bool> ranShort_{false};
};

}  // namespace tolvex

#endif  // TOLVEX_TESTS_SCRIPTED_FILE_SYSTEM_H_
