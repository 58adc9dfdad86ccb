#include <string.h>

#include <string>

#include "CaseFold.h"
#include "Win32.h"

namespace {

int savedArgc = 0;
char** savedArgv = nullptr;

// glibc hands the arguments to every .init_array function, so the command
// line is known without the entry point passing it on.
void CaptureArguments(int argc, char** argv, char**) {
  savedArgc = argc;
  savedArgv = argv;
}
[[gnu::section(".init_array"),
  gnu::used]] void (*const captureArguments)(int, char**, char**) = CaptureArguments;

// Quotes what would not come back as one argument: an empty one, or one
// holding blanks or control bytes. A double quote inside an argument cannot
// be represented; it comes back dropped.
std::string CommandLineFromArguments() {
  std::string line;
  for (int i = 0; i < savedArgc; ++i) {
    const std::string argument = savedArgv[i];
    bool quote = argument.empty();
    for (unsigned char c : argument) quote = quote || c <= 0x20;
    if (i > 0) line += ' ';
    line += quote ? "\"" + argument + "\"" : argument;
  }
  return line;
}

}  // namespace

LPSTR GetCommandLineA() {
  static std::string line = CommandLineFromArguments();
  return line.data();
}

int GetSystemMetrics(int) { return 0; }

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 19045;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  info->szCSDVersion[0] = 0;
  return TRUE;
}

int CompareStringA(LCID, DWORD flags, LPCSTR string1, int length1, LPCSTR string2, int length2) {
  if (!string1 || !string2 || (flags & ~static_cast<DWORD>(NORM_IGNORECASE)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t size1 = length1 < 0 ? strlen(string1) : static_cast<size_t>(length1);
  const size_t size2 = length2 < 0 ? strlen(string2) : static_cast<size_t>(length2);
  const auto* a = reinterpret_cast<const unsigned char*>(string1);
  const auto* b = reinterpret_cast<const unsigned char*>(string2);
  const size_t common = size1 < size2 ? size1 : size2;
  size_t i = 0;
  // Equal stretches are skipped eight bytes at a time: the lists compare
  // many paths that share a long beginning.
  while (i + 8 <= common && memcmp(a + i, b + i, 8) == 0) i += 8;
  const bool ignoreCase = flags & NORM_IGNORECASE;
  // As Windows' word sort does, a soft hyphen counts for nothing.
  constexpr unsigned char kSoftHyphen = 0xAD;
  for (size_t j = i;; ++i, ++j) {
    while (i < size1 && a[i] == kSoftHyphen) ++i;
    while (j < size2 && b[j] == kSoftHyphen) ++j;
    if (i == size1 || j == size2) {
      if (i == size1 && j == size2) return CSTR_EQUAL;
      return i == size1 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    const unsigned char x = ignoreCase ? FoldCase(a[i]) : a[i];
    const unsigned char y = ignoreCase ? FoldCase(b[j]) : b[j];
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
}
