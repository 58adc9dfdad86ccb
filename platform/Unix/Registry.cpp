// The registry as REGEDIT4 hive files in the machine root. Every call sees
// the file as it is now, but an unchanged file is not read again; every
// write is read-modify-write under an exclusive lock and replaces the file
// whole, so that a crash leaves either the old hive or the new one. Nothing
// waits for ever: a hive that is no regular file is refused unopened, and a
// lock that another process keeps is given up after a while.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "CaseFold.h"
#include "Handles.h"
#include "Hive.h"
#include "MachineRoot.h"
#include "Syscalls.h"
#include "Win32.h"

namespace {

enum HiveId { LocalMachine, CurrentUser };

struct OpenKey {
  HiveId hive;
  std::string path;
  REGSAM access;
};

constexpr REGSAM kWriteAccess = 0x0002 | 0x0004 | 0x0020 | 0x10000 | 0x40000 | 0x80000;

std::set<OpenKey*> openKeys;

struct HiveFile {
  explicit HiveFile(const char* rootName) : hive(rootName) {}
  struct stat identity {};
  bool known = false;
  LONG status = ERROR_SUCCESS;
  Hive hive;
};

std::map<std::string, std::unique_ptr<HiveFile>> hiveFiles;

const char* RootNameOf(HiveId id) {
  return id == LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string HivePathOf(HiveId id) {
  const std::string root = MachineRoot();
  if (root.empty()) return {};
  return root + (id == LocalMachine ? "/HKLM.reg" : "/HKCU.reg");
}

// Another program can edit the file in place and put its size and
// modification time back, but it cannot set back the status-change time.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The hive as its file holds it now; read again only when the file changed.
HiveFile* Current(HiveId id, LONG& status) {
  const std::string path = HivePathOf(id);
  if (path.empty()) {
    status = ERROR_CANTOPEN;
    return nullptr;
  }
  std::unique_ptr<HiveFile>& file = hiveFiles[path];
  if (!file) file = std::make_unique<HiveFile>(RootNameOf(id));
  struct stat now {};
  const bool exists = unixSyscalls.stat(path.c_str(), &now) == 0;
  if (!exists && errno != ENOENT) {
    status = ERROR_CANTREAD;
    return nullptr;
  }
  if (!exists) now = {};
  if (!file->known || !SameFile(now, file->identity)) {
    std::string text;
    LONG read = exists ? ReadWhole(path, now, text) : ERROR_SUCCESS;
    // Only a missing hive is an empty registry; an empty file is a broken one.
    if (read == ERROR_SUCCESS && exists && text.empty()) read = ERROR_BADDB;
    file->status = read == ERROR_SUCCESS && !file->hive.Parse(std::move(text)) ? ERROR_BADDB : read;
    if (file->status != ERROR_SUCCESS) file->hive.Parse("");
    file->identity = now;
    file->known = true;
  }
  status = file->status;
  return status == ERROR_SUCCESS ? file.get() : nullptr;
}

// Whether this process may replace the hive, as the system answers for the
// effective user: write access to the file, and write and search access to
// the folder that the new file is renamed into. A file without any write bit
// is read-only for everyone, as Windows' read-only attribute is, although
// the system would let root write it.
bool Writable(HiveId id) {
  const std::string path = HivePathOf(id);
  struct stat info {};
  const bool exists = stat(path.c_str(), &info) == 0;
  const bool fileWritable =
      (info.st_mode & 0222) != 0 && faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
  return (!exists || fileWritable) &&
         faccessat(AT_FDCWD, MachineRoot().c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Windows' FILETIME: 100 ns units since 1601.
uint64_t FileTimeOf(const timespec& time) {
  return (static_cast<uint64_t>(time.tv_sec) + 11644473600u) * 10000000u +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

// The keys' last-write time is the file's, so it must move on with every
// write, also within one tick of the file system's clock.
void MoveOnFrom(int fd, const timespec& previous) {
  struct stat written {};
  if (fstat(fd, &written) != 0 || FileTimeOf(written.st_mtim) > FileTimeOf(previous)) return;
  timespec times[2] = {{0, UTIME_OMIT}, previous};
  times[1].tv_nsec += 100;
  if (times[1].tv_nsec >= 1000000000) {
    times[1].tv_nsec -= 1000000000;
    ++times[1].tv_sec;
  }
  futimens(fd, times);
}

// The temporary is made afresh and exclusively: a link planted at its name
// would otherwise have the hive's text written wherever it points.
LONG WriteWhole(const std::string& path, const std::string& text, const timespec& previous) {
  const std::string temporary = path + ".new";
  unixSyscalls.unlink(temporary.c_str());
  const int fd =
      unixSyscalls.open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return ERROR_CANTWRITE;
  size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    const ssize_t count = unixSyscalls.write(fd, text.data() + done, text.size() - done);
    ok = count > 0;
    if (ok) done += static_cast<size_t>(count);
  }
  const int writeError = errno;
  if (ok) MoveOnFrom(fd, previous);
  ok = ok && unixSyscalls.fsync(fd) == 0;
  ok = unixSyscalls.close(fd) == 0 && ok;
  ok = ok && unixSyscalls.rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    unixSyscalls.unlink(temporary.c_str());
    return writeError == ENOSPC || errno == ENOSPC ? ERROR_DISK_FULL : ERROR_CANTWRITE;
  }
  const std::string folder = path.substr(0, path.rfind('/'));
  const int folderFd = unixSyscalls.open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (folderFd >= 0) {
    unixSyscalls.fsync(folderFd);
    unixSyscalls.close(folderFd);
  }
  return ERROR_SUCCESS;
}

// The writers' lock on a hive, <hive>.lock, never through a link and never
// one that another user could hold. A writer that another process keeps
// waiting for 10 seconds gives up.
class WriterLock {
 public:
  explicit WriterLock(const std::string& hivePath)
      : fd(open((hivePath + ".lock").c_str(),
                O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600)) {
    using std::chrono::steady_clock;
    const steady_clock::time_point deadline = steady_clock::now() + std::chrono::seconds(10);
    status = fd < 0 ? ERROR_CANTWRITE : !IsOwnLockFile(fd) ? ERROR_LOCK_VIOLATION : ERROR_SUCCESS;
    while (status == ERROR_SUCCESS && flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK || steady_clock::now() > deadline) {
        status = ERROR_LOCK_VIOLATION;
      } else {
        usleep(10000);
      }
    }
  }
  ~WriterLock() {
    if (fd >= 0) close(fd);
  }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

  LONG status;

 private:
  int fd;
};

// Applies a change to the hive as its file holds it under the lock, and
// replaces the file with the result.
LONG ChangeHive(HiveId id, const std::function<LONG(Hive&)>& change) {
  const std::string path = HivePathOf(id);
  if (path.empty()) return ERROR_CANTOPEN;
  const WriterLock lock(path);
  if (lock.status != ERROR_SUCCESS) return lock.status;
  LONG status = ERROR_SUCCESS;
  HiveFile* file = Current(id, status);
  if (file) status = change(file->hive);
  if (file && status == ERROR_SUCCESS) {
    status = WriteWhole(path, file->hive.Serialize(), file->identity.st_mtim);
  }
  // Whatever happened, the next call reads the file afresh.
  if (file) file->known = false;
  return status;
}

OpenKey* KeyOf(HKEY key) {
  static OpenKey localMachine{LocalMachine, "", KEY_ALL_ACCESS};
  static OpenKey currentUser{CurrentUser, "", KEY_ALL_ACCESS};
  if (key == HKEY_LOCAL_MACHINE) return &localMachine;
  if (key == HKEY_CURRENT_USER) return &currentUser;
  auto* open = reinterpret_cast<OpenKey*>(key);
  return openKeys.count(open) ? open : nullptr;
}

std::string Joined(const std::string& base, LPCSTR subKey) {
  if (!subKey || !*subKey) return base;
  return base.empty() ? subKey : base + "\\" + subKey;
}

// The key behind a handle as the hive now holds it; its section may be
// absent when only keys below it have one.
LONG Lookup(HKEY handle, OpenKey*& key, HiveFile*& file, const HiveKey*& section) {
  key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  LONG status = ERROR_SUCCESS;
  file = Current(key->hive, status);
  if (!file) return status;
  if (!file->hive.Exists(key->path)) return ERROR_KEY_DELETED;
  section = file->hive.Find(key->path);
  return ERROR_SUCCESS;
}

LONG NewHandle(HiveId hive, std::string path, REGSAM access, PHKEY result) {
  auto* key = new OpenKey{hive, std::move(path), access};
  openKeys.insert(key);
  *result = reinterpret_cast<HKEY>(key);
  return ERROR_SUCCESS;
}

// The 32-bit view of 64-bit Windows keeps the 32-bit programs' keys of
// HKEY_LOCAL_MACHINE\Software apart, below Software\Wow6432Node.
std::string ViewPath(const OpenKey& base, LPCSTR subKey, REGSAM access) {
  const std::string path = Joined(base.path, subKey);
  const std::string folded = FoldedCopy(path);
  const bool software = folded == "software" || folded.starts_with("software\\");
  const bool redirected =
      folded == "software\\wow6432node" || folded.starts_with("software\\wow6432node\\");
  if (!(access & KEY_WOW64_32KEY) || base.hive != LocalMachine || !base.path.empty() || !software ||
      redirected) {
    return path;
  }
  return path.substr(0, 8) + "\\Wow6432Node" + path.substr(8);
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Windows keeps string data as UTF-16, so its sizes are in those units.
DWORD StoredSize(const HiveValue& value) {
  return static_cast<DWORD>(value.data.size() * (IsStringType(value.type) ? sizeof(WCHAR) : 1));
}

// String data as UTF-16 units, anything else as it is, with the size the
// caller asked for or needs.
LONG WidenData(const HiveValue& value, LPBYTE data, LPDWORD dataLength) {
  if (!dataLength) return ERROR_SUCCESS;
  const DWORD available = *dataLength;
  *dataLength = StoredSize(value);
  if (!data) return ERROR_SUCCESS;
  if (available < *dataLength) return ERROR_MORE_DATA;
  if (!IsStringType(value.type)) {
    value.data.copy(reinterpret_cast<char*>(data), value.data.size());
    return ERROR_SUCCESS;
  }
  std::basic_string<WCHAR> wide(value.data.size(), WCHAR{});
  MultiByteToWideChar(CP_ACP, 0, value.data.data(), static_cast<int>(wide.size()), wide.data(),
                      static_cast<int>(wide.size()));
  wide.copy(reinterpret_cast<WCHAR*>(data), wide.size());
  return ERROR_SUCCESS;
}

LONG CopyOut(const std::string& bytes, LPBYTE data, LPDWORD length) {
  if (!length) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD available = *length;
  *length = static_cast<DWORD>(bytes.size());
  if (!data) return ERROR_SUCCESS;
  if (available < bytes.size()) return ERROR_MORE_DATA;
  memcpy(data, bytes.data(), bytes.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY handle, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  const OpenKey* base = KeyOf(handle);
  if (!base) return ERROR_INVALID_HANDLE;
  LONG status = ERROR_SUCCESS;
  HiveFile* file = Current(base->hive, status);
  if (!file) return status;
  const std::string path = ViewPath(*base, subKey, access);
  if (!file->hive.Exists(path)) return ERROR_FILE_NOT_FOUND;
  if ((access & kWriteAccess) && !Writable(base->hive)) return ERROR_ACCESS_DENIED;
  return NewHandle(base->hive, path, access, result);
}

LONG RegCreateKeyExA(HKEY handle, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  const OpenKey* base = KeyOf(handle);
  if (!base) return ERROR_INVALID_HANDLE;
  if (!Writable(base->hive)) return ERROR_ACCESS_DENIED;
  const std::string path = ViewPath(*base, subKey, access);
  bool created = false;
  const LONG status = ChangeHive(base->hive, [&](Hive& hive) -> LONG {
    if (hive.Exists(path)) return ERROR_ALREADY_EXISTS;
    hive.Create(path);
    created = true;
    return ERROR_SUCCESS;
  });
  if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) return status;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return NewHandle(base->hive, path, access, result);
}

LONG RegCloseKey(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE || handle == HKEY_CURRENT_USER) return ERROR_SUCCESS;
  auto* key = reinterpret_cast<OpenKey*>(handle);
  if (!openKeys.erase(key)) return ERROR_INVALID_HANDLE;
  delete key;
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY handle, LPCSTR subKey) {
  const OpenKey* base = KeyOf(handle);
  if (!base) return ERROR_INVALID_HANDLE;
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  if (!Writable(base->hive)) return ERROR_ACCESS_DENIED;
  const std::string path = Joined(base->path, subKey);
  return ChangeHive(base->hive, [&](Hive& hive) -> LONG {
    if (!hive.Exists(path)) return ERROR_FILE_NOT_FOUND;
    return hive.RemoveKey(path) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  });
}

LONG RegQueryInfoKeyA(HKEY handle, LPSTR, LPDWORD, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                      LPDWORD securityDescriptor, PFILETIME lastWriteTime) {
  OpenKey* key = nullptr;
  HiveFile* file = nullptr;
  const HiveKey* section = nullptr;
  const LONG status = Lookup(handle, key, file, section);
  if (status != ERROR_SUCCESS) return status;
  const std::vector<std::string> children = file->hive.SubKeysOf(key->path);
  DWORD longestChild = 0, longestName = 0, longestData = 0;
  for (const std::string& child : children)
    longestChild = std::max<DWORD>(longestChild, child.size());
  if (section) {
    for (const HiveValue& value : section->values) {
      longestName = std::max<DWORD>(longestName, value.name.size());
      longestData = std::max<DWORD>(longestData, StoredSize(value));
    }
  }
  if (subKeys) *subKeys = static_cast<DWORD>(children.size());
  if (maxSubKeyLength) *maxSubKeyLength = longestChild;
  if (maxClassLength) *maxClassLength = 0;
  if (values) *values = section ? static_cast<DWORD>(section->values.size()) : 0;
  if (maxValueNameLength) *maxValueNameLength = longestName;
  if (maxValueLength) *maxValueLength = longestData;
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWriteTime) {
    const uint64_t written = file->identity.st_mtim.tv_sec ? FileTimeOf(file->identity.st_mtim) : 0;
    *lastWriteTime = {static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
  }
  return ERROR_SUCCESS;
}

namespace {

// The value at a position of an open key, for both forms of the listing.
LONG EnumeratedValue(HKEY handle, DWORD index, const void* valueName, LPDWORD valueNameLength,
                     const HiveValue*& value) {
  OpenKey* key = nullptr;
  HiveFile* file = nullptr;
  const HiveKey* section = nullptr;
  const LONG status = Lookup(handle, key, file, section);
  if (status != ERROR_SUCCESS) return status;
  if (!section || index >= section->values.size()) return ERROR_NO_MORE_ITEMS;
  if (!valueName || !valueNameLength) return ERROR_INVALID_PARAMETER;
  value = &section->values[index];
  return *valueNameLength <= value->name.size() ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

}  // namespace

LONG RegEnumValueA(HKEY handle, DWORD index, LPSTR valueName, LPDWORD valueNameLength, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  const HiveValue* value = nullptr;
  const LONG status = EnumeratedValue(handle, index, valueName, valueNameLength, value);
  if (status != ERROR_SUCCESS) return status;
  memcpy(valueName, value->name.data(), value->name.size());
  valueName[value->name.size()] = 0;
  *valueNameLength = static_cast<DWORD>(value->name.size());
  if (type) *type = value->type;
  return CopyOut(value->data, data, dataLength);
}

LONG RegEnumValueW(HKEY handle, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  const HiveValue* value = nullptr;
  const LONG status = EnumeratedValue(handle, index, valueName, valueNameLength, value);
  if (status != ERROR_SUCCESS) return status;
  const int length = static_cast<int>(value->name.size());
  MultiByteToWideChar(CP_ACP, 0, value->name.data(), length, valueName, length);
  valueName[length] = 0;
  *valueNameLength = static_cast<DWORD>(length);
  if (type) *type = value->type;
  return WidenData(*value, data, dataLength);
}

LONG RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  OpenKey* key = nullptr;
  HiveFile* file = nullptr;
  const HiveKey* section = nullptr;
  const LONG status = Lookup(handle, key, file, section);
  if (status != ERROR_SUCCESS) return status;
  const HiveValue* value = section ? section->Find(valueName ? valueName : "") : nullptr;
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  return CopyOut(value->data, data, dataLength);
}

LONG RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataLength) {
  const OpenKey* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE) || !Writable(key->hive)) return ERROR_ACCESS_DENIED;
  if (!data && dataLength) return ERROR_INVALID_PARAMETER;
  HiveValue value{valueName ? valueName : "", type,
                  std::string(reinterpret_cast<const char*>(data), data ? dataLength : 0)};
  return ChangeHive(key->hive, [&](Hive& hive) -> LONG {
    if (!hive.Exists(key->path)) return ERROR_KEY_DELETED;
    hive.Create(key->path).Set(std::move(value));
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY handle, LPCSTR valueName) {
  const OpenKey* key = KeyOf(handle);
  if (!key) return ERROR_INVALID_HANDLE;
  if (!(key->access & KEY_SET_VALUE) || !Writable(key->hive)) return ERROR_ACCESS_DENIED;
  return ChangeHive(key->hive, [&](Hive& hive) -> LONG {
    if (!hive.Exists(key->path)) return ERROR_KEY_DELETED;
    return hive.Create(key->path).Remove(valueName ? valueName : "") ? ERROR_SUCCESS
                                                                     : ERROR_FILE_NOT_FOUND;
  });
}
