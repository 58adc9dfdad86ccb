#include "Process.h"

#include <cxxabi.h>

#include <cstring>
#include <new>
#include <typeinfo>

#include "Exceptions.h"
#include "MessageIds.h"
#include "Messages.h"
#include "TextChannel.h"

namespace {

constexpr uint16_t kStartupControlWord = 0x1332;
constexpr uint32_t kUncaughtRuntimeError = 217;
constexpr uint32_t kOutOfMemoryRuntimeError = 203;

uint32_t exitCode = 0;
struct {
  bool pending = false;
  uint32_t number = 0;
  const void* address = nullptr;
} runtimeError;

// The three hooks of exception support; all unset outside the window in
// which failures are exceptions.
[[noreturn]] void ReportUnhandled(const char* className, Exception* object,
                                  const void* faultAddress);
void (*reportHook)(const char*, Exception*, const void*) = nullptr;
Exception* (*systemFaultTranslator)(const EXCEPTION_RECORD&) = nullptr;
void (*internalFailureHook)(const void*) = nullptr;

EOutOfMemory* outOfMemory = nullptr;
EInvalidPointer* invalidPointer = nullptr;
// A system fault may have interrupted the memory manager itself: after its
// report nothing is freed any more.
bool reportingSystemFault = false;
HMODULE languageModule = nullptr;
uint16_t controlWord = kStartupControlWord;

void LoadControlWord() {
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("fninit; fldcw %0" : : "m"(controlWord));
#endif
}

// Only keyboards of type 7 with these sub-types come with machines whose
// floating-point unit wants its exceptions masked by a setting.
void ApplyMaskSetting() {
  const int subType = GetKeyboardType(1) >> 8;
  if (GetKeyboardType(0) != 7 || (subType != 0x0D && subType != 0x04)) return;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KeyVigil\\Runtime", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  DWORD mask = 0, type = 0, size = sizeof(mask);
  if (RegQueryValueExA(key, "FPUMaskValue", nullptr, &type, reinterpret_cast<BYTE*>(&mask),
                       &size) == ERROR_SUCCESS &&
      type == REG_DWORD) {
    controlWord = static_cast<uint16_t>((controlWord & ~0x3F) | (mask & 0x3F));
  }
  RegCloseKey(key);
}

void StartCore() {
  exitCode = 0;
  runtimeError = {};
  controlWord = kStartupControlWord;
  ApplyMaskSetting();
  LoadControlWord();
  BindPath(standardInput, "");
  BindPath(standardOutput, "");
  GetCommandLineA();
}

void ShutDownCore() {
  CloseChannel(standardOutput);
  CloseChannel(standardInput);
  TakePendingResult();
}

void RaiseOutOfMemoryException(const void* address) { RaiseAt(outOfMemory, address); }

void StartSystemUtilities() {
  outOfMemory = new EOutOfMemory(LoadMessage(SOutOfMemory));
  invalidPointer = new EInvalidPointer(LoadMessage(SInvalidPointer));
  ReserveSystemFaultMessages();
  reportHook = ReportUnhandled;
  systemFaultTranslator = TranslateSystemFault;
  internalFailureHook = RaiseOutOfMemoryException;
}

void ShutDownSystemUtilities() {
  reportHook = nullptr;
  systemFaultTranslator = nullptr;
  internalFailureHook = nullptr;
  if (reportingSystemFault) return;
  for (EHeapException* preallocated :
       {static_cast<EHeapException*>(outOfMemory), static_cast<EHeapException*>(invalidPointer)}) {
    if (!preallocated) continue;
    preallocated->releasable = true;
    ReleaseException(preallocated);
  }
  outOfMemory = nullptr;
  invalidPointer = nullptr;
}

struct Module {
  void (*start)();
  void (*shutDown)();
};

// The fixed order of start; the modules without steps of their own keep
// their places so that the count of started modules stays the same.
const Module kModules[] = {
    {StartCore, ShutDownCore}, {nullptr, nullptr}, {StartSystemUtilities, ShutDownSystemUtilities},
    {nullptr, nullptr},        {nullptr, nullptr}, {nullptr, nullptr},
    {nullptr, nullptr},        {nullptr, nullptr}, {nullptr, nullptr},
    {nullptr, nullptr},        {nullptr, nullptr}, {nullptr, nullptr},
    {nullptr, nullptr},
};
int startedModules = 0;

void ShutDownModules() {
  while (startedModules > 0) {
    const Module& module = kModules[--startedModules];
    if (!module.shutDown) continue;
    try {
      module.shutDown();
    } catch (Exception* failure) {
      if (!runtimeError.pending)
        runtimeError = {true, kUncaughtRuntimeError, failure->faultAddress};
      exitCode = kUncaughtRuntimeError;
    }
  }
}

void ShowRuntimeError() {
  char text[kRuntimeErrorTextSize];
  ComposeRuntimeErrorText(runtimeError.number, runtimeError.address, text);
  if (BoxesCanBeShown()) MessageBoxA(nullptr, text, "Error", MB_OK);
  runtimeError.pending = false;
}

void ShowErrorBox(const char* className, Exception* object, const void* faultAddress) {
  // Room for the box at the run's end, which lists up to ten values.
  char text[4096];
  char caption[64];
  ComposeErrorText(className, object, faultAddress, text, sizeof(text));
  LoadMessageInto(SExceptionBoxCaption, caption, sizeof(caption));
  if (BoxesCanBeShown()) MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

void ReportUnhandled(const char* className, Exception* object, const void* faultAddress) {
  ShowErrorBox(className, object, faultAddress);
  EndWithCode(1);
}

// What reaches the top level: C++ unwinding has run every cleanup on the way.
[[noreturn]] void TopLevelHandler(const char* className, Exception* object,
                                  const void* faultAddress) {
  LoadControlWord();
  if (reportHook) reportHook(className, object, faultAddress);
  EndWithRuntimeError(kUncaughtRuntimeError, faultAddress);
}

// A system fault is reported where it happened: the platforms cannot turn it
// into a C++ exception, so the cleanups between the fault and the top level
// do not run.
LONG WINAPI SystemFaultFilter(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  LoadControlWord();
  reportingSystemFault = true;
  if (systemFaultTranslator && reportHook) {
    Exception* object = systemFaultTranslator(record);
    reportHook(object->ClassName(), object, record.ExceptionAddress);
  }
  EndWithRuntimeError(RuntimeErrorNumberOf(record.ExceptionCode), record.ExceptionAddress);
}

// The program's path with everything after its last "." replaced by each
// language code in turn; the first that loads serves all messages.
void LoadLanguageFile() {
  char path[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length] = 0;
  char* dot = strrchr(path, '.');
  if (!dot) return;
  char codes[3][8] = {};
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KeyVigil\\Locales", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    DWORD size = 5;
    if (RegQueryValueExA(key, path, nullptr, nullptr, reinterpret_cast<BYTE*>(codes[0]), &size) !=
        ERROR_SUCCESS) {
      size = 5;
      if (RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(codes[0]), &size) !=
          ERROR_SUCCESS) {
        codes[0][0] = 0;
      }
    }
    codes[0][4] = 0;
    RegCloseKey(key);
  }
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SABBREVLANGNAME, codes[1], 4) <= 0) codes[1][0] = 0;
  memcpy(codes[2], codes[1], 2);
  for (const char* code : codes) {
    if (!*code || static_cast<size_t>(dot + 1 - path) + strlen(code) > MAX_PATH) continue;
    strcpy(dot + 1, code);
    languageModule = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (languageModule) {
      UseMessageModule(languageModule);
      return;
    }
  }
}

}  // namespace

