// The platform on POSIX systems (POSIX.1-2008), with a Linux extra where it is guarded.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

#include <atomic>
#include <limits>

#include "platform/platform.h"

namespace tolvex {
namespace {

int fd(const Handle& handle) {
  return static_cast<int>(handle.value());
}

bool isOutOfDescriptors(int error) {
  return error == EMFILE || error == ENFILE;
}

FsStatus statusOf(int error) {
  if (error == EEXIST) return FsStatus::Exists;
  if (isOutOfDescriptors(error)) return FsStatus::NoDescriptors;
  if (error == ENOSPC || error == EDQUOT) return FsStatus::NoSpace;
  return FsStatus::Failed;
}

// Writes all of `bytes` to `fd`, in as many writes as it takes; Ok, or how the write that
// took no more failed, `written` telling how many bytes went. A signal that cuts a write
// short does not end it (a second interrupt ends the program), nor does someone else's
// non-blocking mode on a terminal or pipe that we share: it waits for room there.
FsStatus writeEverything(int fd, const char* bytes, size_t count, size_t& written) {
  written = 0;
  while (written < count) {
    ssize_t n = ::write(fd, bytes + written, count - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd room = {fd, POLLOUT, 0};
      poll(&room, 1, 100);
      continue;
    }
    // A write that takes nothing without an error cannot be retried to any end.
    if (n <= 0) return n < 0 ? statusOf(errno) : FsStatus::Failed;
    written += static_cast<size_t>(n);
  }
  return FsStatus::Ok;
}

DirectoryId idOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

bool identifyDirectory(int directory, DirectoryId& id) {
  struct stat status;
  if (fstat(directory, &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  id = idOf(status);
  return true;
}

// Opens `name` in `parent` as a directory (O_DIRECTORY: nothing else opens), and tells which
// it is when asked.
FsStatus openDirectoryAt(int parent, const char* name, Handle& directory, DirectoryId* id,
                         int followFlag) {
  int opened = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | followFlag);
  if (opened < 0) return isOutOfDescriptors(errno) ? FsStatus::NoDescriptors : FsStatus::Failed;
  Handle held(opened);
  if (id != nullptr && !identifyDirectory(opened, *id)) return FsStatus::Failed;
  directory = std::move(held);
  return FsStatus::Ok;
}

class PosixFileSystem final : public FileSystem {
 public:
  // Any bytes but "/" and NUL; a name too long for the file system fails when it is made.
  bool takesName(const std::string&) override { return true; }

  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override {
    mkdir(path.c_str(), 0777);
    // The root is the user's to choose and may be a link; only what lies below is guarded.
    return openDirectoryAt(AT_FDCWD, path.c_str(), root, &id, 0);
  }

  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    if (mkdirat(fd(parent), name.c_str(), 0777) == 0) return FsStatus::Ok;
    return statusOf(errno);
  }

  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    return openDirectoryAt(fd(parent), name.c_str(), directory, id, O_NOFOLLOW);
  }

  bool identify(const Handle& directory, DirectoryId& id) override {
    return identifyDirectory(fd(directory), id);
  }

  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    // O_EXCL with O_CREAT refuses any name already taken, a link (even a dangling one)
    // included, so what is opened here is always a new, empty regular file.
    int opened = openat(fd(parent), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (opened < 0) return statusOf(errno);
    file = Handle(opened);
    return FsStatus::Ok;
  }

  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    struct stat status;
    if (fstatat(fd(parent), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? NodeKind::Absent : NodeKind::Other;
    if (S_ISREG(status.st_mode)) return NodeKind::RegularFile;
    if (S_ISDIR(status.st_mode)) return NodeKind::Directory;
    return NodeKind::Other;
  }

  bool mayFoldNames(const Handle& directory) override {
#ifdef __linux__
    // File systems that take names as bytes, unless a directory asks to fold case.
    struct statfs info;
    if (fstatfs(fd(directory), &info) != 0) return true;
    switch (static_cast<unsigned long>(info.f_type)) {
      case 0xEF53:        // ext2, ext3, ext4
      case 0xF2F52010:    // f2fs
      case 0x01021994: {  // tmpfs
        long flags = 0;
        // A file system without the flag has no folding directories either.
        if (ioctl(fd(directory), FS_IOC_GETFLAGS, &flags) != 0) return false;
        return (flags & FS_CASEFOLD_FL) != 0;
      }
      case 0x58465342:  // xfs
      case 0x9123683E:  // btrfs
        return false;
      default:
        return true;
    }
#else
    (void)directory;
    return true;
#endif
  }

  bool removeFile(const Handle& parent, const std::string& name) override {
    return unlinkat(fd(parent), name.c_str(), 0) == 0;
  }

  bool removeDirectory(const Handle& parent, const std::string& name) override {
    return unlinkat(fd(parent), name.c_str(), AT_REMOVEDIR) == 0;
  }

  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    return writeEverything(fd(file), bytes, count, written);
  }

