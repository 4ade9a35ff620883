#ifndef TOLVEX_PLATFORM_PLATFORM_H_
#define TOLVEX_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvex {

// Everything tolvex asks of the operating system goes through this file: the command
// line, reading archives, the output tree (FileSystem), standard output, and interrupts.
// One implementation per system lives in a file of its own; nothing above it depends on
// which one is built.

// An open file or directory of the system, or none; closed when destroyed. The value is
// the system's own (a descriptor or a handle), kept in an integer wide enough for either.
class Handle {
 public:
  Handle() = default;
  explicit Handle(intptr_t value) : value_(value) {}
  Handle(Handle&& other) noexcept : value_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }

  bool isOpen() const { return value_ != none; }
  intptr_t value() const { return value_; }
  // Gives the value up without closing it.
  intptr_t release() {
    intptr_t value = value_;
    value_ = none;
    return value;
  }
  // Closes what is held, if anything, without asking whether the close succeeded.
  void reset();

  static constexpr intptr_t none = -1;

 private:
  intptr_t value_ = none;
};

// Tells the processor that this thread spins waiting for another, so that it yields its
// share of a core to the other thread on it and leaves the awaited cache line alone for a
// moment. No system call; nothing where the processor has no such hint.
inline void spinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

// Which directory an open handle stands for, whatever name it was reached by: two names
// that the file system takes for one directory give equal identities.
struct DirectoryId {
  uint64_t device = 0;
  uint64_t node = 0;
  bool operator==(const DirectoryId& other) const {
    return device == other.device && node == other.node;
  }
  bool operator!=(const DirectoryId& other) const { return !(*this == other); }
};

// How a file system call came out. NoDescriptors: the process has too many files open,
// and the same call may succeed once some are closed. NoSpace: the file system or the
// user's quota is full, and it may succeed once something is removed.
enum class FsStatus { Ok, Exists, NoDescriptors, NoSpace, Failed };

// What a name in a directory stands for, without following a link.
enum class NodeKind { Absent, RegularFile, Directory, Other };

// The calls that make the output tree. Every name is one plain path component (no
// separator, not "." or ".."), taken relative to an open directory; nothing is reached
// through a link. Safe to call from several threads at once. Tests put their own in
// front of the system's to make it fail, or fold names, on purpose.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // False for a name (one plain path component) that this file system would misread or
  // cannot take; nothing is then made for it.
  virtual bool takesName(const std::string& name) = 0;
  // Opens the directory `path` (relative to the working directory; it may itself be a
  // link), making it first when absent: Ok, NoDescriptors, or Failed when it cannot be had.
  virtual FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) = 0;
  // Makes the directory `name` in `parent` with default permissions: Ok when this call
  // made it, Exists when the name was taken by anything.
  virtual FsStatus makeDirectory(const Handle& parent, const std::string& name) = 0;
  // Opens the directory `name` in `parent`: Ok only for a directory that is not a link.
  // `id`, when given, is set to its identity (a system call of its own on some systems:
  // asked for only when needed).
  virtual FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                                 DirectoryId* id) = 0;
  // The identity of the open directory `directory`; false when it cannot be told.
  virtual bool identify(const Handle& directory, DirectoryId& id) = 0;
  // Creates the regular file `name` in `parent` for writing, with default permissions; it
  // must not exist yet (Exists: the name is taken by anything, a dangling link included).
  virtual FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) = 0;
  virtual NodeKind kindOf(const Handle& parent, const std::string& name) = 0;
  // False only when the open `directory` is known to take two names as one only when they
  // are the same bytes: no folding of case, no normalisation of Unicode. True when it may
  // fold (or it cannot be told).
  virtual bool mayFoldNames(const Handle& directory) = 0;
  // Takes the name of a regular file, or of an empty directory, out of `parent`. A file
  // that is open elsewhere stays readable there.
  virtual bool removeFile(const Handle& parent, const std::string& name) = 0;
  virtual bool removeDirectory(const Handle& parent, const std::string& name) = 0;
  // Writes `count` bytes at the file's end; `written` tells how many it took, fewer than
  // `count` only when the result is not Ok.
  virtual FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) = 0;
  // Closes the file; false when the system reports that not every byte could be kept.
  virtual bool close(Handle& file) = 0;
};

