// The process heap is the C library's: one heap, so the handle is only a
// token. Allocations go through the table of system calls, so that a test
// can run a whole program out of memory.
#include <stdlib.h>

#include "Syscalls.h"
#include "Win32.h"

namespace {
char processHeap;
}

HANDLE GetProcessHeap() { return &processHeap; }

LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) { return unixSyscalls.malloc(bytes); }

BOOL HeapFree(HANDLE, DWORD, LPVOID memory) {
  free(memory);
  return TRUE;
}
