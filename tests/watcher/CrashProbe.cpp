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

template <auto Entry, typename Result, typename... Arguments>
Result Counted(Arguments... arguments) {
  if (++calls == killAt) raise(SIGKILL);
  return (real.*Entry)(arguments...);
}

// Opens count when they may write, closes when they end a writing open.
int Open(const char* path, int flags, mode_t mode) {
  const bool writes = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
  const int fd = writes ? Counted<&UnixSyscalls::open, int>(path, flags, mode)
                        : real.open(path, flags, mode);
  if (writes && fd >= 0) writingFds.insert(fd);
  return fd;
}

int Close(int fd) {
  return writingFds.erase(fd) ? Counted<&UnixSyscalls::close, int>(fd) : real.close(fd);
}

}  // namespace

int main() {
  if (const char* at = getenv("KEYVIGIL_KILL_AT")) killAt = atol(at);
  real = unixSyscalls;
  unixSyscalls.open = Open;
  unixSyscalls.close = Close;
  unixSyscalls.write = Counted<&UnixSyscalls::write>;
  unixSyscalls.fsync = Counted<&UnixSyscalls::fsync>;
  unixSyscalls.ftruncate = Counted<&UnixSyscalls::ftruncate>;
  unixSyscalls.rename = Counted<&UnixSyscalls::rename>;
  unixSyscalls.unlink = Counted<&UnixSyscalls::unlink>;
  RunProgram(WatchRun);
}
