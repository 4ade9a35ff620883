// A library that the fault campaign loads into the built program (LD_PRELOAD): it stands
// in front of the C library's calls that reach the system, counts them by kind and makes
// one of them fail, as the system would. Never part of the program itself.
//
//   TOLVEX_FAULT_RECORD=path    at exit, writes "kind count" for every kind called, and
//                               "failed kind" for every call made to fail
//   TOLVEX_FAULT=kind:N:mode    fails the Nth call of `kind` ("once"), or every one from the
//                               Nth on ("from")
//   TOLVEX_FAULT_NAME=name      counts and fails only the writes to the file created under
//                               `name` (a path component)
//   TOLVEX_FAULT_ERRNO=number   the error the failed call reports
//   TOLVEX_INTERRUPT_AT=name    raises SIGINT just before opening a path whose last
//                               component is `name`, as a user's Ctrl-C may come
//
// Kinds: "open" and "create" (open and openat, without and with O_CREAT), "mkdir", "read"
// (read and pread), "write" (to anything but standard output), "write-stdout", "close",
// "stat", "statfs", "ioctl", "remove", "rename", "seek", "limit" (getrlimit and
// sched_getaffinity: the limits of the process), "terminal"
// (isatty), "alloc" (an allocation or a mapping of 64 KiB or more), "thread" (pthread_create),
// "tempfile" (mkstemp), "signal" (sigaction), "poll".

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

enum Kind {
  Open,
  Create,
  MakeDirectory,
  Read,
  Write,
  WriteOutput,
  Close,
  Stat,
  StatFs,
  Ioctl,
  Remove,
  Rename,
  Seek,
  Limit,
  Terminal,
  Allocate,
  Thread,
  TempFile,
  Signal,
  Poll,
  kindCount
};

const char* const kindNames[kindCount] = {
    "open",     "create", "mkdir",  "read",     "write",  "write-stdout", "close",
    "stat",     "statfs", "ioctl",  "remove",   "rename", "seek",         "limit",
    "terminal", "alloc",  "thread", "tempfile", "signal", "poll"};

constexpr size_t largeAllocation = 64 * 1024;

std::atomic<uint64_t> counts[kindCount];
std::atomic<uint64_t> failedCounts[kindCount];
std::atomic<bool> armed{false};

struct Plan {
  int kind = -1;
  uint64_t occurrence = 0;
  bool fromThereOn = false;
  char name[256] = {};
  int error = EIO;
};
Plan plan;
std::atomic<int> namedFile{-1};  // the descriptor of the file TOLVEX_FAULT_NAME names
std::atomic<uint64_t> namedWrites{0};
char recordPath[4096];
char interruptAt[256];

// True when this call of `kind` must fail; errno is then set.
bool fails(Kind kind, int fd = -1) {
  uint64_t n = ++counts[kind];
  if (!armed.load(std::memory_order_relaxed) || plan.kind != kind) return false;
  if (kind == Write && plan.name[0] != '\0') {
    if (fd < 0 || fd != namedFile.load()) return false;
    n = ++namedWrites;
  }
  if (plan.fromThereOn ? n < plan.occurrence : n != plan.occurrence) return false;
  ++failedCounts[kind];
  errno = plan.error;
  return true;
}

int kindNamed(const char* name, size_t length) {
  for (int kind = 0; kind < kindCount; ++kind)
    if (strlen(kindNames[kind]) == length && strncmp(kindNames[kind], name, length) == 0)
      return kind;
  return -1;
}

