// The process frame on Linux: modules are the loaded ELF objects, system
// faults arrive as signals. A report may run in a signal handler, where the
// C library may not be asked (dl_iterate_phdr takes a lock): what it needs to
// know of the process is taken at start-up.
#include <link.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "Win32.h"

namespace {

struct LoadedObject {
  uintptr_t base = 0;  // lowest mapped address, the stand-in for the allocation base
  uintptr_t end = 0;
  const char* name = nullptr;
};

LoadedObject ObjectOf(const dl_phdr_info& info) {
  LoadedObject object;
  object.name = info.dlpi_name;
  object.base = UINTPTR_MAX;
  for (int i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info.dlpi_phdr[i];
    if (header.p_type != PT_LOAD) continue;
    const uintptr_t start = info.dlpi_addr + header.p_vaddr;
    object.base = std::min(object.base, start);
    object.end = std::max(object.end, static_cast<uintptr_t>(start + header.p_memsz));
  }
  return object;
}

// The kernel keeps this much unmapped below a stack that may grow.
constexpr uintptr_t kStackGuardGap = 1 << 20;

// The objects loaded at start-up, the program first (KeyVigil loads none
// later), and the program's path. Below the main thread's stack, down to
// where its limit and the gap under it end, a fault means that the stack is
// exhausted.
LoadedObject loadedObjects[64];
size_t loadedObjectCount = 0;
char programPath[4096];
uintptr_t stackLow = 0;
uintptr_t stackHigh = 0;

// An unlimited stack leaves the range of the exhausted stack empty: its
// overflow is reported as an access violation.
[[gnu::constructor]] void CaptureProcess() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        loadedObjects[loadedObjectCount++] = ObjectOf(*info);
        return loadedObjectCount == std::size(loadedObjects) ? 1 : 0;
      },
      nullptr);
  const ssize_t length = readlink("/proc/self/exe", programPath, sizeof(programPath) - 1);
  programPath[std::max<ssize_t>(length, 0)] = 0;
  char nearTheTop;
  stackHigh = reinterpret_cast<uintptr_t>(&nearTheTop);
  stackLow = stackHigh;
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    stackLow -= std::min<uintptr_t>(stackHigh, limit.rlim_cur + kStackGuardGap);
  }
}

uintptr_t ProgramBase() { return loadedObjects[0].base; }

template <typename Match>
const LoadedObject* FindObject(Match match) {
  const LoadedObject* begin = loadedObjects;
  const LoadedObject* end = begin + loadedObjectCount;
  const LoadedObject* found = std::find_if(begin, end, match);
  return found == end ? nullptr : found;
}

DWORD CopyName(const char* name, LPSTR fileName, DWORD size) {
  if (size == 0) return 0;
  const DWORD length = std::min<DWORD>(strlen(name), size - 1);
  memcpy(fileName, name, length);
  fileName[length] = 0;
  return length;
}

LPTOP_LEVEL_EXCEPTION_FILTER faultFilter = nullptr;

DWORD FaultCodeOf(int signal, const siginfo_t& info) {
  switch (signal) {
    case SIGSEGV: {
      const auto address = reinterpret_cast<uintptr_t>(info.si_addr);
      return address >= stackLow && address < stackHigh ? STATUS_STACK_OVERFLOW
                                                        : STATUS_ACCESS_VIOLATION;
    }
    case SIGBUS:
      return STATUS_ACCESS_VIOLATION;
    case SIGILL:
      return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG
                 ? STATUS_PRIVILEGED_INSTRUCTION
                 : STATUS_ILLEGAL_INSTRUCTION;
    case SIGINT:
      return STATUS_CONTROL_C_EXIT;
    default:
      break;
  }
  switch (info.si_code) {
    case FPE_INTDIV:
      return STATUS_INTEGER_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
      return STATUS_INTEGER_OVERFLOW;
    case FPE_FLTDIV:
      return STATUS_FLOAT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
      return STATUS_FLOAT_OVERFLOW;
    case FPE_FLTUND:
      return STATUS_FLOAT_UNDERFLOW;
    case FPE_FLTRES:
      return STATUS_FLOAT_INEXACT_RESULT;
    case FPE_FLTSUB:
      return STATUS_ARRAY_BOUNDS_EXCEEDED;
    default:
      return STATUS_FLOAT_INVALID_OPERATION;
  }
}

// Whether a faulting access was a write, where the architecture tells.
bool WasWrite(const void* context) {
#if defined(__x86_64__)
  return (static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_ERR] & 2) != 0;
#else
  (void)context;
  return false;
#endif
}

