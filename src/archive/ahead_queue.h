#ifndef TOLVEX_ARCHIVE_AHEAD_QUEUE_H_
#define TOLVEX_ARCHIVE_AHEAD_QUEUE_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "archive/extract_file.h"
#include "archive/unique_fd.h"

namespace tolvex {

class ByteSource;
struct ArchiveContext;

// An open directory of the output tree, shared by the walk and the copies made in it.
using DirectoryHandle = std::shared_ptr<const UniqueFd>;

// Copies the file entries of one walk on two threads, the walking one and one of its own,
// ahead of the walk, and prints their progress lines in walk order. The lines and what is
// left on disk are those of copying one entry after the other:
// - a file copied before its turn is always one that this copy created; when its name is
//   taken, the file waits for its turn, when every entry before it has succeeded, and is
//   copied then (as is any later file that turns out to be the same file);
// - when an entry fails, its line is the last one printed, and every file and directory
//   made for the entries after it is taken away again.
// Only whole lines are printed, so the marks of a long copy do not show while it runs:
// not for a terminal.
class AheadQueue {
 public:
  // `ahead`: a source over the same archive as `context.source` with a position of its
  // own, read by the second thread. Both are borrowed and must outlive the queue.
  AheadQueue(ArchiveContext& context, ByteSource& ahead);
  // Takes away what was made for entries whose lines were not printed, then stops the
  // second thread.
  ~AheadQueue();
  AheadQueue(const AheadQueue&) = delete;
  AheadQueue& operator=(const AheadQueue&) = delete;

  // Starts the second thread. False when it cannot be started or there is no memory for
  // the copy buffers; the queue must then not be used.
  bool start();

  // The next entry of the walk, in walk order: a file entry to copy in `directory`; a
  // directory the walk has just made (`made`: it did not exist before) and opened; an entry
  // that fails without making anything. Each returns false when the walk must stop: an
  // entry up to this one has failed, and its line is printed (a refused entry always
  // stops the walk).
  bool addFile(DirectoryHandle directory, FileTask task);
  bool addDirectory(DirectoryHandle parent, std::string name, bool made);
  bool addRefused(std::string path);

  // Waits for every entry and prints the lines not yet printed. False when one failed.
  bool finish();

 private:
  struct Entry;
  using Lock = std::unique_lock<std::mutex>;

  bool add(std::unique_ptr<Entry> entry);
  // Prints lines from the front until fewer than `limit` entries are left; false when an
  // entry failed.
  bool settle(Lock& lock, size_t limit);
  // Copies `entry`, claimed by this thread; `onlyNew` unless it is the entry's turn.
  void run(Lock& lock, Entry& entry, ByteSource& source, char* buffer, bool onlyNew);
  void work();
  void waitWhileRunning(Lock& lock);
  // Before a file that waited for its turn is rewritten: on a file system that folds names
  // ("A" and "a" one file), what took its name may be the file of a later entry copied
  // ahead. Such an entry is copied again at its turn, and its file is no longer its own to
  // take away. Nothing may be running.
  void forgetCopiesAhead(const Entry& front);
  // Stops all copying and takes away what was made for every entry from `first` on.
  void abandon(Lock& lock, size_t first);

  ArchiveContext& context_;
  ByteSource& ahead_;
  std::unique_ptr<char[]> buffers_;  // one copy buffer for each thread
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Entry>> entries_;  // not yet printed, in walk order
  std::deque<Entry*> waiting_;                  // file entries nobody has claimed
  bool halted_ = false;                         // an entry failed: copy nothing more
  bool quit_ = false;
  std::thread worker_;
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_AHEAD_QUEUE_H_
