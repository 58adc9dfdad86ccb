#include "Syscalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int OpenFile(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
}  // namespace

UnixSyscalls unixSyscalls = {
    OpenFile, ::read,   ::write,  ::close,  ::fsync, ::ftruncate,
    ::lseek,  ::rename, ::unlink, ::malloc, ::stat,
};
