// A scratch folder on drive C: for one test, seen by the code under test as
// a Windows path and by the test as a host path. On Linux it is a fresh
// machine root of its own (KEYVIGIL_ROOT), so hives start empty too.
#pragma once

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class ScratchMachine {
 public:
  ScratchMachine() {
#ifdef _WIN32
    static int counter = 0;
    windowsDir = "C:\\kvtest-" + std::to_string(_getpid()) + "-" + std::to_string(++counter);
    hostDir = windowsDir;
#else
    char pattern[] = "/tmp/kvtest-XXXXXX";
    root = mkdtemp(pattern);
    setenv("KEYVIGIL_ROOT", root.c_str(), 1);
    windowsDir = "C:\\scratch";
    hostDir = root / "drive_c" / "scratch";
#endif
    std::filesystem::create_directories(hostDir);
  }
  ~ScratchMachine() {
    std::error_code ignored;
    std::filesystem::remove_all(root.empty() ? hostDir : root, ignored);
  }

  // The Windows path of a file in the scratch folder.
  std::string Path(const std::string& name) const { return windowsDir + "\\" + name; }
  std::filesystem::path HostPath(const std::string& name) const { return hostDir / name; }
  const std::filesystem::path& Root() const { return root; }

  std::string Read(const std::string& name) const {
    std::ifstream in(HostPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(HostPath(name), std::ios::binary) << bytes;
  }

 private:
  std::filesystem::path root;
  std::string windowsDir;
  std::filesystem::path hostDir;
};
