// A named mutex as a lock file in the machine root: flock() holds across all
// processes of the machine and is released by the kernel when its holder
// dies, as Windows gives up an abandoned mutex. Only what KeyVigil needs is
// offered: no recursion, no initial owner.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "Handles.h"
#include "MachineRoot.h"

// flock() takes any descriptor, so a lock file that another user could open
// would let that user keep every run waiting: only a regular file of the
// effective user's or root's serves, and the effective user's own is kept
// private to it.
bool IsOwnLockFile(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  if (status.st_uid != geteuid() && status.st_uid != 0) return false;
  return status.st_uid != geteuid() || (status.st_mode & 077) == 0 || fchmod(fd, 0600) == 0;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
  const std::string root = MachineRoot();
  if (initialOwner || name == nullptr || root.empty()) {
    SetLastError(root.empty() ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string file = name;
  for (char& c : file) {
    if (c == '\\' || c == '/') c = '_';
  }
  const int fd = open((root + "/" + file + ".mutex").c_str(),
                      O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!IsOwnLockFile(fd)) {
    close(fd);
    // As Windows answers for an object of that name that is no mutex.
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return RegisterHandle(fd, false, false);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  const int fd = DescriptorOf(object);
  if (fd < 0) return WAIT_FAILED;
  using std::chrono::steady_clock;
  const steady_clock::time_point deadline =
      steady_clock::now() + std::chrono::milliseconds(milliseconds);
  const int mode = milliseconds == INFINITE ? LOCK_EX : LOCK_EX | LOCK_NB;
  while (flock(fd, mode) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (steady_clock::now() >= deadline) return WAIT_TIMEOUT;
    usleep(10000);
  }
  return WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE mutex) {
  const int fd = DescriptorOf(mutex);
  return fd >= 0 && flock(fd, LOCK_UN) == 0;
}
