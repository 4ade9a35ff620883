#ifndef TOLVEX_ARCHIVE_COPY_SCHEDULER_H_
#define TOLVEX_ARCHIVE_COPY_SCHEDULER_H_

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/copy_threads.h"
#include "archive/extract_file.h"
#include "archive/header_prefix.h"
#include "archive/output_directory.h"

namespace tolvex {

class ByteSource;
class CopySources;
class FileSystem;

// A queue of at most `capacity` owned objects, kept in place: nothing is allocated or
// freed as they come and go.
template <typename T, size_t capacity>
class FixedQueue {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool full() const { return size_ == capacity; }
  std::unique_ptr<T>& operator[](size_t index) { return slots_[(first_ + index) % capacity]; }
  const std::unique_ptr<T>& operator[](size_t index) const {
    return slots_[(first_ + index) % capacity];
  }
  std::unique_ptr<T>& front() { return (*this)[0]; }
  const std::unique_ptr<T>& front() const { return (*this)[0]; }
  // Not when full().
  void push(std::unique_ptr<T> item) {
    slots_[(first_ + size_) % capacity] = std::move(item);
    ++size_;
  }
  // Not when empty().
  std::unique_ptr<T> pop() {
    std::unique_ptr<T> item = std::move(slots_[first_]);
    first_ = (first_ + 1) % capacity;
    --size_;
    return item;
  }

 private:
  std::array<std::unique_ptr<T>, capacity> slots_;
  size_t first_ = 0;
  size_t size_ = 0;
};

// Makes the entries of one walk, in walk order, on one thread or several: the walking one
// and others of their own, as many as CopyThreads decides (a thread each for copies in
// flight). Whatever the timing and the number of threads, the lines printed and the tree
// left are those of making one entry after the other, each to its end, and stopping at the
// first that fails. With one thread it is that.
//
// The line. Entries wait in `line_` in walk order, at most `window` of them; the walk
// waits (and helps) while it is full. The entry at the front is the one whose turn it is:
// everything before it is done and its line printed. Its line is printed as its copy goes,
// whichever thread copies it. Only the front's line is ever printed, so lines come out in
// walk order.
//
// Claims. A thread takes an entry only under the mutex, and the entry is then its own
// until it hands it back under the mutex again; nobody else touches an entry while it
// runs, except to ask it to stop. Which entry a thread takes is chooseClaim's rule
// (claim_rule.h): the front when it waits, else the first that may be made ahead of its
// turn. Ahead of its turn an entry only ever creates: a file that did not exist, a
// directory. A file that finds its name taken, and anything that does not go to its end
// ahead, leaves no trace and waits for its turn, when it may replace an existing file.
// So, at its turn, every entry finds what one-by-one making would have left before it.
//
// The run's state (Run) says what may be made: entries ahead of their turns (Ahead), only
// the front (Paused, Undoing, Serial), or nothing (Failed, Halted). Its changes:
// - Ahead -> Paused -> Ahead: the front waits for descriptors (below) until it is handed
//   back;
// - Ahead or Paused -> Undoing -> Serial: a file system was full; what was made ahead is
//   taken back, and nothing more is made ahead;
// - any -> Failed: the front failed (its line ends in NG); any -> Halted: interrupted, or
//   wound down. Both are final but for Halted -> Failed, when the front that winding down
//   settles failed.
//
// Failures. When the front fails, its line is the last one printed, every entry after it
// that made something is taken back (newest first: files removed, directories this run
// made removed), and the walk stops.
//
// Descriptors. Directories are held open through a DirectoryCache within a budget, and
// fewer threads copy when open files are short (CopyThreads). Ahead of its turn an entry
// that finds no descriptor gives way and waits for its turn. At its turn it gets what
// making one entry after the other would give it: nothing more starts ahead until it is
// done, every other copy ends, and every directory no entry uses is closed; then it tries
// once more, and that try decides. So the outcome under any limit of open files is the
// same on every run, and nothing waits for a descriptor that cannot come.
//
// Full file systems. A copy that finds the file system full asks for room: ahead of its
// turn it gives way and the run goes Serial; at its turn, what was made ahead is taken back
// and, when that removed anything, the copy goes on from where it stands, so that the file
// keeps what its marks claim. The first file to fail is the one that would have, one by
// one.
//
// Interrupts. When the program is interrupted the copies stop where they are; the front's
// line is ended as it stands, its file kept, and everything made for the entries after
// it is taken back.
class CopyScheduler {
 public:
  // `context` gives the archive: the walking thread reads its source, every other thread
  // one of its copySources (none: the walking thread alone makes the entries), and
  // copyThreads, when not 0, fixes how many threads make entries. `root` is the directory
  // the entries are made in. Everything is borrowed and must outlive the scheduler.
  CopyScheduler(FileSystem& files, const ArchiveContext& context,
                const std::shared_ptr<OutputDirectory>& root);
  // Winds down a run that was not finished (an interrupt, no memory), as an interrupt
  // would, and stops the other threads.
  ~CopyScheduler();
  CopyScheduler(const CopyScheduler&) = delete;
  CopyScheduler& operator=(const CopyScheduler&) = delete;

