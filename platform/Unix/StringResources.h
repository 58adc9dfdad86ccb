// The program's string table as the Linux build links it in: LoadStringA
// reads it as Windows reads the STRINGTABLE resource of the executable.
#pragma once

#include <cstddef>
#include <cstdint>

struct StringResource {
  uint16_t id;
  const char* text;
  size_t length;
};

extern const StringResource stringResources[];
extern const size_t stringResourceCount;
