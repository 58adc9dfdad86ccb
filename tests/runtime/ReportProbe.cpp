// A program that fails on purpose in the way its first argument names, for
// the tests of how the runtime reports failures.
#include <cstdint>
#include <cstring>

#include "Exceptions.h"
#include "Process.h"
#include "TextChannel.h"

namespace {

const char* mode = "";

// Asks for more than there is. It touches the block, or the call becomes a
// jump and returns to the caller's caller.
[[gnu::noinline]] void Allocate() {
  *static_cast<volatile char*>(::operator new(SIZE_MAX / 2)) = 0;
}

// Not a tail call, or the compiler makes a loop of it.
[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  return depth == INT32_MAX ? 0 : Recurse(depth + 1) + frame[0];
}

[[gnu::noinline]] void Fail() {
  if (strcmp(mode, "raise") == 0) {
    SetPendingResult(5);
    CheckPendingResult();
  } else if (strcmp(mode, "null-write") == 0) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (strcmp(mode, "divide") == 0) {
    // Both operands unknown, or the compiler turns 1 / x into a comparison.
    volatile int one = 1, zero = 0;
    one = one / zero;
  } else if (strcmp(mode, "stack-overflow") == 0) {
    Recurse(0);
  } else if (strcmp(mode, "out-of-memory") == 0) {
    Allocate();
  }
  ShutDownProcess();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) mode = argv[1];
  // Shows where the allocating function starts.
  if (strcmp(mode, "runtime-error") == 0)
    EndWithRuntimeError(2, reinterpret_cast<void*>(&Allocate));
  RunProgram(Fail);
}
