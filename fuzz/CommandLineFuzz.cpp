// Any command line splits into non-empty arguments without double quotes,
// and those arguments, each written in double quotes after a program name as
// the Linux build rebuilds its command line, split back into the same ones.
#include <cstdlib>

#include "CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const int32_t count = ArgumentCountOf(line.c_str());
  if (count < 0) abort();
  std::string rebuilt = "kv";
  for (int32_t n = 1; n <= count; ++n) {
    const std::string argument = ArgumentTextOf(line.c_str(), n);
    if (argument.empty() || argument.find('"') != std::string::npos) abort();
    rebuilt += " \"" + argument + "\"";
  }
  if (!ArgumentTextOf(line.c_str(), count + 1).empty()) abort();
  if (ArgumentCountOf(rebuilt.c_str()) != count) abort();
  for (int32_t n = 1; n <= count; ++n) {
    if (ArgumentTextOf(rebuilt.c_str(), n) != ArgumentTextOf(line.c_str(), n)) abort();
  }
  return 0;
}
