#include "Registry.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Exceptions.h"
#include "MessageIds.h"
#include "StringList.h"

namespace {

using WideText = std::basic_string<WCHAR>;

// The value, or the key it was in, is not there (any more), or no key is
// open; any other failure is the registry failing, not an empty key.
bool IsAbsent(LONG result) {
  return result == ERROR_FILE_NOT_FOUND || result == ERROR_KEY_DELETED ||
         result == ERROR_INVALID_HANDLE;
}

WideText WideOf(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 1) return {};
  WideText wide(length, WCHAR{});
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(length - 1);
  return wide;
}

// The ANSI functions turn a character the code page lacks into '?' or a
// look-alike without a word; only the wide text, converted without best
// fit, tells whether they gave the value's text exactly.
bool SameInAnsi(const WCHAR* wide, size_t length, const std::string& ansi) {
  if (length == 0) return ansi.empty();
  std::string converted(length * 2, '\0');
  BOOL usedDefault = FALSE;
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(length),
                                       converted.data(), static_cast<int>(converted.size()),
                                       nullptr, &usedDefault);
  return size > 0 && !usedDefault && std::string_view(converted.data(), size) == ansi;
}

}  // namespace

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
  uncarriedNames.clear();
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
  std::string name(longestName + 1, '\0');
  WideText wideName(longestName + 1, WCHAR{});
  for (DWORD index = 0; index < values; ++index) {
    DWORD length = longestName + 1;
    // A value that vanished or grew since the figures were taken fails here;
    // its name would be the previous one's or garbage, so it is left out.
    if (RegEnumValueA(openKey, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    const std::string ansi(name.c_str());
    DWORD wideLength = longestName + 1;
    const bool exact = RegEnumValueW(openKey, index, wideName.data(), &wideLength, nullptr, nullptr,
                                     nullptr, nullptr) == ERROR_SUCCESS &&
                       SameInAnsi(wideName.data(), wideLength, ansi);
    if (exact) {
      list.AppendEntry(ansi);
    } else {
      uncarriedNames.push_back(ansi);
    }
  }
}

ValueText TRegistry::ReadValueText(const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  const LONG sized = RegQueryValueExA(openKey, name.c_str(), nullptr, &type, nullptr, &size);
  if (sized != ERROR_SUCCESS && !IsAbsent(sized)) {
    Raise(new ERegistryException(SRegGetDataFailed, {name}));
  }
  if (sized != ERROR_SUCCESS || size == 0) return {};
  std::string data(size, '\0');
  if (RegQueryValueExA(openKey, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    Raise(new ERegistryException(SRegGetDataFailed, {name}));
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return {{}, SInvalidRegType};
  ValueText value{data.substr(0, strnlen(data.data(), size))};
  if (!WideDataIs(name, value.text)) value = {{}, SValueNotRepresentable};
  return value;
}

// A value that changed or vanished between the two reads cannot be told
// exact either; it is reported, not guessed at.
bool TRegistry::WideDataIs(const std::string& name, const std::string& text) {
  const WideText wideName = WideOf(name);
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(openKey, wideName.c_str(), nullptr, &type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  WideText data(size / sizeof(WCHAR) + 1, WCHAR{});
  if (RegQueryValueExW(openKey, wideName.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return false;
  }
  data.resize(size / sizeof(WCHAR));
  return SameInAnsi(data.data(), std::min(data.find(WCHAR{}), data.size()), text);
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
