#include <algorithm>
#include <cstring>

#include "CaseFold.h"
#include "StringResources.h"
#include "Win32.h"

// Every module shares the one table; there are no language resource files on
// Linux, so the instance does not matter.
int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  const StringResource* end = stringResources + stringResourceCount;
  const StringResource* found = std::find_if(
      stringResources, end, [id](const StringResource& resource) { return resource.id == id; });
  if (found == end) {
    buffer[0] = 0;
    return 0;
  }
  const size_t length = std::min(found->length, static_cast<size_t>(bufferMax - 1));
  memcpy(buffer, found->text, length);
  buffer[length] = 0;
  return static_cast<int>(length);
}

DWORD CharUpperBuffA(LPSTR text, DWORD length) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i) {
    text[i] = static_cast<char>(UpperCase(static_cast<unsigned char>(text[i])));
  }
  return length;
}
