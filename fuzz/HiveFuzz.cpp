// Any bytes either fail to parse or give a hive that survives being written
// and read back unchanged.
#include <cstdlib>

#include "Hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Hive hive("HKEY_LOCAL_MACHINE");
  if (!hive.Parse(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
  const std::string written = hive.Serialize();
  Hive again("HKEY_LOCAL_MACHINE");
  if (!again.Parse(written)) abort();
  if (again.Serialize() != written) abort();
  return 0;
}
