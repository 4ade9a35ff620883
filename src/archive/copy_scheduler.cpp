#include "archive/copy_scheduler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "archive/byte_source.h"
#include "archive/claim_rule.h"
#include "archive/progress_line.h"
#include "console/console.h"
#include "platform/platform.h"

namespace tolvex {
namespace {

// How many entries may wait for their lines. Enough to keep every thread busy across a run
// of small directories; few enough that a failure wastes little work.
constexpr size_t window = 128;

// The walk hands entries over this many at a time, so that it takes the mutex once for
// them all.
constexpr size_t batch = 16;

// How long a waiting thread sleeps before it looks again for an interrupt, and lets
// gathered output out on a terminal.
constexpr auto pollTime = std::chrono::milliseconds(50);

// How long a thread spins for the mutex before it sleeps on it (see acquire).
constexpr auto spinTime = std::chrono::microseconds(100);

// How often a thread reports its work while the number of threads may change: each report
// asks the system for the thread's scheduling times.
constexpr uint64_t stretchTime = 10 * 1000 * 1000;

uint64_t steadyNanoseconds() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

// The scheduler's mutex is held for a few microseconds at a time, by each thread many
// times an entry, and now and then for longer (a batch of lines printed). A thread that
// finds it taken spins for a while before it sleeps on it: with each thread on a processor
// of its own the holder lets it go soon, and a sleep costs the sleeper and, later, the
// holder a system call each, and the sleeper a wake-up much longer than the wait. With
// more threads than processors the holder may be waiting for one: no spinning then.
CopyScheduler::Lock CopyScheduler::acquire(Lock lock) {
  if (lock.try_lock()) return lock;
  if (!spin_.load(std::memory_order_relaxed)) {
    lock.lock();
    return lock;
  }
  const auto until = std::chrono::steady_clock::now() + spinTime;
  do {
    for (int i = 0; i < 64; ++i) {
      spinPause();
      if (lock.try_lock()) return lock;
    }
  } while (std::chrono::steady_clock::now() < until);
  lock.lock();
  return lock;
}

// One entry of the walk. Guarded by the scheduler's mutex, but for what its running copy
// reads outside it: `task` (unchanging) and `stop`.
struct CopyScheduler::Entry {
  enum class Kind { File, Directory };
  using State = ClaimFacts::Stage;

  Entry(Kind entryKind, std::shared_ptr<OutputDirectory> parentDirectory, FileTask fileTask)
      : kind(entryKind),
        parent(std::move(parentDirectory)),
        task(std::move(fileTask)),
        line(task.path, task.count) {}

  const Kind kind;
  State state = State::Waiting;
  const std::shared_ptr<OutputDirectory> parent;  // where its name goes; null when refused
  std::shared_ptr<OutputDirectory> directory;     // a directory entry's own
  const FileTask task;                            // a file's; a refused entry's path
  ProgressLine line;                              // a file's, or a refused entry's
  bool atTurnOnly = false;                        // not to be made ahead of its turn any more
  bool named = false;             // its name stands in its parent: made by this run, or done
  CopyResult result;              // a file's copy so far, and how it ended once Done
  bool gaveWay = false;           // this run of it gives way: it is made again at its turn
  bool pausesAhead = false;       // it has stopped the other thread starting entries ahead
  uint64_t takenBackSeen = 0;     // takenBack_ when it last asked for room
  std::atomic<bool> stop{false};  // asks its copy to stop where it is
  // Whether it is the front, for its copy to read without the mutex: once the front, an
  // entry stays so until its line is printed.
  std::atomic<bool> front{false};
};

// Reports a copy as it goes. What the copy made and holds is the copy's own until the entry
// is handed back; the scheduler hears of it (under its mutex) only where it matters before:
// for the front, whose line shows the copy as it goes, and where names in a directory are
// made in order. So copies ahead of their turns take the mutex once, when handed back.
class CopyScheduler::Observer final : public CopyObserver {
 public:
  // Made under the scheduler's mutex.
  Observer(CopyScheduler& scheduler, Entry& entry)
      : scheduler_(scheduler), entry_(entry), inOrder_(entry.parent && entry.parent->mayFold) {}

  void created(bool made) override {
    progress_.created = made;
    if (inOrder_ || entry_.front.load(std::memory_order_acquire)) tell(made && inOrder_);
  }

