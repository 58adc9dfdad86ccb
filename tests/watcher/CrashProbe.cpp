// The program itself, killed outright just before its Nth write-related
// system call (N in $KEYVIGIL_KILL_AT), as a power cut or kill -9 would end
// it at that point. Linux only: it swaps entries of the stand-ins' table.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>

#include <set>

#include "Process.h"
#include "Syscalls.h"
#include "WatchRun.h"

namespace {

long killAt = 0;
long calls = 0;
UnixSyscalls real;
std::set<int> writingFds;

void Count() {
  if (++calls == killAt) raise(SIGKILL);
}

int Open(const char* path, int flags, mode_t mode) {
  const bool writes = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
  if (writes) Count();
  const int fd = real.open(path, flags, mode);
  if (writes && fd >= 0) writingFds.insert(fd);
  return fd;
}

ssize_t Write(int fd, const void* buffer, size_t count) {
  Count();
  return real.write(fd, buffer, count);
}

int Close(int fd) {
  if (writingFds.erase(fd)) Count();
  return real.close(fd);
}

int Fsync(int fd) {
  Count();
  return real.fsync(fd);
}

int Ftruncate(int fd, off_t length) {
  Count();
  return real.ftruncate(fd, length);
}

int Rename(const char* from, const char* to) {
  Count();
  return real.rename(from, to);
}

int Unlink(const char* path) {
  Count();
  return real.unlink(path);
}

}  // namespace

int main() {
  if (const char* at = getenv("KEYVIGIL_KILL_AT")) killAt = atol(at);
  real = unixSyscalls;
  unixSyscalls.open = Open;
  unixSyscalls.write = Write;
  unixSyscalls.close = Close;
  unixSyscalls.fsync = Fsync;
  unixSyscalls.ftruncate = Ftruncate;
  unixSyscalls.rename = Rename;
  unixSyscalls.unlink = Unlink;
  RunProgram(WatchRun);
}