  bool close(Handle& file) override {
    // After a failed close the descriptor is gone all the same; it is never closed twice.
    return ::close(static_cast<int>(file.release())) == 0;
  }
};

// The first interrupt's signal number, 0 while none has come.
std::atomic<int> interruptSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler sets it");

extern "C" void onInterrupt(int signalNumber) {
  int expected = 0;
  if (interruptSignal.compare_exchange_strong(expected, signalNumber)) {
    // An interrupt that comes just before a call that waits (opening a FIFO, reading a
    // stream) does not cut that wait short: a reminder every second does.
    alarm(1);
    return;
  }
  // A second interrupt while the first is being wound down: end now.
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

extern "C" void onReminder(int) {
  alarm(1);
}

}  // namespace

void Handle::reset() {
  if (value_ != none) ::close(static_cast<int>(value_));
  value_ = none;
}

std::vector<std::string> commandLineArguments(int count, char** arguments) {
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i)
    result.emplace_back(arguments[i]);  // the system hands out terminated strings
  return result;
}

Handle openForReading(const std::string& path) {
  int opened = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (opened < 0) return Handle();
  Handle file(opened);
  struct stat status;
  if (fstat(opened, &status) != 0 || S_ISDIR(status.st_mode)) return Handle();
  return file;
}

bool readsAtPositions(const Handle& file) {
  // A pipe, a FIFO and a socket refuse any seek (ESPIPE), and so do terminals; asking for
  // the current position moves nothing.
  return lseek(fd(file), 0, SEEK_CUR) >= 0;
}