  // The walk's entries, in walk order: a file to copy into `directory`; a directory to
  // make (its parent and name in it); an entry refused without making anything. Each
  // returns false when the walk must stop: an entry up to this one failed and its line
  // is printed (a refused entry always fails), or the run was interrupted.
  bool addFile(std::shared_ptr<OutputDirectory> directory, FileTask task);
  bool addDirectory(std::shared_ptr<OutputDirectory> directory);
  bool addRefused(std::string path);

  // Waits for every entry and prints the lines not yet printed. False when one failed or
  // the run was interrupted.
  bool finish();

 private:
  struct Entry;
  class Observer;
  class LineFacts;
  // A thread's work since it last reported it (see measure): from `start` (steady clock,
  // in nanoseconds), `busy` nanoseconds making entries; at `start`, how long it had run or
  // been ready to run (see threadTimes).
  struct Stretch {
    uint64_t start = 0;
    uint64_t busy = 0;
    uint64_t processor = 0;
  };
  using Lock = std::unique_lock<std::mutex>;
  // Room for the line's window and a batch being delivered, and so for every entry printed
  // and not yet freed.
  using Entries = FixedQueue<Entry, 256>;

  enum class Run { Ahead, Paused, Undoing, Serial, Failed, Halted };  // see above

  // Takes `lock` (not held), trying the mutex for a while before sleeping on it while
  // there are no more threads than processors.
  Lock acquire(Lock lock);

  // The walk's entries gather in `incoming_` (the walking thread's own, outside the mutex)
  // and are delivered to `line_` a batch at a time.
  bool add(std::unique_ptr<Entry> entry);
  bool deliver();
  // An entry whose line is printed goes back to the walking thread, which made it, to be
  // freed: the memory of an entry never passes from one thread to another, whose
  // allocator would then take a lock that the thread that made it holds too. (When
  // printed_ is full, which the line's size rules out, it is freed where it stands.) The
  // walking thread takes them, under the mutex, and frees them once it has let go of it.
  void retire(std::unique_ptr<Entry> entry);
  void takePrinted();
  void freePrinted();
  // Works (and waits) on the walking thread until `line_` holds fewer than `limit`
  // entries; false when the run stopped.
  bool serve(Lock& lock, size_t limit);
  // The life of thread `index` (1 and up; the walking one is 0), reading with `source`: it
  // makes entries while CopyThreads counts it.
  void workAhead(size_t index, ByteSource& source);
  // Starts threads until CopyThreads' count runs, as far as sources and the system allow.
  void startThreads();
  // Writes the lines ended so far (see ProgressLine::show) with the mutex let go.
  void writeEndedLines(Lock& lock);

  // Claiming: the entry this thread takes next (chooseClaim), or null; `atTurn` tells
  // which kind.
  Entry* claim(bool& atTurn);
  // Runs a claimed entry with `source` and hands it back; measures the thread's work in
  // `stretch` while the number of threads may change. When a copy ahead found the file
  // system full (runEntry, runDirectory, runFile and handBack say so), the run goes serial
  // once the entry, given way, is left alone: going serial lets go of the mutex.
  void run(Lock& lock, Entry& entry, bool atTurn, ByteSource& source, Stretch& stretch);
  bool runEntry(Lock& lock, Entry& entry, bool atTurn, ByteSource& source);
  bool runDirectory(Lock& lock, Entry& entry, bool atTurn);
  // Makes and opens a directory entry's directory in `parent` (pinned); at its turn tries
  // once more when descriptors could be freed or room made. False when, ahead of its turn,
  // it must give way, `full` telling whether the file system was full; else `opened` tells
  // how the open went.
  bool makeDirectory(Lock& lock, Entry& entry, bool atTurn, const Handle& parent, Handle& handle,
                     DirectoryId& id, FsStatus& opened, bool& full);
  // One try of it, with the mutex let go; what making the directory returned.
  FsStatus makeAndOpen(Lock& lock, Entry& entry, const Handle& parent, Handle& handle,
                       DirectoryId& id, FsStatus& opened);
  bool runFile(Lock& lock, Entry& entry, bool atTurn, ByteSource& source);
  // Hands a copy back: done, or to be done again at its turn.
  bool handBack(Entry& entry, const CopyResult& result, const Handle& directory);
  // Sends an entry that could not go on ahead of its turn back to wait for it, as if it
  // had never started (what it made stays, to be taken back or found at its turn).
  void giveWay(Entry& entry);
  // Pins the directory `entry` is made in, with the descriptors freed for it at its turn.
  FsStatus pinDirectory(Lock& lock, Entry& entry, bool atTurn, const Handle*& handle);
  // For the front that found no descriptor: nothing starts ahead until it is handed back,
  // every other copy ends and every directory no entry uses is closed.
  void freeDescriptors(Lock& lock, Entry& front);
  // Lets entries start ahead again once `entry`, which may have paused them, is handed back.
  void resumeAhead(Entry& entry);
  // For a copy that found the file system full: true when it is the front and room may
  // have been made (something made ahead was taken back since it last asked); ahead of
  // its turn it gives way.
  bool makeRoom(Lock& lock, Entry& entry);
  // Adds a stretch of a thread's work to what decides the number of threads, and starts
  // or stops threads as that decides.
  void measure(Lock& lock, Stretch& stretch);

