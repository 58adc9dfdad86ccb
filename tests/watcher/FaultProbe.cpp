// The program itself with a fault of the machine planted in the stand-ins'
// table (Linux only). $KEYVIGIL_KILL_AT=N kills it outright just before its
// Nth system call that opens, writes, syncs, cuts, moves, deletes or closes
// a file, as a power cut or kill -9 would end it there. $KEYVIGIL_REFUSE_FROM=N refuses every
// allocation from the Nth on; the first refusal leaves the file <machine root>/refused, so that a
// test knows that one happened.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "Process.h"
#include "Syscalls.h"
#include "WatchRun.h"

namespace {

long killAt = 0, calls = 0, refuseFrom = 0, allocations = 0;
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
  RunProgram(WatchRun);
}