bool regularFileSize(const Handle& file, uint64_t& size) {
  struct stat status;
  if (fstat(fd(file), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  size = static_cast<uint64_t>(status.st_size);
  return true;
}

int64_t readAt(const Handle& file, char* buffer, size_t count, uint64_t position) {
  if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return -1;
  for (;;) {
    ssize_t n = pread(fd(file), buffer, count, static_cast<off_t>(position));
    if (n >= 0 || errno != EINTR) return n;
  }
}

int64_t readStream(const Handle& stream, char* buffer, size_t count) {
  for (;;) {
    // An interrupt that came before the read would not cut its wait short.
    if (interrupted()) return -1;
    ssize_t n = read(fd(stream), buffer, count);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool writeAll(const Handle& file, const char* bytes, size_t count) {
  size_t written = 0;
  return writeEverything(fd(file), bytes, count, written) == FsStatus::Ok;
}

Handle createNamelessFile([[maybe_unused]] bool tryNameless) {
#ifdef O_TMPFILE
  // O_EXCL: the file can never be given a name later.
  if (tryNameless) {
    int opened = open(".", O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    // Some file systems and older kernels have no such files: the portable way follows.
    if (opened >= 0) return Handle(opened);
  }
#endif
  // mkstemp creates exclusively, so an existing file of that name is never opened.
  char name[] = ".tolvex-stream-XXXXXX";
  int opened = mkstemp(name);
  if (opened < 0) return Handle();
  Handle file(opened);
  if (unlink(name) != 0) return Handle();
  return file;
}

FileSystem& nativeFileSystem() {
  static PosixFileSystem fileSystem;
  return fileSystem;
}

size_t openFileLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return limit.rlim_cur > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(limit.rlim_cur);
}

size_t usableProcessors() {
#ifdef CPU_COUNT
  // The processors this process may run on (taskset, a container's cpuset), not all the
  // machine has.
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<size_t>(CPU_COUNT(&set));
#endif
#ifdef _SC_NPROCESSORS_ONLN
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return static_cast<size_t>(online);
#endif
  return 1;
}

bool threadTimes(uint64_t& running, uint64_t& ready) {
  // Linux keeps both for each thread: the time on a processor, then the time spent ready
  // to run in a queue for one.
  int file = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
  if (file >= 0) {
    char text[128];
    ssize_t length = read(file, text, sizeof text - 1);
    close(file);
    if (length > 0) {
      text[length] = '\0';
      char* end = nullptr;
      const unsigned long long onProcessor = strtoull(text, &end, 10);
      if (end != text) {
        running = onProcessor;
        ready = strtoull(end, nullptr, 10);
        return true;
      }
    }
  }
#ifdef CLOCK_THREAD_CPUTIME_ID
  struct timespec used;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used) == 0) {
    running =
        static_cast<uint64_t>(used.tv_sec) * 1000000000u + static_cast<uint64_t>(used.tv_nsec);
    ready = 0;
    return true;
  }
#endif
  return false;
}

#if defined(MAP_ANONYMOUS) && defined(MADV_HUGEPAGE)
namespace {

// The size and alignment of a huge page, on the processors Linux runs on most.
constexpr size_t hugePageBytes = 2 * 1024 * 1024;

// The block's length in whole pages: the huge pages it starts with and the small ones of
// its tail, so that a tail never holds more memory than it needs.
size_t mappedBytes(size_t bytes) {
  static const long page = sysconf(_SC_PAGESIZE);
  const size_t pageBytes = page > 0 ? static_cast<size_t>(page) : 4096;
  return (bytes + pageBytes - 1) / pageBytes * pageBytes;
}

}  // namespace

void* allocateLargeBlock(size_t bytes) {
  // A mapping of its own that starts on a huge page (what lies before and after is given
  // back), so that every whole huge page in it can be one.
  const size_t size = mappedBytes(bytes);
  if (size < bytes || size + hugePageBytes < size) return nullptr;
  void* mapped = mmap(nullptr, size + hugePageBytes, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + hugePageBytes - 1) / hugePageBytes * hugePageBytes;
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = start + size + hugePageBytes;
  if (aligned + size < end) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  // A hint: where the system has no huge pages to give, the block is plain memory.
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void freeLargeBlock(void* block, size_t bytes) {
  munmap(block, mappedBytes(bytes));
}
#else
void* allocateLargeBlock(size_t bytes) {
  return malloc(bytes);
}

void freeLargeBlock(void* block, size_t) {
  free(block);
}
#endif

bool standardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

bool writeStandardOutput(const char* bytes, size_t count) {
  size_t written = 0;
  return writeEverything(STDOUT_FILENO, bytes, count, written) == FsStatus::Ok;
}

void installSignalHandling() {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);
  struct sigaction note = {};
  note.sa_handler = onInterrupt;
  sigemptyset(&note.sa_mask);
  // No SA_RESTART: a read or write that waits is cut short, so the interrupt is seen.
  note.sa_flags = 0;
  struct sigaction remind = note;
  remind.sa_handler = onReminder;
  sigaction(SIGALRM, &remind, nullptr);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored by whoever started the program (nohup, a background job) stays so.
    struct sigaction current;
    if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &note, nullptr);
  }
}

bool interrupted() {
  return interruptSignal.load(std::memory_order_relaxed) != 0;
}

void endByInterrupt() {
  int signalNumber = interruptSignal.load();
  if (signalNumber == 0) return;
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
  // Blocked or ignored by whoever started the program: end as the shell would show it.
  _exit(128 + signalNumber);
}

}  // namespace tolvex
