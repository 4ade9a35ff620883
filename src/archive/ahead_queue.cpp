#include "archive/ahead_queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <system_error>
#include <utility>

#include "archive/header_prefix.h"

namespace tolvex {
namespace {

// How many entries may wait for their lines. Enough to keep both threads busy across a
// run of directories; few enough that an entry that fails wastes little work and that
// the open directories stay few.
constexpr size_t window = 64;

}  // namespace

struct AheadQueue::Entry {
  enum class Kind { File, Directory, Refused };
  enum class State { Waiting, Running, Done };

  Kind kind;
  State state;
  DirectoryHandle directory;  // a file's directory, or a directory's parent
  FileTask task;              // a directory's name is task.name, a refused entry's task.path
  bool made = false;          // a directory this walk created
  FileOutcome outcome;
};

AheadQueue::AheadQueue(ArchiveContext& context, ByteSource& ahead)
    : context_(context), ahead_(ahead) {}

AheadQueue::~AheadQueue() {
  Lock lock(mutex_);
  abandon(lock, 0);
  quit_ = true;
  changed_.notify_all();
  lock.unlock();
  if (worker_.joinable()) worker_.join();
}

bool AheadQueue::start() {
  buffers_.reset(new (std::nothrow) char[2 * copyBufferSize]);
  if (!buffers_) return false;
  try {
    worker_ = std::thread(&AheadQueue::work, this);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool AheadQueue::addFile(DirectoryHandle directory, FileTask task) {
  auto entry = std::make_unique<Entry>();
  entry->kind = Entry::Kind::File;
  entry->state = Entry::State::Waiting;
  entry->directory = std::move(directory);
  entry->task = std::move(task);
  return add(std::move(entry));
}

bool AheadQueue::addDirectory(DirectoryHandle parent, std::string name, bool made) {
  auto entry = std::make_unique<Entry>();
  entry->kind = Entry::Kind::Directory;
  entry->state = Entry::State::Done;
  entry->directory = std::move(parent);
  entry->task.name = std::move(name);
  entry->made = made;
  return add(std::move(entry));
}

bool AheadQueue::addRefused(std::string path) {
  auto entry = std::make_unique<Entry>();
  entry->kind = Entry::Kind::Refused;
  entry->state = Entry::State::Done;
  entry->task.path = std::move(path);
  add(std::move(entry));
  return false;
}

bool AheadQueue::add(std::unique_ptr<Entry> entry) {
  Lock lock(mutex_);
  if (halted_) return false;
  Entry* added = entry.get();
  try {
    entries_.push_back(std::move(entry));
    if (added->state == Entry::State::Waiting) waiting_.push_back(added);
  } catch (const std::bad_alloc&) {
    abandon(lock, 0);
    throw;
  }
  changed_.notify_all();
  return settle(lock, window);
}

bool AheadQueue::finish() {
  Lock lock(mutex_);
  return !halted_ && settle(lock, 1);
}

bool AheadQueue::settle(Lock& lock, size_t limit) {
  char* buffer = buffers_.get();
  while (!entries_.empty() && entries_.size() >= limit) {
    Entry& front = *entries_.front();
    if (front.state == Entry::State::Waiting) {
      // Its turn has come before the other thread took it.
      waiting_.pop_front();
      run(lock, front, context_.source, buffer, false);
    } else if (front.state == Entry::State::Running) {
      // The other thread copies it; meanwhile copy the next one that waits, or wait.
      if (waiting_.empty()) {
        changed_.wait(lock);
      } else {
        Entry& next = *waiting_.front();
        waiting_.pop_front();
        run(lock, next, context_.source, buffer, true);
      }
    } else if (front.kind == Entry::Kind::File && front.outcome.taken) {
      // Left for its turn because something is there: now it may be rewritten.
      waitWhileRunning(lock);
      forgetCopiesAhead(front);
      run(lock, front, context_.source, buffer, false);
    } else {
      bool ok = front.kind == Entry::Kind::Directory;
      if (!ok) {
        // Nothing else touches an entry that is done, so it prints without the lock.
        lock.unlock();
        ok = printFileLine(front.task, front.outcome);
        lock.lock();
      }
      if (!ok) {
        abandon(lock, 1);
        return false;
      }
      entries_.pop_front();
    }
  }
  return true;
}

void AheadQueue::run(Lock& lock, Entry& entry, ByteSource& source, char* buffer, bool onlyNew) {
  entry.state = Entry::State::Running;
  lock.unlock();
  FileOutcome outcome = copyFile(source, context_.dataBase, buffer, entry.task, onlyNew);
  lock.lock();
  entry.outcome = outcome;
  entry.state = Entry::State::Done;
  changed_.notify_all();
}

void AheadQueue::waitWhileRunning(Lock& lock) {
  auto running = [this] {
    for (const auto& entry : entries_)
      if (entry->state == Entry::State::Running) return true;
    return false;
  };
  while (running())
    changed_.wait(lock);
}

void AheadQueue::forgetCopiesAhead(const Entry& front) {
  struct stat taken;
  if (fstatat(front.directory->get(), front.task.name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) != 0)
    return;
  for (const auto& entry : entries_) {
    if (entry.get() == &front || entry->kind != Entry::Kind::File ||
        entry->state != Entry::State::Done || !entry->outcome.createdNew)
      continue;
    struct stat made;
    if (fstatat(entry->directory->get(), entry->task.name.c_str(), &made, AT_SYMLINK_NOFOLLOW) ==
            0 &&
        made.st_dev == taken.st_dev && made.st_ino == taken.st_ino) {
      entry->outcome = FileOutcome();
      entry->outcome.taken = true;
    }
  }
}

void AheadQueue::work() {
  char* buffer = buffers_.get() + copyBufferSize;
  Lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || (!halted_ && !waiting_.empty()); });
    if (quit_) return;
    Entry& entry = *waiting_.front();
    waiting_.pop_front();
    run(lock, entry, ahead_, buffer, true);
  }
}

void AheadQueue::abandon(Lock& lock, size_t first) {
  halted_ = true;
  waiting_.clear();
  waitWhileRunning(lock);
  // Newest first, so a directory is empty by the time its turn comes.
  while (entries_.size() > first) {
    const Entry& entry = *entries_.back();
    int parent = entry.directory ? entry.directory->get() : -1;
    if (entry.kind == Entry::Kind::File && entry.outcome.createdNew)
      unlinkat(parent, entry.task.name.c_str(), 0);
    else if (entry.kind == Entry::Kind::Directory && entry.made)
      unlinkat(parent, entry.task.name.c_str(), AT_REMOVEDIR);
    entries_.pop_back();
  }
  entries_.clear();
}

}  // namespace tolvex
