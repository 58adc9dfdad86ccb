// A machine root of the fuzzer's own, made once per process and removed when
// it exits, so that the targets run the real file and registry stand-ins.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

inline const std::filesystem::path& FuzzMachineRoot() {
  static char pattern[] = "/tmp/kvfuzz-XXXXXX";
  static const std::filesystem::path root = [] {
    const std::filesystem::path made = mkdtemp(pattern);
    std::filesystem::create_directories(made / "drive_c");
    setenv("KEYVIGIL_ROOT", made.c_str(), 1);
    // The path object is gone by the time this runs; the pattern is not.
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(pattern, ignored);
    });
    return made;
  }();
  return root;
}

// Replaces a file of the machine root whole, as another program would.
inline void WriteMachineFile(const std::string& name, const std::string& bytes) {
  const std::filesystem::path path = FuzzMachineRoot() / name;
  const std::filesystem::path fresh = path.string() + ".fuzz";
  std::ofstream(fresh, std::ios::binary) << bytes;
  std::filesystem::rename(fresh, path);
}
