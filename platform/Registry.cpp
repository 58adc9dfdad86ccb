#include "Registry.h"

#include <cstring>
#include <vector>

#include "Exceptions.h"
#include "MessageIds.h"
#include "StringList.h"

TRegistry::~TRegistry() { LeaveKey(); }

void TRegistry::SelectRoot(HKEY root) {
  if (root == rootKey) return;
  if (closeRoot) {
    RegCloseKey(rootKey);
    closeRoot = false;
  }
  rootKey = root;
  LeaveKey();
}

void TRegistry::LeaveKey() {
  if (!openKey) return;
  RegCloseKey(openKey);
  openKey = nullptr;
  openPath.clear();
}

bool TRegistry::EnterKey(const std::string& path, bool mayCreate) {
  const bool absolute = !path.empty() && path[0] == '\\';
  const std::string subPath = absolute ? path.substr(1) : path;
  const bool belowOpenKey = !absolute && openKey;
  HKEY base = belowOpenKey ? openKey : rootKey;
  HKEY key = nullptr;
  if (mayCreate && !subPath.empty()) {
    DWORD disposition = 0;
    lastOpenResult = RegCreateKeyExA(base, subPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
  } else {
    lastOpenResult = RegOpenKeyExA(base, subPath.c_str(), 0, KEY_ALL_ACCESS, &key);
  }
  if (lastOpenResult != ERROR_SUCCESS) return false;
  std::string newPath = belowOpenKey ? openPath + "\\" + subPath : subPath;
  LeaveKey();
  openKey = key;
  openPath = std::move(newPath);
  return true;
}

void TRegistry::ListValueNames(TStringList& list) {
  list.RemoveAllEntries();
  DWORD subKeys = 0, longestSubKey = 0, values = 0, longestName = 0, longestData = 0;
  FILETIME lastWrite{};
  if (RegQueryInfoKeyA(openKey, nullptr, nullptr, nullptr, &subKeys, &longestSubKey, nullptr,
                       &values, &longestName, &longestData, nullptr, &lastWrite) != ERROR_SUCCESS) {
    return;
  }
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (GetSystemMetrics(SM_DBCSENABLED) != 0 && GetVersionExA(&version) &&
      version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    longestSubKey *= 2;
    longestName *= 2;
  }
  std::vector<char> name(longestName + 1);
  for (DWORD index = 0; index < values; ++index) {
    DWORD length = longestName + 1;
    // A value that vanished or grew since the figures were taken fails here;
    // its name would be the previous one's or garbage, so it is left out.
    if (RegEnumValueA(openKey, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    list.AppendEntry(std::string(name.data(), strnlen(name.data(), name.size())));
  }
}

std::string TRegistry::ReadValueText(const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(openKey, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      size == 0) {
    return {};
  }
  std::vector<char> data(size);
  if (RegQueryValueExA(openKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    Raise(new ERegistryException(SRegGetDataFailed, {name}));
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    Raise(new ERegistryException(SInvalidRegType, {name}));
  }
  return std::string(data.data(), strnlen(data.data(), size));
}

void TRegistry::WriteValueText(const std::string& name, const std::string& text) {
  if (RegSetValueExA(openKey, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS) {
    Raise(new ERegistryException(SRegSetDataFailed, {name}));
  }
}

bool TRegistry::RemoveValue(const std::string& name) {
  return RegDeleteValueA(openKey, name.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::HasValue(const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  return RegQueryValueExA(openKey, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}
