// Sets a string value through the Unicode registry functions, for the
// end-to-end runs that need names and data beyond Windows-1252: reg.exe
// under Wine may convert the text on its way in.
//
//   setvaluew <key below HKLM> <name> <data>
//
// "\uXXXX" in an argument stands for that UTF-16 unit, so that the text does
// not depend on how the command line reaches the program.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Decoded(const wchar_t* text) {
  std::wstring decoded;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'\\' && p[1] == L'u' && wcslen(p) >= 6) {
      decoded += static_cast<wchar_t>(wcstoul(std::wstring(p + 2, 4).c_str(), nullptr, 16));
      p += 5;
    } else {
      decoded += *p;
    }
  }
  return decoded;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 3;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  const std::wstring name = Decoded(argv[2]), data = Decoded(argv[3]);
  const LONG result =
      RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 0 : 1;
}
