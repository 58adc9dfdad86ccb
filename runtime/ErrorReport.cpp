#include <cstring>

#include "Exceptions.h"
#include "Messages.h"
#include "Process.h"

namespace {

// The file name after the last folder separator; Windows takes '/' too.
const char* FileNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

}  // namespace

size_t ComposeErrorText(const char* className, const Exception* object, const void* faultAddress,
                        char* buffer, size_t size) {
  char modulePath[MAX_PATH + 1] = "";
  uintptr_t shown = reinterpret_cast<uintptr_t>(faultAddress);
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(faultAddress, &region, sizeof(region)) == sizeof(region) &&
      region.State == MEM_COMMIT &&
      GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), modulePath, MAX_PATH) > 0) {
    shown -= reinterpret_cast<uintptr_t>(region.AllocationBase);
  } else {
    GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    if (shown != 0) shown -= 0x1000;
  }
  const char* message = object ? object->messageText.c_str() : "";
  const size_t messageLength = strlen(message);
  const char* ending = messageLength > 0 && message[messageLength - 1] != '.' ? "." : "";
  char templ[256];
  LoadMessageInto(SExceptionBoxText, templ, sizeof(templ));
  return FillTemplateInto(
      buffer, size, templ,
      {className, FileNameOf(modulePath), TemplateArgument::Address(shown), message, ending});
}

void ComposeRuntimeErrorText(uint32_t number, const void* address,
                             char (&text)[kRuntimeErrorTextSize]) {
  memcpy(text, "Runtime error     at 00000000", kRuntimeErrorTextSize);
  // The last digit of the number stands at the 17th character; a long
  // number runs leftwards over the end of "error".
  int position = 16;
  do {
    text[position--] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0 && position >= 0);
  uintptr_t shown = reinterpret_cast<uintptr_t>(address);
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(address, &region, sizeof(region)) == sizeof(region) &&
      region.State == MEM_COMMIT) {
    shown -= reinterpret_cast<uintptr_t>(region.AllocationBase);
  }
  for (int digit = 28; digit >= 21; --digit, shown >>= 4)
    text[digit] = "0123456789ABCDEF"[shown & 0xF];
}
