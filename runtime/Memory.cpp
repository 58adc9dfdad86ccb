// The program's memory manager: every C++ allocation, the program's and the
// standard library's, comes from the process heap. A failed allocation is a
// memory failure of the runtime, raised where the allocating call returns
// to, so the error box shows where the program ran out.
#include <new>

#include "Exceptions.h"
#include "Process.h"
#include "Win32.h"

namespace {

void* Allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

void Release(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

void* operator new(size_t size) {
  if (void* block = Allocate(size)) return block;
  RaiseRuntimeFailure(RuntimeFailure::OutOfMemory, KV_CALLER_ADDRESS());
}

void* operator new[](size_t size) {
  if (void* block = Allocate(size)) return block;
  RaiseRuntimeFailure(RuntimeFailure::OutOfMemory, KV_CALLER_ADDRESS());
}

void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
