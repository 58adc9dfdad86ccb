// The program itself, with every allocation from the Nth on refused (N in
// $KEYVIGIL_REFUSE_FROM). The first refusal leaves the file
// <machine root>/refused, so that a test knows that one happened. Linux
// only: it swaps an entry of the stand-ins' table.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "Process.h"
#include "Syscalls.h"
#include "WatchRun.h"

namespace {

long refuseFrom = 0, allocations = 0;
std::string marker;

void* RefusingMalloc(size_t size) {
  if (++allocations < refuseFrom) return malloc(size);
  if (allocations == refuseFrom) close(open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  return nullptr;
}

}  // namespace

int main() {
  refuseFrom = atol(getenv("KEYVIGIL_REFUSE_FROM"));
  marker = getenv("KEYVIGIL_ROOT") + std::string("/refused");
  unixSyscalls.malloc = RefusingMalloc;
  RunProgram(WatchRun);
}
