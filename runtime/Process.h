#pragma once

#include <cstddef>
#include <cstdint>

#include "Win32.h"

class Exception;

// The frame around the watch run: starting the runtime, ending the process,
// and turning every failure nobody handles into a box and an exit code.
void StartRuntime();
[[noreturn]] void ShutDownProcess();
[[noreturn]] void EndWithCode(uint32_t code);
[[noreturn]] void EndWithRuntimeError(uint32_t number, const void* address);

// The entry point's whole work: the runtime started and the body run under
// the top-level handler. Does not return.
[[noreturn]] void RunProgram(void (*body)());

// Whether a box can be shown and answered: in a window station that is
// not interactive (a service's) no box appears and the call never returns.
bool BoxesCanBeShown();

// The report texts, built in the caller's fixed buffers.
size_t ComposeErrorText(const char* className, const Exception* object, const void* faultAddress,
                        char* buffer, size_t size);
constexpr size_t kRuntimeErrorTextSize = 30;
void ComposeRuntimeErrorText(uint32_t number, const void* address,
                             char (&text)[kRuntimeErrorTextSize]);

// The exception for a system fault; its run-time error number when there is
// no exception support. The objects are made once and refilled in place, so
// that a fault is translated without allocating; start-up reserves room for
// their messages.
Exception* TranslateSystemFault(const EXCEPTION_RECORD& record);
void ReserveSystemFaultMessages();
uint32_t RuntimeErrorNumberOf(DWORD faultCode);