// The running system's file system.
FileSystem& nativeFileSystem();

// The command line: the arguments after the program's name, as byte strings. Where the
// system's command line is not bytes (Windows), they are its text in UTF-8; `count` and
// `arguments` are then not used.
std::vector<std::string> commandLineArguments(int count, char** arguments);

// Archives.
// Opens the file `path` (relative to the working directory, any link followed) for
// reading; none when it cannot be read or is a directory. While it is open, its name may
// be taken away or given to another file; it stays readable to its end.
Handle openForReading(const std::string& path);
// True when `file` can be read at positions (a regular file, a block device); false for a
// stream whose bytes come once and in order (a pipe, a FIFO, a socket, a terminal).
bool readsAtPositions(const Handle& file);
// The size of `file` when it is a regular file; false for anything else.
bool regularFileSize(const Handle& file, uint64_t& size);
// Reads up to `count` bytes of `file` at `position`: how many (0 at the end), or -1 on an
// error, a position too large for the system included. The file's own position, where
// writeAll writes, stays where it was. Safe to call from several threads at once.
int64_t readAt(const Handle& file, char* buffer, size_t count, uint64_t position);
// Waits for bytes of the stream `stream` and reads up to `count` of them: how many (0 at
// its end), or -1 on an error or once the program is interrupted.
int64_t readStream(const Handle& stream, char* buffer, size_t count);
// Writes all of `bytes` at the end of `file`; false when it does not take them all.
bool writeAll(const Handle& file, const char* bytes, size_t count);
// Creates a new empty file in the working directory, open for reading and writing, that
// no name reaches and that is gone once closed: where the system has such files (Linux's
// O_TMPFILE) and `tryNameless` holds, one that never had a name; otherwise one under a
// fresh name, created exclusively and its name removed at once. None when it cannot.
Handle createNamelessFile(bool tryNameless = true);

// Memory for large blocks (a header's text, the blocks of its tree), whose pages the system
// backs with huge pages where a program may ask for them (Linux's transparent huge pages),
// so that filling them costs few page faults; elsewhere plain memory. Null when there is
// none. Given back with freeLargeBlock and the same size.
void* allocateLargeBlock(size_t bytes);
void freeLargeBlock(void* block, size_t bytes);

// Processors and time, for deciding how many threads copy at once.
// How many processors this process may run on (its affinity, where the system has one);
// at least 1.
size_t usableProcessors();
// How long the calling thread has run on a processor so far (user and system time both),
// and how long it has waited for one while it could run (0 where the system keeps no such
// count), in nanoseconds. The rest of its life it waited for something else: a file
// system, a lock, a wake-up. False where the system cannot tell.
bool threadTimes(uint64_t& running, uint64_t& ready);
// How many files the process may have open at once; 0 when there is no such limit.
size_t openFileLimit();

// Standard output.
bool standardOutputIsTerminal();
// Writes all of `bytes` unless standard output refuses them (a reader that went away, a
// broken device); false then, and what was not taken is lost.
bool writeStandardOutput(const char* bytes, size_t count);

// Interrupts: from the terminal (Ctrl-C), a hang-up, or a request to terminate.
// Installs the program's handling: an interrupt is noted and the run winds down (see
// interrupted()); a second one ends the program at once. A reader of standard output
// that goes away, and a file size limit, become failed writes instead of ending the
// program.
void installSignalHandling();
// True once an interrupt has come; every long task checks it and stops.
bool interrupted();
// Ends the program by the interrupt that came, as if it had not been handled, so that
// whoever started it sees the usual status. Returns only when no interrupt has come.
void endByInterrupt();

}  // namespace tolvex

#endif  // TOLVEX_PLATFORM_PLATFORM_H_
