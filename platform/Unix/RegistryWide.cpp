// The wide registry functions over the ANSI ones: the hives hold
// Windows-1252 text, so names and string data convert byte for unit. A wide
// name the code page cannot hold names no value of a hive.
#include <string>

#include "Win32.h"

namespace {

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// String data as UTF-16 units, anything else as it is, with the size the
// caller asked for or needs.
LONG WidenData(DWORD type, const std::string& bytes, LPBYTE data, LPDWORD dataLength) {
  if (!dataLength) return ERROR_SUCCESS;
  const bool widen = IsStringType(type);
  const DWORD needed = static_cast<DWORD>(bytes.size() * (widen ? sizeof(WCHAR) : 1));
  const DWORD available = *dataLength;
  *dataLength = needed;
  if (!data) return ERROR_SUCCESS;
  if (available < needed) return ERROR_MORE_DATA;
  if (!widen) {
    bytes.copy(reinterpret_cast<char*>(data), bytes.size());
    return ERROR_SUCCESS;
  }
  std::basic_string<WCHAR> wide(bytes.size(), WCHAR{});
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                      static_cast<int>(wide.size()));
  wide.copy(reinterpret_cast<WCHAR*>(data), wide.size());
  return ERROR_SUCCESS;
}

// The value's type and all its bytes through the ANSI function.
LONG ReadAll(HKEY key, const std::string& name, DWORD& type, std::string& bytes) {
  DWORD size = 0;
  LONG result = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (result != ERROR_SUCCESS) return result;
  bytes.assign(size, '\0');
  result = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                            reinterpret_cast<BYTE*>(bytes.data()), &size);
  bytes.resize(size);
  return result;
}

}  // namespace

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                   LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  if (!valueName || !valueNameLength) return ERROR_INVALID_PARAMETER;
  std::string name(*valueNameLength, '\0');
  DWORD length = *valueNameLength;
  DWORD valueType = REG_NONE;
  const LONG result =
      RegEnumValueA(key, index, name.data(), &length, reserved, &valueType, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return result;
  name.resize(length);
  MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, valueName, static_cast<int>(length + 1));
  *valueNameLength = length;
  if (type) *type = valueType;
  if (!dataLength) return ERROR_SUCCESS;
  std::string bytes;
  const LONG read = ReadAll(key, name, valueType, bytes);
  return read == ERROR_SUCCESS ? WidenData(valueType, bytes, data, dataLength) : read;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  std::string name;
  if (valueName) {
    std::basic_string<WCHAR> wide(valueName);
    name.assign(wide.size(), '\0');
    BOOL usedDefault = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        name.data(), static_cast<int>(name.size()), nullptr, &usedDefault);
    if (usedDefault) return ERROR_FILE_NOT_FOUND;
  }
  DWORD valueType = REG_NONE;
  std::string bytes;
  const LONG result = ReadAll(key, name, valueType, bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type) *type = valueType;
  return WidenData(valueType, bytes, data, dataLength);
}
