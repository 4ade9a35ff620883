// The platform on Windows: Win32 for what it does well, and the native API (ntdll) where the
// output tree needs opens relative to a directory handle, the analogue of openat.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// The status codes come from <ntstatus.h> alone, not from both headers.
#define WIN32_NO_STATUS
#include <windows.h>
#undef WIN32_NO_STATUS
#include <ntstatus.h>
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/utf8.h"
#include "platform/windows_names.h"

namespace tolvex {

namespace {

HANDLE nativeHandle(const Handle& handle) {
  return reinterpret_cast<HANDLE>(handle.value());
}

Handle heldHandle(HANDLE handle) {
  return Handle(reinterpret_cast<intptr_t>(handle));
}

// The file information classes used below, by number: MinGW's headers hide the newer ones,
// and the SDK's <winternl.h> lists hardly any.
constexpr int fileRenameInformation = 10;  // FILE_INFORMATION_CLASS, for ntdll
constexpr int fileDispositionInfoEx = 21;  // FILE_INFO_BY_HANDLE_CLASS, for Win32
constexpr DWORD dispositionDelete = 0x1;   // FILE_DISPOSITION_FLAG_DELETE
constexpr DWORD dispositionPosix = 0x2;    // FILE_DISPOSITION_FLAG_POSIX_SEMANTICS

// FILE_RENAME_INFORMATION, under a name of its own: the SDK has no such structure.
struct RenameRequest {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;  // in bytes
  WCHAR fileName[1];
};

using SetInformationCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);

// NtSetInformationFile, which the SDK declares nowhere; ntdll is in every process.
NTSTATUS setInformation(HANDLE file, void* information, ULONG length, int informationClass) {
  static const SetInformationCall call = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll ? GetProcAddress(ntdll, "NtSetInformationFile") : nullptr;
    // Through a function type without parameters, as compilers accept between any two.
    return reinterpret_cast<SetInformationCall>(reinterpret_cast<void (*)()>(found));
  }();
  if (call == nullptr) return STATUS_NOT_IMPLEMENTED;
  IO_STATUS_BLOCK result = {};
  return call(file, &result, information, length, informationClass);
}

FsStatus statusOf(NTSTATUS status) {
  switch (status) {
    case STATUS_SUCCESS:
      return FsStatus::Ok;
    case STATUS_OBJECT_NAME_COLLISION:
      return FsStatus::Exists;
    case STATUS_TOO_MANY_OPENED_FILES:
      return FsStatus::NoDescriptors;
    case STATUS_DISK_FULL:
    case STATUS_DISK_QUOTA_EXCEEDED:
      return FsStatus::NoSpace;
    default:
      return FsStatus::Failed;
  }
}

// ERROR_DISK_QUOTA_EXCEEDED, which MinGW's headers lack.
constexpr DWORD errorDiskQuotaExceeded = 1295;

FsStatus statusOfError(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FsStatus::Exists;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FsStatus::NoDescriptors;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case errorDiskQuotaExceeded:
      return FsStatus::NoSpace;
    default:
      return FsStatus::Failed;
  }
}

// The most bytes asked of one ReadFile or WriteFile, whose counts are 32-bit.
constexpr DWORD largestPiece = 1u << 30;

// Writes all of `bytes` to `handle` at its position, in as many writes as it takes; Ok, or
// how the write that took no more failed, `written` telling how many bytes went.
FsStatus writeEverything(HANDLE handle, const char* bytes, size_t count, size_t& written) {
  written = 0;
  while (written < count) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(count - written, largestPiece));
    DWORD took = 0;
    if (!WriteFile(handle, bytes + written, piece, &took, nullptr))
      return statusOfError(GetLastError());
    // A write that takes nothing without an error cannot be retried to any end.
    if (took == 0) return FsStatus::Failed;
    written += took;
  }
  return FsStatus::Ok;
}