bool BoxesCanBeShown() {
  USEROBJECTFLAGS flags{};
  return GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

void StartRuntime() {
  GetModuleHandleA(nullptr);
  LoadLanguageFile();
  SetUnhandledExceptionFilter(SystemFaultFilter);
  try {
    for (const Module& module : kModules) {
      ++startedModules;
      if (module.start) module.start();
    }
  } catch (...) {
    ShutDownModules();
    throw;
  }
}

void ShutDownProcess() {
  if (runtimeError.pending) ShowRuntimeError();
  ShutDownModules();
  if (runtimeError.pending) ShowRuntimeError();
  if (languageModule) {
    UseMessageModule(nullptr);
    FreeLibrary(languageModule);
  }
  SetUnhandledExceptionFilter(nullptr);
  ExitProcess(exitCode);
}

void EndWithCode(uint32_t code) {
  exitCode = code;
  ShutDownProcess();
}

void EndWithRuntimeError(uint32_t number, const void* address) {
  runtimeError = {true, number, address};
  EndWithCode(number);
}

void RunProgram(void (*body)()) {
  try {
    StartRuntime();
    body();
  } catch (Exception* object) {
    TopLevelHandler(object->ClassName(), object, object->faultAddress);
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    TopLevelHandler(type ? type->name() : "", nullptr, nullptr);
  }
  EndWithCode(0);
}

// The memory manager: every C++ allocation, the program's and the standard
// library's, comes from the process heap, and one that fails is a memory
// failure where the allocating call returns to. In this file, which every
// program links, so that a sanitizer's runtime does not take their place;
// never inlined, so that a tool that replaces the allocator (valgrind)
// replaces both halves.
namespace {

// With exception support the preallocated exception, else run-time error 203.
[[noreturn]] void RaiseOutOfMemory(const void* address) {
  if (internalFailureHook) internalFailureHook(address);
  EndWithRuntimeError(kOutOfMemoryRuntimeError, address);
}

void* Allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }

void Release(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace

[[gnu::noinline]] void* operator new(size_t size) {
  if (void* block = Allocate(size)) return block;
  RaiseOutOfMemory(KV_CALLER_ADDRESS());
}

[[gnu::noinline]] void* operator new[](size_t size) {
  if (void* block = Allocate(size)) return block;
  RaiseOutOfMemory(KV_CALLER_ADDRESS());
}

[[gnu::noinline]] void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
[[gnu::noinline]] void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
[[gnu::noinline]] void operator delete(void* block) noexcept { Release(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { Release(block); }
[[gnu::noinline]] void operator delete(void* block, size_t) noexcept { Release(block); }
[[gnu::noinline]] void operator delete[](void* block, size_t) noexcept { Release(block); }
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept {
  Release(block);
}
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Release(block);
}
