// The process frame on Linux: modules are the loaded ELF objects, system
// faults arrive as signals, and the message box speaks on the terminal.
#include <link.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

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

// Finds the object that holds the address, or the one loaded at the base.
struct ObjectSearch {
  uintptr_t address;
  uintptr_t base;
  LoadedObject found;
};

bool FindObject(uintptr_t address, uintptr_t base, LoadedObject& object) {
  ObjectSearch search{address, base, {}};
  const int found = dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* context) {
        auto* search = static_cast<ObjectSearch*>(context);
        const LoadedObject candidate = ObjectOf(*info);
        const bool holds = search->address >= candidate.base && search->address < candidate.end;
        if (!holds && search->base != candidate.base) return 0;
        search->found = candidate;
        return 1;
      },
      &search);
  object = search.found;
  return found != 0;
}

// The first object reported is the program itself.
uintptr_t ProgramBase() {
  uintptr_t base = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* context) {
        *static_cast<uintptr_t*>(context) = ObjectOf(*info).base;
        return 1;
      },
      &base);
  return base;
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
    case SIGSEGV:
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
  LoadedObject object;
  if (address && FindObject(reinterpret_cast<uintptr_t>(address), UINTPTR_MAX, object)) {
    buffer->AllocationBase = reinterpret_cast<PVOID>(object.base);
    buffer->RegionSize = object.end - page;
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

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  LoadedObject object;
  const bool program = !module || reinterpret_cast<uintptr_t>(module) == ProgramBase();
  if (program) {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return 0;
    path[length] = 0;
    return CopyName(path, fileName, size);
  }
  if (!FindObject(0, reinterpret_cast<uintptr_t>(module), object) || !*object.name) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return CopyName(object.name, fileName, size);
}

// There are no language resource files on Linux.
HMODULE LoadLibraryExA(LPCSTR, HANDLE, DWORD) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE) { return TRUE; }

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  // An alternate stack, so that a stack overflow can still be reported.
  static char alternateStack[64 * 1024];
  static bool installed = false;
  if (!installed) {
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault while its signal is blocked kills the process unreported, and
    // the mask is inherited from whoever started the program.
    sigset_t faults;
    sigemptyset(&faults);
    for (int signal : kFaultSignals) {
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

void ExitProcess(UINT exitCode) {
  fflush(nullptr);
  _exit(static_cast<int>(exitCode));
}

int GetKeyboardType(int typeFlag) { return typeFlag == 0 ? 4 : 0; }

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