  void holds(uint64_t bytes) override {
    progress_.held = bytes;
    if (entry_.front.load(std::memory_order_acquire)) tell(false);
  }

  bool shouldStop() override {
    return entry_.stop.load(std::memory_order_relaxed) || interrupted();
  }

  bool descriptorsFreed() override {
    Lock lock = scheduler_.acquire(Lock(scheduler_.mutex_, std::defer_lock));
    if (!scheduler_.isFront(entry_)) {
      entry_.gaveWay = true;  // made at its turn, when descriptors are freed for it
      return false;
    }
    scheduler_.freeDescriptors(lock, entry_);
    return true;
  }

  bool roomMade() override {
    Lock lock = scheduler_.acquire(Lock(scheduler_.mutex_, std::defer_lock));
    return scheduler_.makeRoom(lock, entry_);
  }

 private:
  // Tells the scheduler how the copy stands; `named` when its name now stands in its
  // directory, so that names after it there may be made.
  void tell(bool named) {
    Lock lock = scheduler_.acquire(Lock(scheduler_.mutex_, std::defer_lock));
    entry_.result.created = progress_.created;
    entry_.result.held = progress_.held;
    if (named) {
      entry_.named = true;
      scheduler_.changed_.notify_all();
    }
    scheduler_.publish(entry_);
  }

  CopyScheduler& scheduler_;
  Entry& entry_;
  const bool inOrder_;  // its directory may fold names: they are made in walk order
  CopyResult progress_;
};

// What the claim rule reads of the line.
class CopyScheduler::LineFacts {
 public:
  explicit LineFacts(const Entries& line) : line_(line) {}
  size_t size() const { return line_.size(); }
  ClaimFacts operator[](size_t index) const {
    const Entry& entry = *line_[index];
    ClaimFacts facts;
    facts.stage = entry.state;
    facts.atTurnOnly = entry.atTurnOnly;
    facts.named = entry.named;
    if (const OutputDirectory* parent = entry.parent.get()) {
      facts.place = parent->state;
      facts.directory = reinterpret_cast<uintptr_t>(parent);
      facts.id = parent->id;
    }
    return facts;
  }

