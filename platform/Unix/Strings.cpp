#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "CaseFold.h"
#include "StringResources.h"
#include "Syscalls.h"
#include "Win32.h"

namespace {

// A language resource file on Linux is text: a line "id=text" for each text
// it has, in Windows-1252, with \n (a backslash and an n) for a line break.
// As on Windows, the handle of a module loaded as data has its lowest bit
// set.
using LanguageFile = std::map<UINT, std::string>;

const LanguageFile* LanguageFileOf(HINSTANCE module) {
  const auto bits = reinterpret_cast<uintptr_t>(module);
  return bits & 1 ? reinterpret_cast<const LanguageFile*>(bits - 1) : nullptr;
}

std::string Unescaped(std::string_view text) {
  std::string unescaped;
  for (size_t at = 0; at < text.size(); ++at) {
    const bool lineBreak = text.substr(at, 2) == "\\n";
    unescaped += lineBreak ? '\n' : text[at];
    at += lineBreak;
  }
  return unescaped;
}

}  // namespace

// Read as a hive is: a FIFO in its place cannot keep start-up waiting.
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE, DWORD flags) {
  struct stat identity {};
  std::string text;
  if (!(flags & LOAD_LIBRARY_AS_DATAFILE) || unixSyscalls.stat(fileName, &identity) != 0 ||
      ReadWhole(fileName, identity, text) != ERROR_SUCCESS) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto* file = new LanguageFile;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.ends_with('\r')) line.pop_back();
    char* end = nullptr;
    const unsigned long id = strtoul(line.c_str(), &end, 10);
    if (*end == '=' && end != line.c_str() && id <= 0xFFFF) (*file)[id] = Unescaped(end + 1);
  }
  return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(file) + 1);
}

BOOL FreeLibrary(HMODULE module) {
  delete LanguageFileOf(module);
  return TRUE;
}

// Any other module is the program, whose table is linked in.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) return 0;
  std::string_view text;
  if (const LanguageFile* file = LanguageFileOf(module)) {
    if (const auto found = file->find(id); found != file->end()) text = found->second;
  } else {
    const StringResource* end = stringResources + stringResourceCount;
    const StringResource* found = std::find_if(
        stringResources, end, [id](const StringResource& resource) { return resource.id == id; });
    if (found != end) text = std::string_view(found->text, found->length);
  }
  const size_t length = std::min(text.size(), static_cast<size_t>(bufferMax - 1));
  std::copy_n(text.data(), length, buffer);
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
