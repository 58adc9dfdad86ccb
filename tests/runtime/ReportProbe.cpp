// A program that fails on purpose in the way its first argument names, for
// the tests of how the runtime reports failures.
#include <csignal>
#include <cstdint>
#include <string_view>

#include "Exceptions.h"
#include "Process.h"
#include "TextChannel.h"

namespace {

std::string_view mode;

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
  // Both operands unknown, or the compiler turns 1 / x into a comparison.
  volatile int one = 1, zero = 0;
  volatile long double whole = 1, none = 0;  // the x87 unit, whose mask start-up sets
  if (mode == "raise") SetPendingResult(5);
  CheckPendingResult();
  if (mode == "null-write") *static_cast<volatile int*>(nullptr) = 1;
  if (mode == "divide") one = one / zero;
  if (mode == "float-divide") whole = whole / none;
  if (mode == "interrupt") raise(SIGINT);
  if (mode == "stack-overflow") Recurse(0);
  if (mode == "out-of-memory") Allocate();
  ShutDownProcess();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) mode = argv[1];
  // Shows where the allocating function starts.
  if (mode == "runtime-error") EndWithRuntimeError(2, reinterpret_cast<void*>(&Allocate));
  RunProgram(Fail);
}
