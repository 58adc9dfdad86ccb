// Windows-1252, the ANSI code page of the Windows that KeyVigil stands in
// for: every byte has one UTF-16 unit. The five bytes the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of the
// same number, as Windows converts them.
#pragma once

#include <cstdint>

inline char16_t UnicodeOfCp1252(unsigned char byte) {
  static const char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

// False when the code page has no byte for the unit.
inline bool Cp1252OfUnicode(char16_t unit, unsigned char& byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) {
    byte = static_cast<unsigned char>(unit);
    return true;
  }
  for (unsigned value = 0x80; value < 0xA0; ++value) {
    if (UnicodeOfCp1252(static_cast<unsigned char>(value)) == unit) {
      byte = static_cast<unsigned char>(value);
      return true;
    }
  }
  return false;
}