 private:
  const Entries& line_;
};

namespace {

CopyThreads threadsFor(const ArchiveContext& context, size_t processors, size_t fileLimit) {
  if (!context.copySources) return CopyThreads::fixed(1);
  if (context.copyThreads > 0) return CopyThreads::fixed(context.copyThreads);
  return CopyThreads(processors, fileLimit);
}

}  // namespace

CopyScheduler::CopyScheduler(FileSystem& files, const ArchiveContext& context,
                             const std::shared_ptr<OutputDirectory>& root)
    : files_(files),
      source_(context.source),
      copySources_(context.copySources),
      dataBase_(context.dataBase),
      processors_(usableProcessors()),
      fileLimit_(openFileLimit()),
      cache_(files, directoryBudget(fileLimit_), root),
      threads_(threadsFor(context, processors_, fileLimit_)) {
  mayFold_ = root->state == OutputDirectory::State::Open && root->mayFold;
  Lock lock(mutex_);
  startThreads();
}

CopyScheduler::~CopyScheduler() {
  Lock lock = acquire(Lock(mutex_, std::defer_lock));
  windDown(lock);
  closing_ = true;
  changed_.notify_all();
  parked_.notify_all();
  lock.unlock();
  for (std::thread& worker : workers_)
    worker.join();
}

void CopyScheduler::startThreads() {
  while (!closing_ && workers_.size() + 1 < threads_.count()) {
    const size_t index = workers_.size() + 1;
    ByteSource* source = copySources_ ? copySources_->source(index) : nullptr;
    if (!source) break;
    try {
      workers_.emplace_back(&CopyScheduler::workAhead, this, index, std::ref(*source));
    } catch (const std::system_error&) {
      break;  // no more threads: those there are make the entries
    }
  }
  spin_ = threads_.count() <= processors_;
}

bool CopyScheduler::addFile(std::shared_ptr<OutputDirectory> directory, FileTask task) {
  return add(std::make_unique<Entry>(Entry::Kind::File, std::move(directory), std::move(task)));
}

bool CopyScheduler::addDirectory(std::shared_ptr<OutputDirectory> directory) {
  auto entry = std::make_unique<Entry>(Entry::Kind::Directory, directory->parent, FileTask());
  entry->directory = std::move(directory);
  return add(std::move(entry));
}

bool CopyScheduler::addRefused(std::string path) {
  FileTask task;
  task.path = std::move(path);
  auto entry = std::make_unique<Entry>(Entry::Kind::File, nullptr, std::move(task));
  entry->state = Entry::State::Done;  // "o NG": nothing is made for it
  entry->named = true;
  add(std::move(entry));
  deliver();
  return false;
}

bool CopyScheduler::finish() {
  if (!deliver()) return false;
  Lock lock = acquire(Lock(mutex_, std::defer_lock));
  bool ok = serve(lock, 1);
  const bool failed = run_ == Run::Failed;
  takePrinted();
  lock.unlock();
  freePrinted();
  flushOutput();
  return ok && !failed;
}

bool CopyScheduler::add(std::unique_ptr<Entry> entry) {
  incoming_.push_back(std::move(entry));
  return incoming_.size() < batch || deliver();
}

bool CopyScheduler::deliver() {
  Lock lock = acquire(Lock(mutex_, std::defer_lock));
  takePrinted();
  if (noMemory_) throw std::bad_alloc();
  if (stopped()) return false;
  for (auto& entry : incoming_)
    line_.push(std::move(entry));
  incoming_.clear();
  markFront();
  changed_.notify_all();
  bool going = serve(lock, window);
  lock.unlock();
  freePrinted();
  return going;
}

void CopyScheduler::retire(std::unique_ptr<Entry> entry) {
  if (!printed_.full()) printed_.push(std::move(entry));
}

void CopyScheduler::takePrinted() {
  while (!printed_.empty() && !freeing_.full())
    freeing_.push(printed_.pop());
}

void CopyScheduler::freePrinted() {
  while (!freeing_.empty())
    freeing_.pop();
}

bool CopyScheduler::serve(Lock& lock, size_t limit) {
  for (;;) {
    writeEndedLines(lock);
    if (noMemory_) throw std::bad_alloc();
    if (interrupted()) windDown(lock);
    if (stopped()) return false;
    if (line_.size() < limit) return true;
    bool atTurn = false;
    if (Entry* entry = claim(atTurn))
      run(lock, *entry, atTurn, source_, walkerStretch_);
    else
      changed_.wait_for(lock, pollTime);
  }
}

void CopyScheduler::workAhead(size_t index, ByteSource& source) {
  Stretch stretch;
  Lock lock = acquire(Lock(mutex_, std::defer_lock));
  while (!closing_) {
    writeEndedLines(lock);
    bool atTurn = false;
    if (index >= threads_.count()) {
      // Not counted now: it waits apart, so that what wakes the others leaves it alone.
      parked_.wait(lock);
      continue;
    }
    Entry* entry = noMemory_ || closing_ ? nullptr : claim(atTurn);
    if (!entry) {
      changed_.wait_for(lock, pollTime);
      continue;
    }
    try {
      run(lock, *entry, atTurn, source, stretch);
    } catch (const std::bad_alloc&) {
      // The walking thread finds out and ends the archive (see processArchive).
      noMemory_ = true;
      changed_.notify_all();
    }
  }
}

void CopyScheduler::writeEndedLines(Lock& lock) {
  if (!outputIsDue()) return;
  lock.unlock();
  flushOutputIfDue();
  lock = acquire(std::move(lock));
}

CopyScheduler::Entry* CopyScheduler::claim(bool& atTurn) {
  settle();
  if (stopped() || interrupted()) return nullptr;
  size_t chosen = chooseClaim(LineFacts(line_), run_ == Run::Ahead, mayFold_);
  if (chosen == noClaim) return nullptr;
  atTurn = chosen == 0;
  return line_[chosen].get();
}

void CopyScheduler::run(Lock& lock, Entry& entry, bool atTurn, ByteSource& source,
                        Stretch& stretch) {
  const bool measuring = threads_.measuring();
  const uint64_t started = measuring ? steadyNanoseconds() : 0;
  const bool full = runEntry(lock, entry, atTurn, source);
  if (measuring && entry.state == Entry::State::Done)
    work_ += 1 + entry.result.held / ByteSource::viewLimit;
  // Going serial lets go of the mutex: an entry given way may be claimed, made and freed
  // meanwhile, so it is not touched after.
  if (full && mayGoSerial()) goSerial(lock);
  if (!measuring) return;
  const uint64_t ended = steadyNanoseconds();
  stretch.busy += ended - started;
  if (ended - stretch.start >= stretchTime) measure(lock, stretch);
}

void CopyScheduler::measure(Lock& lock, Stretch& stretch) {
  lock.unlock();
  uint64_t running = 0;
  uint64_t ready = 0;
  const bool told = threadTimes(running, ready);
  lock = acquire(std::move(lock));
  // The first report only starts the measure; a system that cannot tell gives none.
  const uint64_t processor = told ? running + ready : 0;
  const uint64_t now = steadyNanoseconds();
  if (stretch.processor != 0 && processor != 0 && !stopped() &&
      threads_.observe(stretch.busy, processor - stretch.processor, work_, now)) {
    startThreads();
    parked_.notify_all();  // threads counted again go on, those no longer counted stop
  }
  stretch = {now, 0, processor};
}

bool CopyScheduler::runEntry(Lock& lock, Entry& entry, bool atTurn, ByteSource& source) {
  entry.state = Entry::State::Running;
  entry.stop = false;
  entry.takenBackSeen = takenBack_;
  bool full = false;
  try {
    full = entry.kind == Entry::Kind::Directory ? runDirectory(lock, entry, atTurn)
                                                : runFile(lock, entry, atTurn, source);
  } catch (...) {
    // Whatever it made is taken back when the run winds down.
    if (!lock.owns_lock()) lock = acquire(std::move(lock));
    entry.result.end = CopyEnd::Stopped;
    entry.state = Entry::State::Done;
    resumeAhead(entry);
    changed_.notify_all();
    throw;
  }
  resumeAhead(entry);
  // Only what another thread may wait for wakes it: the front done or given back, a
  // directory made (entries below it may be made ahead), copies that someone waits for.
  if (isFront(entry) || entry.kind == Entry::Kind::Directory ||
      entry.state == Entry::State::Waiting || copyWaiters_ > 0)
    changed_.notify_all();
  settle();
  return full;
}

void CopyScheduler::resumeAhead(Entry& entry) {
  if (!entry.pausesAhead) return;
  entry.pausesAhead = false;
  if (run_ == Run::Paused) run_ = Run::Ahead;
}

bool CopyScheduler::runDirectory(Lock& lock, Entry& entry, bool atTurn) {
  const Handle* parent = nullptr;
  FsStatus pinned = pinDirectory(lock, entry, atTurn, parent);
  if (pinned == FsStatus::NoDescriptors && !atTurn) {
    giveWay(entry);
    return false;
  }
  Handle handle;
  DirectoryId id;
  FsStatus opened = FsStatus::Failed;
  if (pinned == FsStatus::Ok) {
    bool full = false;
    bool mayGoOn = makeDirectory(lock, entry, atTurn, *parent, handle, id, opened, full);
    cache_.unpin(*entry.parent);
    if (!mayGoOn) {
      giveWay(entry);
      return full;
    }
  }
  OutputDirectory& directory = *entry.directory;
  if (opened == FsStatus::Ok) {
    directory.id = id;
    directory.identified = entry.parent->mayFold;
    directory.state = OutputDirectory::State::Open;
    cache_.adopt(entry.directory, std::move(handle));
  } else {
    // Files below fail at their turns: "o".
    directory.state = OutputDirectory::State::Unusable;
  }
  entry.named = true;
  entry.state = Entry::State::Done;
  return false;
}

bool CopyScheduler::makeDirectory(Lock& lock, Entry& entry, bool atTurn, const Handle& parent,
                                  Handle& handle, DirectoryId& id, FsStatus& opened, bool& full) {
  for (int attempt = 0;; ++attempt) {
    full = makeAndOpen(lock, entry, parent, handle, id, opened) == FsStatus::NoSpace;
    if ((opened == FsStatus::NoDescriptors || full) && !atTurn) return false;
    if (attempt > 0) return true;
    if (opened == FsStatus::NoDescriptors)
      freeDescriptors(lock, entry);
    else if (!full || !makeRoom(lock, entry))
      return true;
  }
}

FsStatus CopyScheduler::makeAndOpen(Lock& lock, Entry& entry, const Handle& parent, Handle& handle,
                                    DirectoryId& id, FsStatus& opened) {
  OutputDirectory& directory = *entry.directory;
  std::vector<Handle> retired = cache_.takeRetired();
  lock.unlock();
  retired.clear();
  // Whether it was there already does not matter; only what it is.
  FsStatus made = files_.makeDirectory(parent, directory.name);
  // Told apart at once where names may fold (see chooseClaim), else only if need be.
  const bool identify = entry.parent->mayFold;
  opened = files_.openDirectory(parent, directory.name, handle, identify ? &id : nullptr);
  // A directory made here is as its parent is; one found may be of any kind.
  bool mayFold = opened == FsStatus::Ok &&
                 (made == FsStatus::Ok ? entry.parent->mayFold : files_.mayFoldNames(handle));
  lock = acquire(std::move(lock));
  directory.mayFold = mayFold;
  mayFold_ = mayFold_ || mayFold;
  directory.made = directory.made || made == FsStatus::Ok;
  return made;
}

bool CopyScheduler::runFile(Lock& lock, Entry& entry, bool atTurn, ByteSource& source) {
  static const Handle noDirectory;
  const Handle* directory = nullptr;
  FsStatus pinned = pinDirectory(lock, entry, atTurn, directory);
  if (pinned == FsStatus::NoDescriptors && !atTurn) {
    giveWay(entry);
    return false;
  }
  if (pinned != FsStatus::Ok) directory = &noDirectory;  // the file then cannot be made
  Observer observer(*this, entry);
  std::vector<Handle> retired = cache_.takeRetired();
  lock.unlock();
  retired.clear();
  // A copy of many pieces takes a while: the lines before it are written first.
  if (atTurn && entry.task.count > ByteSource::viewLimit) flushOutput();
  CopyResult result =
      extractFile(files_, source, dataBase_, *directory, entry.task, atTurn, observer);
  lock = acquire(std::move(lock));
  if (pinned == FsStatus::Ok) cache_.unpin(*entry.parent);
  return handBack(entry, result, *directory);
}

FsStatus CopyScheduler::pinDirectory(Lock& lock, Entry& entry, bool atTurn, const Handle*& handle) {
  FsStatus status = cache_.pin(entry.parent, handle);
  if (status != FsStatus::NoDescriptors || !atTurn) return status;
  freeDescriptors(lock, entry);
  return cache_.pin(entry.parent, handle);
}

void CopyScheduler::freeDescriptors(Lock& lock, Entry& front) {
  if (run_ == Run::Ahead) {
    run_ = Run::Paused;
    front.pausesAhead = true;
  }
  waitForCopies(lock, 1);
  cache_.shrink();
}

bool CopyScheduler::makeRoom(Lock& lock, Entry& entry) {
  if (!isFront(entry)) {
    entry.gaveWay = true;  // made at its turn, once what was made ahead is taken back
    return false;
  }
  // Room taken by copies ahead of their turns is not room a copy one by one would have
  // lacked: take it back, and go on where the copy stands.
  if (mayGoSerial()) goSerial(lock);
  while (run_ == Run::Undoing)
    changed_.wait_for(lock, pollTime);
  bool freed = takenBack_ != entry.takenBackSeen;
  entry.takenBackSeen = takenBack_;
  return freed;
}

bool CopyScheduler::handBack(Entry& entry, const CopyResult& result, const Handle& directory) {
  CopyEnd end = result.end;
  if (end == CopyEnd::Stopped && interrupted()) {
    entry.result = result;
    entry.state = Entry::State::Done;  // windDown() decides what stays
    return false;
  }
  // At its turn every end is final but a name taken (a file made ahead must be replaced
  // at its turn) and a stop; descriptors and room were freed for it as they would have
  // been one by one. Ahead of its turn only a complete copy is.
  bool final = end == CopyEnd::Copied || (isFront(entry) && !entry.gaveWay &&
                                          end != CopyEnd::Taken && end != CopyEnd::Stopped);
  if (final) {
    entry.result = result;
    if (end == CopyEnd::NoDescriptors) entry.result.end = CopyEnd::NotCreated;
    entry.named = true;
    entry.state = Entry::State::Done;
    return false;
  }
  // Done again at its turn, as if this copy had never been. What it held is room made for
  // a front that ran out while this copy was still running.
  if (result.created && files_.removeFile(directory, entry.task.name)) ++takenBack_;
  if (end == CopyEnd::NoDescriptors) cache_.shrink();  // for the front, and the next try
  giveWay(entry);
  return end == CopyEnd::NoSpace;
}

void CopyScheduler::giveWay(Entry& entry) {
  entry.result = CopyResult();
  entry.named = false;
  entry.gaveWay = false;
  entry.atTurnOnly = true;
  entry.state = Entry::State::Waiting;
}

bool CopyScheduler::isFront(const Entry& entry) const {
  return !line_.empty() && line_.front().get() == &entry;
}

void CopyScheduler::publish(Entry& entry) {
  // After a failure the front is an entry whose line never comes; a copy that gives way
  // shows nothing, as it is made again.
  if (run_ == Run::Failed || entry.kind != Entry::Kind::File || !isFront(entry) ||
      entry.state == Entry::State::Waiting || entry.gaveWay)
    return;
  entry.line.show(entry.result,
                  entry.state == Entry::State::Done && entry.result.end != CopyEnd::Stopped);
}

void CopyScheduler::settle() {
  while (!line_.empty() && run_ != Run::Failed) {
    Entry& front = *line_.front();
    if (front.kind == Entry::Kind::File) publish(front);
    if (front.state != Entry::State::Done || front.result.end == CopyEnd::Stopped) return;
    bool failed = front.kind == Entry::Kind::File && front.result.end != CopyEnd::Copied;
    retire(line_.pop());
    markFront();
    if (failed) {
      // Nothing after it is made; what was made ahead goes when the run winds down.
      run_ = Run::Failed;
      stopFrom(0);
      changed_.notify_all();
    }
  }
}

void CopyScheduler::windDown(Lock& lock) {
  if (run_ != Run::Failed) run_ = Run::Halted;
  stopFrom(0);
  waitForCopies(lock, 0);
  settle();
  if (!line_.empty() && line_.front()->line.begun() && !line_.front()->line.ended()) {
    // Its line is out, so its file stays, with what it holds.
    line_.front()->line.cut();
    retire(line_.pop());
    markFront();
  }
  takeBack(0);
  while (!line_.empty())
    retire(line_.pop());
  flushOutput();
  changed_.notify_all();
}

void CopyScheduler::goSerial(Lock& lock) {
  run_ = Run::Undoing;
  stopFrom(1);
  waitForCopies(lock, 1);
  takeBack(1);
  if (run_ == Run::Undoing) run_ = Run::Serial;
  changed_.notify_all();
}

void CopyScheduler::stopFrom(size_t first) {
  for (size_t i = first; i < line_.size(); ++i)
    line_[i]->stop = true;
}

void CopyScheduler::waitForCopies(Lock& lock, size_t first) {
  ++copyWaiters_;
  while (copiesRunning(first))
    changed_.wait_for(lock, pollTime);
  --copyWaiters_;
}

void CopyScheduler::markFront() {
  if (!line_.empty()) line_.front()->front.store(true, std::memory_order_release);
}

bool CopyScheduler::copiesRunning(size_t first) const {
  for (size_t i = first; i < line_.size(); ++i)
    if (line_[i]->state == Entry::State::Running) return true;
  return false;
}

void CopyScheduler::takeBack(size_t first) {
  for (size_t i = line_.size(); i > first; --i)
    undo(*line_[i - 1]);
}

void CopyScheduler::undo(Entry& entry) {
  if (!entry.parent || entry.state == Entry::State::Running) return;  // refused: nothing made
  if (entry.kind == Entry::Kind::File) {
    if (entry.result.created) {
      removeName(entry.parent, entry.task.name, false);
      ++takenBack_;
    }
  } else {
    OutputDirectory& directory = *entry.directory;
    cache_.forget(directory);
    if (directory.made) {
      removeName(entry.parent, directory.name, true);
      ++takenBack_;
    }
    directory.state = OutputDirectory::State::Unmade;
    directory.made = false;
  }
  entry.result = CopyResult();
  entry.named = false;
  entry.stop = false;
  entry.state = Entry::State::Waiting;
}

void CopyScheduler::removeName(const std::shared_ptr<OutputDirectory>& parent,
                               const std::string& name, bool isDirectory) {
  const Handle* handle = nullptr;
  if (cache_.pin(parent, handle) != FsStatus::Ok) return;  // then it stays
  if (isDirectory)
    files_.removeDirectory(*handle, name);
  else
    files_.removeFile(*handle, name);
  cache_.unpin(*parent);
}

}  // namespace tolvex
