#include "MachineRoot.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A fresh machine has the Run key, empty, and (as on the NT family) no
// RunServices.
const char kFreshHive[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n\r\n";

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

bool MakeFreshMachine(const std::string& root) {
  if (!MakeFolders(root + "/drive_c")) return false;
  const std::string hive = root + "/HKLM.reg";
  const int fd = open(hive.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST;
  const bool written = write(fd, kFreshHive, sizeof(kFreshHive) - 1) == sizeof(kFreshHive) - 1;
  return close(fd) == 0 && written;
}

}  // namespace

std::string MachineRoot() {
  const char* configured = getenv("KEYVIGIL_ROOT");
  std::string root;
  if (configured && *configured) {
    root = configured;
  } else {
    const char* home = getenv("HOME");
    if (!home || !*home) return {};
    root = std::string(home) + "/.keyvigil";
  }
  // Once a root is known to be there, it is not looked at again; a test that
  // moves KEYVIGIL_ROOT elsewhere gets the new one looked at.
  static std::string knownRoot;
  if (root == knownRoot) return root;
  struct stat info {};
  const bool usable =
      stat(root.c_str(), &info) == 0 ? S_ISDIR(info.st_mode) : MakeFreshMachine(root);
  if (!usable) return {};
  knownRoot = root;
  return root;
}