const void* FaultingInstruction(const siginfo_t& info, const void* context) {
#if defined(__x86_64__)
  (void)info;
  return reinterpret_cast<const void*>(
      static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#else
  (void)context;
  return info.si_addr;
#endif
}

void OnSignal(int signal, siginfo_t* info, void* context) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = FaultCodeOf(signal, *info);
  record.ExceptionAddress = const_cast<void*>(FaultingInstruction(*info, context));
  if (record.ExceptionCode == STATUS_ACCESS_VIOLATION) {
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = WasWrite(context) ? 1 : 0;
    record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
  }
  EXCEPTION_POINTERS pointers{&record, nullptr};
  if (faultFilter) faultFilter(&pointers);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGINT};

}  // namespace

SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) {
  if (!buffer || length < sizeof(*buffer)) return 0;
  *buffer = {};
  const auto page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t{0xFFF};
  buffer->BaseAddress = reinterpret_cast<PVOID>(page);
  buffer->State = MEM_FREE;
  const auto at = reinterpret_cast<uintptr_t>(address);
  const LoadedObject* object =
      FindObject([at](const LoadedObject& o) { return at >= o.base && at < o.end; });
  if (object) {
    buffer->AllocationBase = reinterpret_cast<PVOID>(object->base);
    buffer->RegionSize = object->end - page;
    buffer->State = MEM_COMMIT;
  }
  return sizeof(*buffer);
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(ProgramBase());
}

// The stand-in has no system functions to look up: it is a 64-bit Windows
// from the start.
FARPROC GetProcAddress(HMODULE, LPCSTR) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (!module || reinterpret_cast<uintptr_t>(module) == ProgramBase()) {
    return *programPath ? CopyName(programPath, fileName, size) : 0;
  }
  const auto base = reinterpret_cast<uintptr_t>(module);
  const LoadedObject* object = FindObject([base](const LoadedObject& o) { return o.base == base; });
  if (!object || !*object->name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return CopyName(object->name, fileName, size);
}

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  // An alternate stack, so that a stack overflow can still be reported; only
  // the fault of an exhausted stack uses it. A sanitizer's runtime, asked to
  // unpoison the stack for a report that never returns, allocates to find
  // the thread's own stack when it runs on another one: a deadlock when
  // Ctrl-C came in the middle of an allocation.
  static char alternateStack[64 * 1024];
  static bool installed = false;
  if (!installed) {
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    sigaltstack(&stack, nullptr);
    // A fault while its signal is blocked kills the process unreported, and
    // the mask is inherited from whoever started the program.
    sigset_t faults;
    sigemptyset(&faults);
    for (int signal : kFaultSignals) {
      struct sigaction action {};
      action.sa_sigaction = OnSignal;
      action.sa_flags = SA_SIGINFO | (signal == SIGSEGV ? SA_ONSTACK : 0);
      sigaction(signal, &action, nullptr);
      sigaddset(&faults, signal);
    }
    sigprocmask(SIG_UNBLOCK, &faults, nullptr);
    installed = true;
  }
  LPTOP_LEVEL_EXCEPTION_FILTER previous = faultFilter;
  faultFilter = filter;
  return previous;
}

// As on Windows, the C library's buffers are not flushed: the end may come
// from a signal handler, where their lock may be held.
void ExitProcess(UINT exitCode) { _exit(static_cast<int>(exitCode)); }

// The enhanced 101/102-key keyboard, unless the machine's keyboard driver is
// told to report another, as Windows lets it be. Read once: a keyboard does
// not change while a program runs.
int GetKeyboardType(int typeFlag) {
  static const std::array<DWORD, 2> reported = [] {
    std::array<DWORD, 2> values = {4, 0};
    const char* names[] = {"OverrideKeyboardType", "OverrideKeyboardSubtype"};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\i8042prt\\Parameters", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
      return values;
    }
    for (size_t i = 0; i < values.size(); ++i) {
      DWORD value = 0, type = 0, size = sizeof(value);
      if (RegQueryValueExA(key, names[i], nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
              ERROR_SUCCESS &&
          type == REG_DWORD) {
        values[i] = value;
      }
    }
    RegCloseKey(key);
    return values;
  }();
  return typeFlag == 0 || typeFlag == 1 ? static_cast<int>(reported[typeFlag]) : 12;
}

namespace {
bool GermanEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv(name);
    if (value && *value) return strncmp(value, "de", 2) == 0;
  }
  return false;
}
}  // namespace

LCID GetThreadLocale() { return GermanEnvironment() ? 0x0407 : 0x0409; }

int GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size) {
  if (type != LOCALE_SABBREVLANGNAME || !data || size < 4) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  memcpy(data, (locale & 0x3FF) == 0x07 ? "DEU" : "ENU", 4);
  return 4;
}
