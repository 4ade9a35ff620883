#ifndef TOLVEX_ARCHIVE_OUTPUT_DIRECTORY_H_
#define TOLVEX_ARCHIVE_OUTPUT_DIRECTORY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tolvex {

// A directory of the output tree as the walk names it: the root, or the directory `name`
// in `parent`. It is made when its entry's turn to be made comes (see CopyScheduler), and
// from then on it is known by its identity, whatever name reached it. Its fields but
// `parent` and `name`, and its handle, are guarded by the scheduler of its walk.
class OutputDirectory {
 public:
  enum class State {
    Unmade,    // its entry has not been made yet
    Open,      // made or found, and opened: files can be made in it
    Unusable,  // could not be opened as a directory: nothing can be made in it
  };

  // The root `path` (relative to the working directory), opened already (or not: then
  // Unusable).
  OutputDirectory(std::string path, Handle handle, DirectoryId id);
  OutputDirectory(std::shared_ptr<OutputDirectory> parent, std::string name);
  OutputDirectory(const OutputDirectory&) = delete;
  OutputDirectory& operator=(const OutputDirectory&) = delete;

  const std::shared_ptr<OutputDirectory> parent;  // null for the root
  const std::string name;                         // the root's path for the root

  State state = State::Unmade;
  bool made = false;        // this run created it
  bool identified = false;  // `id` is known: told when it was opened, or before it was closed
  DirectoryId id;
  bool mayFold = true;  // when Open: it may fold names (FileSystem::mayFoldNames)

  // The handle while the directory is open (pin it through its cache to keep it so).
  const Handle& handle() const { return handle_; }

 private:
  friend class DirectoryCache;
  Handle handle_;         // open while the cache holds it
  unsigned pins_ = 0;     // users of handle_ that the cache must not close it under
  uint64_t lastUse_ = 0;  // for closing the least recently used first
};

// How many output directories an extraction may keep open at once under a limit of
// `fileLimit` open files (0: none): a quarter of the limit, between 2 and 64 (8 under a limit
// of 32), so that the rest stays free for the files themselves.
size_t directoryBudget(size_t fileLimit);

// Keeps the handles of the open output directories within a budget of descriptors, so
// that no tree, however deep or wide, needs more of them than a low limit allows. A
// directory whose handle was closed is opened again from its nearest open ancestor, one
// component at a time, never through a link (the root by its path, which may be a link),
// and must turn out to be the same directory: a directory is told apart (a system call)
// before it is closed, unless nothing will ask for it again. So, at any time, the only
// directories that must be open are those pinned, and one more while a pinned one is
// opened again.
// Not thread-safe: its owner (the scheduler, under its mutex) serialises every call.
class DirectoryCache {
 public:
  // Holds at most `budget` handles, and more only while more are pinned. `root` is the
  // root of the tree, open or Unusable, which the cache holds from now on.
  DirectoryCache(FileSystem& files, size_t budget, const std::shared_ptr<OutputDirectory>& root);
  DirectoryCache(const DirectoryCache&) = delete;
  DirectoryCache& operator=(const DirectoryCache&) = delete;

  // The handle of the Open `directory`, opened again if need be, kept open until unpin().
  // Ok, or NoDescriptors when too many files are open, or Failed when it cannot be had
  // (the directory was replaced, or removed); `handle` is then null.
  FsStatus pin(const std::shared_ptr<OutputDirectory>& directory, const Handle*& handle);
  void unpin(OutputDirectory& directory);

  // The handle of a directory that its entry has just opened, kept while room allows.
  void adopt(const std::shared_ptr<OutputDirectory>& directory, Handle handle);

  // Closes the handle of `directory` (not pinned), before it is removed.
  void forget(OutputDirectory& directory);

  // Closes every handle that is not pinned. True when it closed one.
  bool shrink();

  // The handles that keeping within the budget has let go of, to be closed by the caller
  // (once it has let go of the lock it serialises calls with: a close is a system call).
  std::vector<Handle> takeRetired();

 private:
  // Opens `wanted` (closed) again by the way it was first reached.
  FsStatus reopen(OutputDirectory& wanted, Handle& reopened);
  void keep(const std::shared_ptr<OutputDirectory>& directory, Handle handle);
  void makeRoom();
  // Tells `directory` apart before its handle is closed, when it may be opened again.
  void identifyBeforeClosing(const std::shared_ptr<OutputDirectory>& directory);

  FileSystem& files_;
  size_t budget_;
  uint64_t clock_ = 0;
  std::vector<std::shared_ptr<OutputDirectory>> open_;  // those with a handle
  std::vector<Handle> retired_;                         // closed over budget, not yet shut
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_OUTPUT_DIRECTORY_H_
