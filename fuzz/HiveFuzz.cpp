// Any bytes either fail to parse or give a hive whose keys, once written
// anew, read back with the same values, while the bytes around them stay.
#include <cstdlib>

#include "Hive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Hive hive("HKEY_LOCAL_MACHINE");
  if (!hive.Parse(std::string(reinterpret_cast<const char*>(data), size))) return 0;
  const std::vector<std::string> names = hive.SubKeysOf("");
  for (const std::string& name : names) hive.Create(name);
  const std::string written = hive.Serialize();
  Hive again("HKEY_LOCAL_MACHINE");
  if (!again.Parse(written) || again.Serialize() != written) abort();
  for (const std::string& name : names) {
    if (hive.Find(name)->values != again.Find(name)->values) abort();
  }
  return 0;
}
