#include "Syscalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
int OpenFile(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
}  // namespace

UnixSyscalls unixSyscalls = {
    OpenFile, ::read,   ::write,  ::close,  ::fsync, ::ftruncate,
    ::lseek,  ::rename, ::unlink, ::malloc, ::stat,
};

LONG ReadWhole(const std::string& path, struct stat& identity, std::string& text) {
  if (!S_ISREG(identity.st_mode)) return ERROR_BADDB;
  const int fd = unixSyscalls.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
  LONG status = fstat(fd, &identity) != 0 ? ERROR_CANTREAD : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS && !S_ISREG(identity.st_mode)) status = ERROR_BADDB;
  text.clear();
  if (status == ERROR_SUCCESS) text.reserve(static_cast<size_t>(identity.st_size));
  char buffer[65536];
  ssize_t count = 0;
  while (status == ERROR_SUCCESS && (count = unixSyscalls.read(fd, buffer, sizeof(buffer))) > 0)
    text.append(buffer, count);
  unixSyscalls.close(fd);
  return count < 0 ? ERROR_CANTREAD : status;
}