  // Printing: what the front's line shows by now (`entry` if it is the front); then the
  // lines of finished entries at the front, up to the first that failed.
  void publish(Entry& entry);
  void settle();

  // Rolling back. windDown() ends the run: the copies stop, finished lines are printed,
  // the front's line is ended as it stands, and everything made for the entries whose
  // lines were not printed is taken back. goSerial() takes back what was made ahead of
  // its turn, and nothing more is.
  void windDown(Lock& lock);
  void goSerial(Lock& lock);
  // Asks the copies of the entries from position `first` on to stop, then waits for them.
  void stopFrom(size_t first);
  void waitForCopies(Lock& lock, size_t first);
  // Tells the entry at the front (if any) that it is.
  void markFront();
  // Takes back the entries from position `first` on, newest first; they wait again.
  void takeBack(size_t first);
  void undo(Entry& entry);
  void removeName(const std::shared_ptr<OutputDirectory>& parent, const std::string& name,
                  bool isDirectory);

  bool isFront(const Entry& entry) const;
  bool copiesRunning(size_t first) const;
  bool stopped() const { return run_ == Run::Failed || run_ == Run::Halted; }
  bool mayGoSerial() const { return run_ == Run::Ahead || run_ == Run::Paused; }

  // Set when made, then only read.
  FileSystem& files_;
  ByteSource& source_;        // read by the walking thread alone
  CopySources* copySources_;  // each of its sources read by one other thread alone
  const uint32_t dataBase_;
  const size_t processors_;
  const size_t fileLimit_;  // open files (openFileLimit)

  // The walking thread's own, outside the mutex: entries not yet delivered, in walk order,
  // and its measure of its work.
  std::vector<std::unique_ptr<Entry>> incoming_;
  Entries freeing_;  // printed entries taken out of printed_ to be freed
  Stretch walkerStretch_;

  // Whether a thread that finds the mutex taken spins for it a while: while no more
  // threads run than there are processors, so that its holder is on one.
  std::atomic<bool> spin_{true};

  // Guards every field below, every Entry in line_ (see Entry) and every OutputDirectory
  // of the run: its state, identity and handle. Copies, and the making and opening of
  // directories, run with it let go. It is held across a call to the system in four
  // places only, each rare and short, so that what the line and the cache say stays true
  // while it is made so: pinning a directory that the cache must open again, taking back
  // what a failed or full run made ahead, removing a file that an ahead copy left, and
  // starting a thread.
  std::mutex mutex_;
  std::condition_variable changed_;  // an entry claimed, handed back, stopped or delivered
  std::condition_variable parked_;   // the number of threads changed, or the run closes
  DirectoryCache cache_;
  // Not yet printed, in walk order: at most a window of them, and a batch being delivered.
  Entries line_;
  // Printed, to be freed by the walking thread, which made them (see retire).
  Entries printed_;
  Run run_ = Run::Ahead;
  CopyThreads threads_;
  std::vector<std::thread> workers_;  // threads 1 and up: started, and joined by the walking one
  bool mayFold_ = false;              // a directory opened so far may fold names
  unsigned copyWaiters_ = 0;          // threads waiting for copies to end (waitForCopies)
  uint64_t takenBack_ = 0;            // how often something made ahead was removed (room made)
  uint64_t work_ = 0;                 // entries made, and pieces copied, while measuring
  bool noMemory_ = false;             // another thread ran out of memory: the walking one raises it
  bool closing_ = false;              // the other threads are to end
};

}  // namespace tolvex

#endif  // TOLVEX_ARCHIVE_COPY_SCHEDULER_H_
