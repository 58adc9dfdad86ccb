#include "CommandLine.h"

#include "Win32.h"

namespace {

constexpr size_t kMaxArgumentBytes = 4096;

bool IsBlank(char c) { return c != 0 && static_cast<unsigned char>(c) <= 0x20; }
bool EndsArgument(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Collects one argument from the line and returns where the next one starts.
const char* NextArgument(const char* line, std::string& argument) {
  argument.clear();
  for (;;) {
    while (IsBlank(*line)) ++line;
    if (line[0] != '"' || line[1] != '"') break;
    line += 2;
  }
  while (!EndsArgument(*line) && argument.size() < kMaxArgumentBytes) {
    if (*line != '"') {
      argument += *line++;
      continue;
    }
    ++line;
    while (*line != 0 && *line != '"' && argument.size() < kMaxArgumentBytes) argument += *line++;
    if (*line == '"') ++line;
  }
  return line;
}

}  // namespace

int32_t ArgumentCountOf(const char* commandLine) {
  std::string argument;
  const char* next = NextArgument(commandLine, argument);
  int32_t count = 0;
  for (;;) {
    next = NextArgument(next, argument);
    if (argument.empty()) return count;
    ++count;
  }
}

std::string ArgumentTextOf(const char* commandLine, int32_t n) {
  std::string argument;
  const char* next = commandLine;
  for (int32_t i = 0; i <= n; ++i) next = NextArgument(next, argument);
  return argument;
}

int32_t ArgumentCount() { return ArgumentCountOf(GetCommandLineA()); }

std::string ArgumentText(int32_t n) {
  if (n != 0) return ArgumentTextOf(GetCommandLineA(), n);
  char fileName[261];
  const DWORD length = GetModuleFileNameA(nullptr, fileName, sizeof(fileName));
  return std::string(fileName, length < sizeof(fileName) ? length : sizeof(fileName));
}