// The UTF-16 form of `name` when Windows takes it as the name of a file of its own (no
// separator, no stream, no device; see isWindowsFileName), checked again here so that no
// name reaches the system unchecked.
bool componentName(const std::string& name, std::wstring& wide) {
  if (!isWindowsFileName(name)) return false;
  wide = wideFromUtf8(name);
  return true;
}

// Opens `name` (one component, or none for `parent` itself) relative to the directory
// `parent`, never following a reparse point: the link itself is opened. Lookups ignore
// case, as they do for every Win32 program. `created`, when given, tells whether this
// call made the file.
NTSTATUS openRelative(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                      ULONG disposition, ULONG options, HANDLE& opened, bool* created = nullptr) {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, parent, nullptr);
  IO_STATUS_BLOCK result = {};
  opened = INVALID_HANDLE_VALUE;
  NTSTATUS status = NtCreateFile(
      &opened, access | SYNCHRONIZE, &attributes, &result, nullptr, FILE_ATTRIBUTE_NORMAL,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (!NT_SUCCESS(status)) opened = INVALID_HANDLE_VALUE;
  if (created) *created = NT_SUCCESS(status) && result.Information == FILE_CREATED;
  return status;
}

NodeKind kindOfOpen(HANDLE handle) {
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info))
    return NodeKind::Other;
  if (GetFileType(handle) != FILE_TYPE_DISK) return NodeKind::Other;
  return windowsNodeKind(info.FileAttributes, info.ReparseTag);
}

bool identifyHandle(HANDLE directory, DirectoryId& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(directory, &info)) return false;
  id.device = info.dwVolumeSerialNumber;
  id.node = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

// Keeps `opened` as `directory` when it is a directory (not a link), told apart when `id`
// is given.
FsStatus keepDirectory(HANDLE opened, Handle& directory, DirectoryId* id) {
  Handle held = heldHandle(opened);
  if (kindOfOpen(opened) != NodeKind::Directory || (id != nullptr && !identifyHandle(opened, *id)))
    return FsStatus::Failed;
  directory = std::move(held);
  return FsStatus::Ok;
}

constexpr ACCESS_MASK directoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

// Marks the open `file` for deletion with POSIX semantics, where the file system has them:
// its name goes when this handle closes, even while the file is open elsewhere.
bool deleteAtClose(HANDLE file) {
  DWORD flags = dispositionDelete | dispositionPosix;
  return SetFileInformationByHandle(file,
                                    static_cast<FILE_INFO_BY_HANDLE_CLASS>(fileDispositionInfoEx),
                                    &flags, sizeof flags) != 0;
}

// Marks the open `file` for deletion the classic way: its name stays until every handle to
// it is closed.
bool deleteAtLastClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// Renames the open `file` to `name` in the directory `parent`; fails when the name is taken.
bool renameInto(HANDLE file, HANDLE parent, const std::wstring& name) {
  const size_t nameBytes = name.size() * sizeof(wchar_t);
  const size_t size = offsetof(RenameRequest, fileName) + nameBytes;
  std::vector<uint64_t> storage(size / sizeof(uint64_t) + 1);  // aligned for the handle
  RenameRequest* request = reinterpret_cast<RenameRequest*>(storage.data());
  request->replaceIfExists = FALSE;
  request->rootDirectory = parent;
  request->fileNameLength = static_cast<ULONG>(nameBytes);
  std::memcpy(reinterpret_cast<char*>(request) + offsetof(RenameRequest, fileName), name.data(),
              nameBytes);
  return NT_SUCCESS(setInformation(file, request, static_cast<ULONG>(size), fileRenameInformation));
}

// A name of the program's own, used once: for files on their way out and nameless copies.
std::wstring freshName(const wchar_t* prefix) {
  static std::atomic<uint32_t> counter{0};
  return prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) +
         L"-" + std::to_wstring(GetTickCount64());
}

