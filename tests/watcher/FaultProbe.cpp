// The program itself with a fault of the machine planted in the stand-ins'
// table (Linux only). $KEYVIGIL_KILL_AT=N kills it outright just before its
// Nth system call that opens, writes, syncs, cuts, moves, deletes or closes
// a file, as a power cut or kill -9 would end it there. $KEYVIGIL_REFUSE_FROM=N refuses every
// allocation from the Nth on; the first refusal leaves the file <machine root>/refused, so that a
// test knows that one happened. $KEYVIGIL_HIVE_CHANGE_AT=N changes the hive just before the Nth
// look at it (N+: before every look from the Nth on): HKLM.reg.next, when there is one, replaces
// it, and its modification time moves on by a second, as another program's write would.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "Process.h"
#include "Syscalls.h"
#include "WatchRun.h"

namespace {

long killAt = 0, calls = 0, refuseFrom = 0, allocations = 0, changeAt = 0, looks = 0;
bool changeEveryLook = false;
std::string refusedMarker;
UnixSyscalls real;

template <auto Entry, typename Result, typename... Arguments>
Result Counted(Arguments... arguments) {
  if (++calls == killAt) raise(SIGKILL);
  return (real.*Entry)(arguments...);
}

void* RefusingMalloc(size_t size) {
  if (++allocations < refuseFrom) return real.malloc(size);
  if (allocations == refuseFrom) close(open(refusedMarker.c_str(), O_WRONLY | O_CREAT, 0600));
  return nullptr;
}

void ChangeHive(const char* path) {
  rename((std::string(path) + ".next").c_str(), path);
  struct stat status {};
  if (real.stat(path, &status) != 0) return;
  timespec times[2] = {{0, UTIME_OMIT}, status.st_mtim};
  ++times[1].tv_sec;
  utimensat(AT_FDCWD, path, times, 0);
}

int LookAtFile(const char* path, struct stat* status) {
  if (std::string_view(path).ends_with("/HKLM.reg") && ++looks >= changeAt &&
      (looks == changeAt || changeEveryLook)) {
    ChangeHive(path);
  }
  return real.stat(path, status);
}

}  // namespace

int main() {
  real = unixSyscalls;
  if (const char* at = getenv("KEYVIGIL_KILL_AT")) killAt = atol(at);
  unixSyscalls.open = Counted<&UnixSyscalls::open, int, const char*, int, mode_t>;
  unixSyscalls.close = Counted<&UnixSyscalls::close>;
  unixSyscalls.write = Counted<&UnixSyscalls::write>;
  unixSyscalls.fsync = Counted<&UnixSyscalls::fsync>;
  unixSyscalls.ftruncate = Counted<&UnixSyscalls::ftruncate>;
  unixSyscalls.rename = Counted<&UnixSyscalls::rename>;
  unixSyscalls.unlink = Counted<&UnixSyscalls::unlink>;
  if (const char* from = getenv("KEYVIGIL_REFUSE_FROM")) {
    refuseFrom = atol(from);
    refusedMarker = getenv("KEYVIGIL_ROOT") + std::string("/refused");
    unixSyscalls.malloc = RefusingMalloc;
  }
  if (const char* at = getenv("KEYVIGIL_HIVE_CHANGE_AT")) {
    changeAt = atol(at);
    changeEveryLook = std::string_view(at).ends_with('+');
    unixSyscalls.stat = LookAtFile;
  }
  RunProgram(WatchRun);
}
