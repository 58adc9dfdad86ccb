// The program itself, with every allocation from the Nth on refused (N in
// $KEYVIGIL_REFUSE_FROM). The first refusal leaves the file
// <machine root>/refused, so that a test knows that one happened. Linux
// only: it swaps an entry of the stand-ins' table.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "Process.h"
#include "Syscalls.h"
#include "WatchRun.h"

namespace {

long refuseFrom = 0;
long allocations = 0;
char marker[4096];
void* (*realMalloc)(size_t);

void* RefusingMalloc(size_t size) {
  if (++allocations < refuseFrom) return realMalloc(size);
  if (allocations == refuseFrom) close(open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  return nullptr;
}

}  // namespace

int main() {
  refuseFrom = atol(getenv("KEYVIGIL_REFUSE_FROM"));
  snprintf(marker, sizeof(marker), "%s/refused", getenv("KEYVIGIL_ROOT"));
  realMalloc = unixSyscalls.malloc;
  unixSyscalls.malloc = RefusingMalloc;
  RunProgram(WatchRun);
}