// Takes the name `name` out of `parent`: a file (or link) when `directory` is false, an
// empty directory otherwise.
bool removeName(const Handle& parent, const std::string& name, bool directory) {
  std::wstring wide;
  if (!componentName(name, wide)) return false;
  HANDLE opened;
  if (!NT_SUCCESS(openRelative(nativeHandle(parent), wide, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN,
                               directory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE, opened)))
    return false;
  Handle held = heldHandle(opened);
  if (deleteAtClose(opened)) return true;
  if (directory) return deleteAtLastClose(opened);
  // Without POSIX semantics (older systems, FAT, Wine) a file that is open elsewhere, the
  // archive being extracted say, would keep its name until it is closed, and the new file
  // could not be made there: it is renamed out of the way first.
  if (!renameInto(opened, nativeHandle(parent), freshName(L".tolvex-removed-"))) return false;
  if (deleteAtLastClose(opened)) return true;
  renameInto(opened, nativeHandle(parent), wide);  // put back what could not be removed
  return false;
}

class WindowsFileSystem final : public FileSystem {
 public:
  bool takesName(const std::string& name) override { return isWindowsFileName(name); }

  FsStatus openRoot(const std::string& path, Handle& root, DirectoryId& id) override {
    const std::wstring wide = wideFromUtf8(path);
    CreateDirectoryW(wide.c_str(), nullptr);
    // The root is the user's to choose and may be a link; only what lies below is guarded.
    HANDLE opened = CreateFileW(wide.c_str(), directoryAccess | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
      return statusOfError(GetLastError()) == FsStatus::NoDescriptors ? FsStatus::NoDescriptors
                                                                      : FsStatus::Failed;
    Handle held = heldHandle(opened);
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &info, sizeof info) ||
        (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !identifyHandle(opened, id))
      return FsStatus::Failed;
    root = std::move(held);
    return FsStatus::Ok;
  }

  FsStatus makeDirectory(const Handle& parent, const std::string& name) override {
    std::wstring wide;
    if (!componentName(name, wide)) return FsStatus::Failed;
    HANDLE opened;
    NTSTATUS status = openRelative(nativeHandle(parent), wide, FILE_LIST_DIRECTORY, FILE_CREATE,
                                   FILE_DIRECTORY_FILE, opened);
    Handle made = heldHandle(opened);
    return statusOf(status);
  }

  FsStatus openDirectory(const Handle& parent, const std::string& name, Handle& directory,
                         DirectoryId* id) override {
    std::wstring wide;
    if (!componentName(name, wide)) return FsStatus::Failed;
    HANDLE opened;
    NTSTATUS status = openRelative(nativeHandle(parent), wide, directoryAccess, FILE_OPEN,
                                   FILE_DIRECTORY_FILE, opened);
    if (!NT_SUCCESS(status))
      return statusOf(status) == FsStatus::NoDescriptors ? FsStatus::NoDescriptors
                                                         : FsStatus::Failed;
    return keepDirectory(opened, directory, id);
  }

  bool identify(const Handle& directory, DirectoryId& id) override {
    return identifyHandle(nativeHandle(directory), id);
  }

  FsStatus createFile(const Handle& parent, const std::string& name, Handle& file) override {
    std::wstring wide;
    if (!componentName(name, wide)) return FsStatus::Failed;
    // FILE_CREATE refuses any name already taken, a link included, so what is opened here
    // is always a new, empty file.
    HANDLE opened;
    NTSTATUS status = openRelative(nativeHandle(parent), wide, FILE_GENERIC_WRITE, FILE_CREATE,
                                   FILE_NON_DIRECTORY_FILE, opened);
    if (NT_SUCCESS(status)) file = heldHandle(opened);
    return statusOf(status);
  }

