// The conversions between the ANSI code page and UTF-16. Windows-1252 has a
// unit for each of its bytes, so text from the Linux build's hives and files
// always converts exactly; only UTF-16 text from elsewhere can lack a byte.
#include "Cp1252.h"
#include "Win32.h"

namespace {

// Windows' convention for a source length of -1: up to and with the zero.
template <typename Unit>
int LengthOf(const Unit* text, int length) {
  if (length >= 0) return length;
  int count = 0;
  while (text[count] != 0) ++count;
  return count + 1;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteLength, LPWSTR wide,
                        int wideLength) {
  if (codePage != CP_ACP || flags != 0 || bytes == nullptr || wideLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int length = LengthOf(bytes, byteLength);
  if (wideLength == 0) return length;
  if (wideLength < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < length; ++i) wide[i] = UnicodeOfCp1252(static_cast<unsigned char>(bytes[i]));
  return length;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR bytes,
                        int byteLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (codePage != CP_ACP || (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS)) != 0 ||
      wide == nullptr || byteLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int length = LengthOf(wide, wideLength);
  if (byteLength != 0 && byteLength < length) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  bool usedDefault = false;
  for (int i = 0; i < length; ++i) {
    unsigned char byte = 0;
    if (!Cp1252OfUnicode(wide[i], byte)) {
      byte = defaultChar ? static_cast<unsigned char>(*defaultChar) : '?';
      usedDefault = true;
    }
    if (byteLength != 0) bytes[i] = static_cast<char>(byte);
  }
  if (usedDefaultChar) *usedDefaultChar = usedDefault;
  return length;
}
