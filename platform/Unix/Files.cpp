// The kernel32 file functions over POSIX files. A handle is a heap object
// that lives in a set of open handles, so a stale or made-up handle fails
// with ERROR_INVALID_HANDLE instead of touching some other descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "CaseFold.h"
#include "Handles.h"
#include "MachineRoot.h"
#include "Syscalls.h"
#include "Win32Api.h"

namespace {

constexpr DWORD kErrorNotSameDevice = 17;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorFileTooLarge = 223;
constexpr DWORD kErrorNoData = 232;
constexpr DWORD kErrorIoDevice = 1117;
constexpr DWORD kErrorCantResolveFilename = 1921;

thread_local DWORD lastError = ERROR_SUCCESS;

DWORD WindowsCode(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ETXTBSY:
    case EBUSY:
      return ERROR_SHARING_VIOLATION;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ESPIPE:
      return ERROR_INVALID_FUNCTION;
    case EPIPE:
      return kErrorNoData;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return kErrorFileTooLarge;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EXDEV:
      return kErrorNotSameDevice;
    case ELOOP:
      return kErrorCantResolveFilename;
    case EIO:
      return kErrorIoDevice;
    default:
      return kErrorGenFailure;
  }
}

BOOL Fail(DWORD code) {
  lastError = code;
  return FALSE;
}

BOOL FailWithErrno() { return Fail(WindowsCode(errno)); }

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Windows tells a missing file (2) from a missing folder on the way (3).
BOOL FailForPath(int error, const std::string& hostPath) {
  if (error == ENOENT && !IsFolder(ParentOf(hostPath))) return Fail(ERROR_PATH_NOT_FOUND);
  return Fail(WindowsCode(error));
}

// --- Paths -----------------------------------------------------------------

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool IsValidName(std::string_view name) {
  for (unsigned char c : name) {
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) return false;
  }
  return true;
}

// Windows finds a file below a drive whatever the case of its name; the host
// file system does not. Of several names that differ in letter case only,
// every spelling finds the same one, the first in byte order, so that loads,
// appends and rewrites all use one file. A name found nowhere stays as
// written, so a new file keeps the case it was created with.
std::string MatchingEntry(const std::string& folder, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
  if (!listing) return name;
  std::string found;
  while (const dirent* entry = readdir(listing.get())) {
    if (SameNameIgnoringCase(entry->d_name, name) && (found.empty() || entry->d_name < found)) {
      found = entry->d_name;
    }
  }
  return found.empty() ? name : found;
}

// Splits what follows "X:" into names, dropping "." and resolving ".." as
// Windows does before the file system sees the path: never above the drive.
bool SplitBelowDrive(std::string_view rest, std::vector<std::string>& names) {
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view name = rest.substr(start, end - start);
    start = end + 1;
    // Windows drops a name's trailing dots and blanks: "a.dat. " is "a.dat".
    if (name != "..") name = name.substr(0, name.find_last_not_of(". ") + 1);
    if (name.empty()) continue;
    if (name == "..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    if (!IsValidName(name)) return false;
    names.emplace_back(name);
  }
  return true;
}

BOOL ResolveDrivePath(std::string_view path, std::string& hostPath) {
  const std::string root = MachineRoot();
  if (root.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  std::string folder = root + "/drive_" + static_cast<char>(std::tolower(path[0]));
  if (!IsFolder(folder)) return Fail(ERROR_PATH_NOT_FOUND);
  std::vector<std::string> names;
  if (!SplitBelowDrive(path.substr(2), names)) return Fail(ERROR_INVALID_NAME);
  for (const std::string& name : names) folder += "/" + MatchingEntry(folder, name);
  hostPath = folder;
  return TRUE;
}

// Windows takes these names for its devices in any folder, on any drive,
// whatever follows a dot or a colon, in any letter case.
bool IsDeviceName(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') path.remove_prefix(2);
  path.remove_prefix(path.find_last_of("\\/") + 1);
  path = path.substr(0, path.find_first_of(".:"));
  while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
  std::string name(path);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") return true;
  return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) &&
         name[3] >= '1' && name[3] <= '9';
}