  NodeKind kindOf(const Handle& parent, const std::string& name) override {
    std::wstring wide;
    if (!componentName(name, wide)) return NodeKind::Other;
    HANDLE opened;
    NTSTATUS status =
        openRelative(nativeHandle(parent), wide, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, opened);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND) return NodeKind::Absent;
    if (!NT_SUCCESS(status)) return NodeKind::Other;
    Handle held = heldHandle(opened);
    return kindOfOpen(opened);
  }

  // Windows takes names without regard to case, and some directories (made for Linux
  // tools) with regard to it: it cannot be told cheaply, and folding is the rule.
  bool mayFoldNames(const Handle&) override { return true; }

  bool removeFile(const Handle& parent, const std::string& name) override {
    return removeName(parent, name, false);
  }

  bool removeDirectory(const Handle& parent, const std::string& name) override {
    return removeName(parent, name, true);
  }

  FsStatus write(const Handle& file, const char* bytes, size_t count, size_t& written) override {
    return writeEverything(nativeHandle(file), bytes, count, written);
  }

  bool close(Handle& file) override {
    return CloseHandle(reinterpret_cast<HANDLE>(file.release())) != 0;
  }
};

// The archive's path as Windows takes it, in the \\?\ form when it is too long for the
// usual one (MAX_PATH), so that any path that names a file works.
std::wstring archivePath(const std::string& path) {
  std::wstring wide = wideFromUtf8(path);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (length == 0) return wide;
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
  if (length == 0 || length >= full.size()) return wide;
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  return L"\\\\?\\" + full;
}

// The first interrupt's event (CTRL_C_EVENT is 0), or none while none has come.
constexpr DWORD noEvent = ~DWORD(0);
std::atomic<DWORD> interruptEvent{noEvent};

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  DWORD expected = noEvent;
  // A second interrupt while the first is being wound down: the system's own handling
  // ends the program at once.
  if (!interruptEvent.compare_exchange_strong(expected, event)) return FALSE;
  // The console is closing: the program ends when this returns, so it waits here (the
  // system allows a few seconds) while the run winds down and ends the program itself.
  if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}

HANDLE standardOutput() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Console output is text, not bytes: UTF-8 goes there as UTF-16, whatever the console's
// code page. A sequence cut at the end of one write waits for the rest in the next.
bool writeConsole(HANDLE console, const char* bytes, size_t count) {
  // Guarded by the console's writer lock (console.cpp): standard output is written by one
  // thread at a time, one piece after the other.
  static std::string cut;
  std::string text = cut;
  text.append(bytes, count);
  size_t tail = incompleteTail(text);
  cut.assign(text, text.size() - tail, tail);
  text.resize(text.size() - tail);
  const std::wstring wide = wideFromUtf8(text);
  for (size_t done = 0; done < wide.size();) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
    DWORD took = 0;
    if (!WriteConsoleW(console, wide.data() + done, piece, &took, nullptr) || took == 0)
      return false;
    done += took;
  }
  return true;
}

}  // namespace

void Handle::reset() {
  if (value_ != none) CloseHandle(reinterpret_cast<HANDLE>(value_));
  value_ = none;
}

std::vector<std::string> commandLineArguments(int, char**) {
  // The command line is UTF-16 text, whatever the code page: it is split as the C runtime
  // splits it, and each argument becomes UTF-8.
  struct LocalFreer {
    void operator()(LPWSTR* memory) const { LocalFree(memory); }
  };
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreer> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> result;
  for (int i = 1; arguments && i < count; ++i)
    result.push_back(utf8FromWide(arguments.get()[i]));
  return result;
}

