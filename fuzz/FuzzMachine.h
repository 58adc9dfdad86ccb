// A machine root of the fuzzer's own, made once per process and removed when
// it exits, so that the targets run the real file and registry stand-ins.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "ScratchMachine.h"

// Replaces a file of the machine root whole, as another program would: a new
// file, so that the hive stand-in cannot take it for the one it has read.
inline void WriteMachineFile(const std::string& name, const std::string& bytes) {
  static const ScratchMachine machine;
  const std::filesystem::path path = machine.Root() / name;
  const std::filesystem::path fresh = path.string() + ".fuzz";
  std::ofstream(fresh, std::ios::binary) << bytes;
  std::filesystem::rename(fresh, path);
}