// "X:\a\b" lies in the machine root's drive_x folder; any other path is a
// host path, absolute or relative to the current folder. A device name is
// refused: only CreateFileA opens devices.
BOOL ResolvePath(LPCSTR path, std::string& hostPath) {
  const std::string_view text = path == nullptr ? "" : path;
  if (text.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  if (IsDeviceName(text)) return Fail(ERROR_ACCESS_DENIED);
  const bool isDrive = text.size() >= 2 && text[1] == ':' &&
                       ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
  if (isDrive) return ResolveDrivePath(text, hostPath);
  hostPath = text;
  for (char& c : hostPath) {
    if (c == '\\') c = '/';
  }
  return TRUE;
}

// --- Handles ---------------------------------------------------------------

struct FileHandle {
  int fd;
  bool reads;
  bool writes;
};

std::mutex handlesLock;
std::unordered_set<FileHandle*> openHandles;

FileHandle* Lookup(HANDLE handle) {
  std::lock_guard<std::mutex> guard(handlesLock);
  const auto found = openHandles.find(static_cast<FileHandle*>(handle));
  if (found == openHandles.end()) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *found;
}

std::unique_ptr<FileHandle> TakeOut(HANDLE handle) {
  std::lock_guard<std::mutex> guard(handlesLock);
  if (openHandles.erase(static_cast<FileHandle*>(handle)) == 0) return nullptr;
  return std::unique_ptr<FileHandle>(static_cast<FileHandle*>(handle));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) unixSyscalls.close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// --- Share modes -----------------------------------------------------------

// Share modes hold between all handles on a file, of this process and of
// others, through open-file-description locks: they belong to the handle,
// not to the process, and vanish with it, also when a process dies. A handle
// holds a shared lock on one byte for each fact about it: it reads, it
// writes, it refuses other readers, it refuses other writers. An open takes
// its own locks first and then looks for another handle's conflicting fact,
// so two racing opens may both fail but never both succeed. The bytes lie
// far beyond any file's data; F_RDLCK needs a readable descriptor, which is
// why a handle that writes is opened for reading too. A handle that does not
// share deletion says so too: such a file is neither deleted nor replaced.
enum ShareFact { Reads, Writes, RefusesReaders, RefusesWriters, RefusesDeleters };
constexpr off_t kShareLockBase = off_t{1} << 62;

struct flock ShareLock(short type, ShareFact fact) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareLockBase + fact;
  lock.l_len = 1;
  return lock;
}