template <class Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Writes `text` with the system's own write, so that the report is not counted.
void put(int fd, const char* text) {
  static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
  size_t length = strlen(text);
  while (length > 0) {
    ssize_t n = next(fd, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<size_t>(n);
  }
}

__attribute__((constructor)) void setUp() {
  if (const char* path = getenv("TOLVEX_FAULT_RECORD"))
    snprintf(recordPath, sizeof recordPath, "%s", path);
  if (const char* name = getenv("TOLVEX_FAULT_NAME"))
    snprintf(plan.name, sizeof plan.name, "%s", name);
  if (const char* error = getenv("TOLVEX_FAULT_ERRNO")) plan.error = atoi(error);
  if (const char* name = getenv("TOLVEX_INTERRUPT_AT"))
    snprintf(interruptAt, sizeof interruptAt, "%s", name);
  if (const char* fault = getenv("TOLVEX_FAULT")) {
    const char* colon = strchr(fault, ':');
    if (colon != nullptr) {
      plan.kind = kindNamed(fault, static_cast<size_t>(colon - fault));
      plan.occurrence = strtoull(colon + 1, nullptr, 10);
      plan.fromThereOn = strstr(colon + 1, ":from") != nullptr;
    }
  }
  armed = true;
}

__attribute__((destructor)) void report() {
  armed = false;
  if (recordPath[0] == '\0') return;
  static const auto openFile = real<int (*)(const char*, int, ...)>("open");
  int fd = openFile(recordPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char line[128];
  for (int kind = 0; kind < kindCount; ++kind) {
    if (counts[kind] > 0) {
      snprintf(line, sizeof line, "%s %llu\n", kindNames[kind],
               static_cast<unsigned long long>(counts[kind].load()));
      put(fd, line);
    }
    if (failedCounts[kind] > 0) {
      snprintf(line, sizeof line, "failed %s %llu\n", kindNames[kind],
               static_cast<unsigned long long>(failedCounts[kind].load()));
      put(fd, line);
    }
  }
  static const auto closeFile = real<int (*)(int)>("close");
  closeFile(fd);
}

bool createsFile(int flags) {
  return (flags & O_CREAT) != 0;
}

bool takesMode(int flags) {
#ifdef O_TMPFILE
  if ((flags & O_TMPFILE) == O_TMPFILE) return true;
#endif
  return createsFile(flags);
}

const char* lastComponent(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

int openedAt(const char* symbol, int directory, const char* path, int flags, mode_t mode) {
  if (interruptAt[0] != '\0' && strcmp(lastComponent(path), interruptAt) == 0) raise(SIGINT);
  if (fails(createsFile(flags) ? Create : Open)) return -1;
  static const auto openAt = real<int (*)(int, const char*, int, ...)>("openat");
  (void)symbol;
  int fd = openAt(directory, path, flags, mode);
  if (fd >= 0 && createsFile(flags) && plan.name[0] != '\0' &&
      strcmp(lastComponent(path), plan.name) == 0)
    namedFile = fd;
  return fd;
}

mode_t modeArgument(int flags, va_list arguments) {
  return takesMode(flags) ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openedAt("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openedAt("open64", AT_FDCWD, path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openedAt("openat", directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = modeArgument(flags, arguments);
  va_end(arguments);
  return openedAt("openat64", directory, path, flags, mode);
}

int mkdir(const char* path, mode_t mode) {
  static const auto next = real<int (*)(const char*, mode_t)>("mkdir");
  return fails(MakeDirectory) ? -1 : next(path, mode);
}

int mkdirat(int directory, const char* path, mode_t mode) {
  static const auto next = real<int (*)(int, const char*, mode_t)>("mkdirat");
  return fails(MakeDirectory) ? -1 : next(directory, path, mode);
}

ssize_t read(int fd, void* buffer, size_t count) {
  static const auto next = real<ssize_t (*)(int, void*, size_t)>("read");
  return fails(Read) ? -1 : next(fd, buffer, count);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t position) {
  static const auto next = real<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  return fails(Read) ? -1 : next(fd, buffer, count, position);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t position) {
  static const auto next = real<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
  return fails(Read) ? -1 : next(fd, buffer, count, position);
}

ssize_t write(int fd, const void* bytes, size_t count) {
  static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
  return fails(fd == STDOUT_FILENO ? WriteOutput : Write, fd) ? -1 : next(fd, bytes, count);
}

int close(int fd) {
  static const auto next = real<int (*)(int)>("close");
  if (fd == namedFile.load()) namedFile = -1;
  if (fails(Close)) {
    // A failed close still gives the descriptor up, as on Linux.
    next(fd);
    return -1;
  }
  return next(fd);
}

int fstat(int fd, struct stat* status) {
  static const auto next = real<int (*)(int, struct stat*)>("fstat");
  return fails(Stat) ? -1 : next(fd, status);
}

int fstat64(int fd, struct stat64* status) {
  static const auto next = real<int (*)(int, struct stat64*)>("fstat64");
  return fails(Stat) ? -1 : next(fd, status);
}

int fstatat(int directory, const char* path, struct stat* status, int flags) {
  static const auto next = real<int (*)(int, const char*, struct stat*, int)>("fstatat");
  return fails(Stat) ? -1 : next(directory, path, status, flags);
}

int fstatat64(int directory, const char* path, struct stat64* status, int flags) {
  static const auto next = real<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
  return fails(Stat) ? -1 : next(directory, path, status, flags);
}

int fstatfs(int fd, struct statfs* information) {
  static const auto next = real<int (*)(int, struct statfs*)>("fstatfs");
  return fails(StatFs) ? -1 : next(fd, information);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list arguments;
  va_start(arguments, request);
  void* argument = va_arg(arguments, void*);
  va_end(arguments);
  static const auto next = real<int (*)(int, unsigned long, ...)>("ioctl");
  return fails(Ioctl) ? -1 : next(fd, request, argument);
}

int unlink(const char* path) {
  static const auto next = real<int (*)(const char*)>("unlink");
  return fails(Remove) ? -1 : next(path);
}

int unlinkat(int directory, const char* path, int flags) {
  static const auto next = real<int (*)(int, const char*, int)>("unlinkat");
  return fails(Remove) ? -1 : next(directory, path, flags);
}

int rmdir(const char* path) {
  static const auto next = real<int (*)(const char*)>("rmdir");
  return fails(Remove) ? -1 : next(path);
}

int rename(const char* from, const char* to) {
  static const auto next = real<int (*)(const char*, const char*)>("rename");
  return fails(Rename) ? -1 : next(from, to);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
  static const auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
  return fails(Rename) ? -1 : next(fromDirectory, from, toDirectory, to);
}

off_t lseek(int fd, off_t offset, int whence) {
  static const auto next = real<off_t (*)(int, off_t, int)>("lseek");
  return fails(Seek) ? -1 : next(fd, offset, whence);
}

off_t lseek64(int fd, off_t offset, int whence) {
  static const auto next = real<off_t (*)(int, off_t, int)>("lseek64");
  return fails(Seek) ? -1 : next(fd, offset, whence);
}

int getrlimit(__rlimit_resource_t resource, struct rlimit* limit) {
  static const auto next = real<int (*)(__rlimit_resource_t, struct rlimit*)>("getrlimit");
  return fails(Limit) ? -1 : next(resource, limit);
}

int sched_getaffinity(pid_t process, size_t size, cpu_set_t* set) {
  static const auto next = real<int (*)(pid_t, size_t, cpu_set_t*)>("sched_getaffinity");
  return fails(Limit) ? -1 : next(process, size, set);
}

int isatty(int fd) {
  static const auto next = real<int (*)(int)>("isatty");
  return fails(Terminal) ? 0 : next(fd);
}

int mkstemp(char* pattern) {
  static const auto next = real<int (*)(char*)>("mkstemp");
  return fails(TempFile) ? -1 : next(pattern);
}

int sigaction(int signalNumber, const struct sigaction* action, struct sigaction* previous) {
  static const auto next =
      real<int (*)(int, const struct sigaction*, struct sigaction*)>("sigaction");
  return fails(Signal) ? -1 : next(signalNumber, action, previous);
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  static const auto next = real<int (*)(struct pollfd*, nfds_t, int)>("poll");
  return fails(Poll) ? -1 : next(fds, count, timeout);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
                   void* argument) {
  static const auto next =
      real<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
  if (fails(Thread)) return EAGAIN;
  return next(thread, attributes, start, argument);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  static const auto next = real<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  if (length >= largeAllocation && fails(Allocate)) return MAP_FAILED;
  return next(address, length, protection, flags, fd, offset);
}

void* malloc(size_t size) {
  if (size >= largeAllocation && fails(Allocate)) return nullptr;
  return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
  if (size != 0 && count >= largeAllocation / size && fails(Allocate)) return nullptr;
  return __libc_calloc(count, size);
}

void* realloc(void* memory, size_t size) {
  if (size >= largeAllocation && fails(Allocate)) return nullptr;
  return __libc_realloc(memory, size);
}

int posix_memalign(void** memory, size_t alignment, size_t size) {
  if (size >= largeAllocation && fails(Allocate)) return ENOMEM;
  *memory = __libc_memalign(alignment, size);
  return *memory != nullptr ? 0 : ENOMEM;
}

void* aligned_alloc(size_t alignment, size_t size) {
  if (size >= largeAllocation && fails(Allocate)) return nullptr;
  return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
  if (size >= largeAllocation && fails(Allocate)) return nullptr;
  return __libc_memalign(alignment, size);
}

}  // extern "C"
