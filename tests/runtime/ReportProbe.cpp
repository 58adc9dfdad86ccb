// A program that fails on purpose in the way its first argument names, for
// the tests of how the runtime reports failures.
#include <cstring>
#include <new>

#include "Exceptions.h"
#include "Process.h"
#include "TextChannel.h"

namespace {

const char* mode = "";

[[gnu::noinline]] void Fail() {
  if (strcmp(mode, "raise") == 0) {
    SetPendingResult(5);
    CheckPendingResult();
  } else if (strcmp(mode, "null-write") == 0) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (strcmp(mode, "divide") == 0) {
    // Both operands unknown, or the compiler turns 1 / x into a comparison.
    volatile int one = 1, zero = 0;
    volatile int quotient = one / zero;
    (void)quotient;
  } else if (strcmp(mode, "bad-alloc") == 0) {
    throw std::bad_alloc();
  }
  ShutDownProcess();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) mode = argv[1];
  if (strcmp(mode, "runtime-error") == 0) EndWithRuntimeError(2, reinterpret_cast<void*>(&Fail));
  RunProgram(Fail);
}