bool Hold(int fd, ShareFact fact) {
  struct flock lock = ShareLock(F_RDLCK, fact);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool HeldByAnother(int fd, ShareFact fact) {
  struct flock lock = ShareLock(F_WRLCK, fact);
  return fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

bool TakeShareLocks(int fd, bool reads, bool writes, DWORD shareMode) {
  if (!reads && !writes) return true;
  const struct {
    bool applies;
    ShareFact own;
    ShareFact conflicting;
  } facts[] = {
      {reads, Reads, RefusesReaders},
      {writes, Writes, RefusesWriters},
      {(shareMode & FILE_SHARE_READ) == 0, RefusesReaders, Reads},
      {(shareMode & FILE_SHARE_WRITE) == 0, RefusesWriters, Writes},
  };
  for (const auto& fact : facts) {
    if (fact.applies && !Hold(fd, fact.own)) return false;
  }
  for (const auto& fact : facts) {
    if (fact.applies && HeldByAnother(fd, fact.conflicting)) return false;
  }
  return (shareMode & FILE_SHARE_DELETE) != 0 || Hold(fd, RefusesDeleters);
}

// Whether a handle, of this process or another, keeps the file from being
// deleted, renamed or replaced.
bool HeldAgainstDeletion(const std::string& hostPath) {
  const Descriptor fd(unixSyscalls.open(
      hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0));
  return fd.get() >= 0 && HeldByAnother(fd.get(), RefusesDeleters);
}

// Why Windows would refuse to delete or replace the file: 5 for a read-only
// file, heldCode for one that a handle holds without sharing deletion. A link
// is never refused: it is the link that goes.
DWORD RemovalRefusal(const std::string& hostPath, DWORD heldCode) {
  struct stat status;
  if (lstat(hostPath.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return ERROR_SUCCESS;
  if ((status.st_mode & 0222) == 0) return ERROR_ACCESS_DENIED;
  return HeldAgainstDeletion(hostPath) ? heldCode : ERROR_SUCCESS;
}

// --- Opening ---------------------------------------------------------------

bool Creates(DWORD creation) {
  return creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS;
}

// Opens without emptying: an existing file is emptied only after the share
// check, so an open that fails with 32 leaves another holder's data alone.
// O_NONBLOCK keeps the open of a FIFO from waiting for its other end.
int OpenDescriptor(const std::string& hostPath, bool writes, DWORD creation, bool& existed) {
  const int flags = (writes ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  existed = false;
  if (Creates(creation)) {
    const int fd = unixSyscalls.open(hostPath.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST || creation == CREATE_NEW) return fd;
  }
  existed = true;
  return unixSyscalls.open(hostPath.c_str(), flags, 0);
}

// Checks and prepares an opened regular file; returns 0 or a Windows code.
DWORD PrepareRegularFile(int fd, const struct stat& status, bool reads, bool writes,
                         DWORD shareMode, bool empties) {
  // A file without any write permission stands for one with the read-only
  // attribute, which refuses writers even when they are administrators.
  if (writes && (status.st_mode & 0222) == 0) return ERROR_ACCESS_DENIED;
  if (!TakeShareLocks(fd, reads, writes, shareMode)) return ERROR_SHARING_VIOLATION;
  if (empties && unixSyscalls.ftruncate(fd, 0) != 0) return WindowsCode(errno);
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE RegisterHandle(int fd, bool reads, bool writes) {
  auto* file = new FileHandle{fd, reads, writes};
  std::lock_guard<std::mutex> guard(handlesLock);
  openHandles.insert(file);
  return file;
}

int DescriptorOf(HANDLE handle) {
  const FileHandle* file = Lookup(handle);
  return file == nullptr ? -1 : file->fd;
}

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creation, DWORD, HANDLE) {
  const bool reads = (access & GENERIC_READ) != 0;
  const bool writes = (access & GENERIC_WRITE) != 0;
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING ||
      (creation == TRUNCATE_EXISTING && !writes)) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Every device is the null device here; what matters is that it is one.
  std::string hostPath = "/dev/null";
  if (!IsDeviceName(fileName) && !ResolvePath(fileName, hostPath)) return INVALID_HANDLE_VALUE;
  bool existed = false;
  Descriptor fd(OpenDescriptor(hostPath, writes, creation, existed));
  if (fd.get() < 0) {
    FailForPath(errno, hostPath);
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  if (fstat(fd.get(), &status) != 0) {
    FailWithErrno();
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISDIR(status.st_mode)) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (S_ISREG(status.st_mode)) {
    const bool empties = existed && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
    const DWORD code = PrepareRegularFile(fd.get(), status, reads, writes, shareMode, empties);
    if (code != ERROR_SUCCESS) {
      Fail(code);
      return INVALID_HANDLE_VALUE;
    }
  }
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  // As on Windows, these two dispositions say on success whether the file was there.
  lastError = existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)
                  ? ERROR_ALREADY_EXISTS
                  : ERROR_SUCCESS;
  return RegisterHandle(fd.release(), reads, writes);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED) {
  if (read != nullptr) *read = 0;
  const FileHandle* handle = Lookup(file);
  if (handle == nullptr) return FALSE;
  if (!handle->reads) return Fail(ERROR_ACCESS_DENIED);
  const ssize_t done = unixSyscalls.read(handle->fd, buffer, count);
  if (done < 0) return FailWithErrno();
  if (read != nullptr) *read = static_cast<DWORD>(done);
  return TRUE;
}

// Windows writes all of a disk write or fails; a short POSIX write is
// continued, and one that makes no progress can only mean a full disk.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
  if (written != nullptr) *written = 0;
  const FileHandle* handle = Lookup(file);
  if (handle == nullptr) return FALSE;
  if (!handle->writes) return Fail(ERROR_ACCESS_DENIED);
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    const ssize_t step = unixSyscalls.write(handle->fd, bytes + done, count - done);
    if (step <= 0) {
      if (written != nullptr) *written = done;
      return step == 0 ? Fail(ERROR_DISK_FULL) : FailWithErrno();
    }
    done += static_cast<DWORD>(step);
  }
  if (written != nullptr) *written = done;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  const std::unique_ptr<FileHandle> handle = TakeOut(object);
  if (!handle) return Fail(ERROR_INVALID_HANDLE);
  if (unixSyscalls.close(handle->fd) != 0) return FailWithErrno();
  return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  const FileHandle* handle = Lookup(file);
  struct stat status;
  if (handle == nullptr) return INVALID_FILE_SIZE;
  if (fstat(handle->fd, &status) != 0) {
    FailWithErrno();
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  const FileHandle* handle = Lookup(file);
  if (handle == nullptr) return INVALID_SET_FILE_POINTER;
  if (method > FILE_END) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  const int64_t offset =
      distanceHigh == nullptr
          ? distance
          : static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                 static_cast<DWORD>(distance));
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  const off_t position = unixSyscalls.lseek(handle->fd, offset, kWhence[method]);
  if (position < 0) {
    // The whence is valid, so EINVAL means a position before the start.
    Fail(errno == EINVAL ? kErrorNegativeSeek : WindowsCode(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(position >> 32);
  const DWORD low = static_cast<DWORD>(position);
  // The caller tells this position from a failure by GetLastError.
  if (low == INVALID_SET_FILE_POINTER) lastError = NO_ERROR;
  return low;
}

BOOL SetEndOfFile(HANDLE file) {
  const FileHandle* handle = Lookup(file);
  if (handle == nullptr) return FALSE;
  if (!handle->writes) return Fail(ERROR_ACCESS_DENIED);
  const off_t position = unixSyscalls.lseek(handle->fd, 0, SEEK_CUR);
  if (position < 0 || unixSyscalls.ftruncate(handle->fd, position) != 0) return FailWithErrno();
  return TRUE;
}

DWORD GetFileType(HANDLE file) {
  const FileHandle* handle = Lookup(file);
  struct stat status;
  if (handle == nullptr) return FILE_TYPE_UNKNOWN;
  if (fstat(handle->fd, &status) != 0) {
    FailWithErrno();
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISREG(status.st_mode)) return FILE_TYPE_DISK;
  if (S_ISCHR(status.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return FILE_TYPE_PIPE;
  lastError = NO_ERROR;
  return FILE_TYPE_UNKNOWN;
}

BOOL FlushFileBuffers(HANDLE file) {
  const FileHandle* handle = Lookup(file);
  if (handle == nullptr) return FALSE;
  if (!handle->writes) return Fail(ERROR_ACCESS_DENIED);
  if (unixSyscalls.fsync(handle->fd) != 0) return FailWithErrno();
  return TRUE;
}

// MOVEFILE_WRITE_THROUGH makes the rename itself durable: the folder that
// holds the new name is synced after it.
BOOL MoveFileExA(LPCSTR existing, LPCSTR replacement, DWORD flags) {
  if ((flags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  std::string from, to;
  if (!ResolvePath(existing, from) || !ResolvePath(replacement, to)) return FALSE;
  struct stat status;
  if (lstat(from.c_str(), &status) != 0) return FailForPath(errno, from);
  // Windows opens the file it moves for deletion, which a handle without
  // FILE_SHARE_DELETE refuses, this process's own included.
  if (S_ISREG(status.st_mode) && HeldAgainstDeletion(from)) return Fail(ERROR_SHARING_VIOLATION);
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && lstat(to.c_str(), &status) == 0) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  // Wine, as Windows, answers 5 for a target that is held as well.
  if (const DWORD refusal = RemovalRefusal(to, ERROR_ACCESS_DENIED)) return Fail(refusal);
  if (unixSyscalls.rename(from.c_str(), to.c_str()) != 0) return FailForPath(errno, to);
  if ((flags & MOVEFILE_WRITE_THROUGH) == 0) return TRUE;
  const Descriptor folder(
      unixSyscalls.open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (folder.get() < 0 || unixSyscalls.fsync(folder.get()) != 0) return FailWithErrno();
  return TRUE;
}

BOOL DeleteFileA(LPCSTR fileName) {
  std::string hostPath;
  if (!ResolvePath(fileName, hostPath)) return FALSE;
  if (const DWORD refusal = RemovalRefusal(hostPath, ERROR_SHARING_VIOLATION)) return Fail(refusal);
  if (unixSyscalls.unlink(hostPath.c_str()) != 0) return FailForPath(errno, hostPath);
  return TRUE;
}

// A drive path in the long form Windows gives (\\?\X:\...) for a file below a
// drive folder of the machine root, else the host path: the file itself, not
// a link to it.
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD) {
  const int fd = DescriptorOf(file);
  if (fd < 0) return 0;
  char hostPath[4096];
  const ssize_t length =
      readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), hostPath, sizeof hostPath - 1);
  if (length <= 0) return FailWithErrno();
  std::string finalPath(hostPath, static_cast<size_t>(length));
  const std::unique_ptr<char, void (*)(void*)> root(realpath(MachineRoot().c_str(), nullptr), free);
  const std::string drives = root ? std::string(root.get()) + "/drive_" : "";
  if (!drives.empty() && finalPath.starts_with(drives) && finalPath.size() > drives.size() &&
      (finalPath.size() == drives.size() + 1 || finalPath[drives.size() + 1] == '/')) {
    std::string rest = finalPath.substr(drives.size() + 1);
    for (char& c : rest) {
      if (c == '/') c = '\\';
    }
    finalPath = "\\\\?\\" +
                std::string(1, static_cast<char>(std::toupper(finalPath[drives.size()]))) + ":" +
                (rest.empty() ? "\\" : rest);
  }
  if (finalPath.size() >= size) return static_cast<DWORD>(finalPath.size() + 1);
  std::memcpy(path, finalPath.c_str(), finalPath.size() + 1);
  return static_cast<DWORD>(finalPath.size());
}
