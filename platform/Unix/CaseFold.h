// Letter case as Windows ignores it in names and comparisons, for
// Windows-1252 text: ASCII, the Latin-1 capitals, and Š, Œ, Ž, Ÿ in the 0x80 row.
#pragma once

#include <string>
#include <string_view>

inline unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c + ('a' - 'A');
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 0x10;
  if (c == 0x9F) return 0xFF;
  return c;
}

// The capital of each small letter, as a German Windows maps the code page:
// the sharp s, the micro sign, the ordinals and the florin have none.
inline unsigned char UpperCase(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - ('a' - 'A');
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0x9A || c == 0x9C || c == 0x9E) return c - 0x10;
  if (c == 0xFF) return 0x9F;
  return c;
}

inline std::string FoldedCopy(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  return folded;
}