Handle openForReading(const std::string& path) {
  // Shared for writing and deletion too: the archive may be a file that the extraction
  // itself replaces.
  HANDLE opened = CreateFileW(archivePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return Handle();
  Handle file = heldHandle(opened);
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (GetFileType(opened) == FILE_TYPE_DISK &&
      (!GetFileInformationByHandleEx(opened, FileAttributeTagInfo, &info, sizeof info) ||
       (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
    return Handle();
  return file;
}

bool readsAtPositions(const Handle& file) {
  return GetFileType(nativeHandle(file)) == FILE_TYPE_DISK;
}

bool regularFileSize(const Handle& file, uint64_t& size) {
  FILE_STANDARD_INFO info = {};
  if (GetFileType(nativeHandle(file)) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(nativeHandle(file), FileStandardInfo, &info, sizeof info) ||
      info.Directory)
    return false;
  size = static_cast<uint64_t>(info.EndOfFile.QuadPart);
  return true;
}

int64_t readAt(const Handle& file, char* buffer, size_t count, uint64_t position) {
  if (position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return -1;
  // The handle is synchronous: the read waits, and it moves the handle's own position to
  // where it ended, which a write after it (to a nameless copy) would take for the end. So
  // the position is put back, and reads take turns around it, as the system has the reads
  // of one handle take turns anyway.
  static std::mutex positionLock;
  std::lock_guard<std::mutex> turn(positionLock);
  const HANDLE handle = nativeHandle(file);
  LARGE_INTEGER was = {};
  const bool hasPosition = SetFilePointerEx(handle, LARGE_INTEGER{}, &was, FILE_CURRENT) != 0;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(position >> 32);
  DWORD got = 0;
  DWORD piece = static_cast<DWORD>(std::min<size_t>(count, largestPiece));
  const bool read = ReadFile(handle, buffer, piece, &got, &at) != 0;
  const DWORD error = read ? ERROR_SUCCESS : GetLastError();
  if (hasPosition) SetFilePointerEx(handle, was, nullptr, FILE_BEGIN);
  if (read) return got;
  return error == ERROR_HANDLE_EOF ? 0 : -1;
}

int64_t readStream(const Handle& stream, char* buffer, size_t count) {
  // An interrupt does not cut a waiting read short here; the run winds down after it.
  if (interrupted()) return -1;
  DWORD got = 0;
  DWORD piece = static_cast<DWORD>(std::min<size_t>(count, largestPiece));
  if (ReadFile(nativeHandle(stream), buffer, piece, &got, nullptr)) return interrupted() ? -1 : got;
  // The writing end of a pipe closed: the stream has ended.
  return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

bool writeAll(const Handle& file, const char* bytes, size_t count) {
  size_t written = 0;
  return writeEverything(nativeHandle(file), bytes, count, written) == FsStatus::Ok;
}

Handle createNamelessFile(bool) {
  // Windows has no file without a name: this one has a fresh name that nobody else may
  // open (no sharing), and it is deleted when closed, by the system if the program dies.
  for (int attempt = 0; attempt < 16; ++attempt) {
    HANDLE opened = CreateFileW(
        freshName(L".tolvex-stream-").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (opened != INVALID_HANDLE_VALUE) return heldHandle(opened);
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return Handle();
}

FileSystem& nativeFileSystem() {
  static WindowsFileSystem fileSystem;
  return fileSystem;
}

size_t openFileLimit() {
  return 0;  // handles are not counted against a small limit
}

size_t usableProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
  }
  size_t count = 0;
  for (; process != 0; process &= process - 1)
    ++count;
  return count;
}

bool threadTimes(uint64_t& running, uint64_t& ready) {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return false;
  auto ticks = [](const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  running = (ticks(kernel) + ticks(user)) * 100;  // in units of 100 ns
  ready = 0;
  return true;
}

// Huge pages need a privilege that programs are not given: plain memory.
void* allocateLargeBlock(size_t bytes) {
  return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void freeLargeBlock(void* block, size_t) {
  VirtualFree(block, 0, MEM_RELEASE);
}

bool standardOutputIsTerminal() {
  return isConsole(standardOutput());
}

bool writeStandardOutput(const char* bytes, size_t count) {
  HANDLE out = standardOutput();
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  if (isConsole(out)) return writeConsole(out, bytes, count);
  // Anything else gets the bytes unchanged: no translation of line ends or code pages.
  size_t written = 0;
  return writeEverything(out, bytes, count, written) == FsStatus::Ok;
}

void installSignalHandling() {
  // Ctrl-C, Ctrl-Break and the closing of the console window. A process started with
  // Ctrl-C ignored is never told of it. Writes to a reader that went away fail on their
  // own; there is no signal for them, nor for file sizes.
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

bool interrupted() {
  return interruptEvent.load(std::memory_order_relaxed) != noEvent;
}

void endByInterrupt() {
  if (!interrupted()) return;
  // The status of a program that Ctrl-C ended.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

}  // namespace tolvex
