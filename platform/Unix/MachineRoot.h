// The folder that stands in for the Windows machine, like a Wine prefix:
// $KEYVIGIL_ROOT, else $HOME/.keyvigil. It holds the hives HKLM.reg and
// HKCU.reg and one folder drive_<letter> per drive.
#pragma once

#include <string>

// The machine root, made as a fresh machine when it does not exist yet
// (the folder, drive_c/ and an HKLM.reg with an empty Run key). Empty when
// it cannot be made; callers then fail with ERROR_PATH_NOT_FOUND.
std::string MachineRoot();
