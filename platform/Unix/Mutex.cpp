// A named mutex as a lock file in the machine root: flock() holds across all
// processes of the machine and is released by the kernel when its holder
// dies, as Windows gives up an abandoned mutex. It takes any descriptor, so
// a lock file that root made serves every later user too. Only the whole-run wait
// KeyVigil needs is offered: INFINITE, no recursion, no initial owner.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "Handles.h"
#include "MachineRoot.h"

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
                      O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return RegisterHandle(fd, false, false);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  const int fd = DescriptorOf(object);
  if (fd < 0) return WAIT_FAILED;
  if (milliseconds != INFINITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  return WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE mutex) {
  const int fd = DescriptorOf(mutex);
  return fd >= 0 && flock(fd, LOCK_UN) == 0;
}
