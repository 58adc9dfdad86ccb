#include "Registry.h"

#include <algorithm>

#include "Exceptions.h"
#include "MessageIds.h"

namespace {

constexpr int kListings = 3;
// The longest value name Windows allows, with its terminating zero.
constexpr DWORD kNameUnits = 16384;

// The value, or the key it was in, is not there (any more); any other
// failure is the registry failing, not an empty key.
bool IsAbsent(LONG result) {
  return result == ERROR_FILE_NOT_FOUND || result == ERROR_KEY_DELETED;
}

// What tells whether a key changed while it was listed.
struct KeyFigures {
  DWORD values = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  FILETIME lastWrite{};

  bool Same(const KeyFigures& other) const {
    return values == other.values && lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
           lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime;
  }
};

LONG QueryFigures(HKEY key, KeyFigures& figures) {
  return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          &figures.values, &figures.longestName, &figures.longestData, nullptr,
                          &figures.lastWrite);
}

// The ANSI functions turn a character the code page lacks into '?' or a
// look-alike without a word; converting the wide text without best fit
// tells whether they would give it exactly.
// The size is asked first, so that each of many texts takes only its room.
bool ExactAnsi(const WCHAR* wide, size_t length, std::string& ansi) {
  ansi.clear();
  if (length == 0) return true;
  BOOL usedDefault = FALSE;
  const auto convert = [&](char* out, int room) {
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, static_cast<int>(length), out,
                               room, nullptr, &usedDefault);
  };
  ansi.resize(std::max(convert(nullptr, 0), 0));
  return !ansi.empty() && !usedDefault &&
         convert(ansi.data(), static_cast<int>(ansi.size())) == static_cast<int>(ansi.size());
}

// A name with a zero in it would name another value in every ANSI call.
// Only a value passed over keeps its wide name, for the box at the run's end.
RegistryValue ValueOf(const WideText& name, DWORD type, const WideText& data, DWORD size) {
  RegistryValue value;
  const auto passedOver = [&](uint16_t problem) {
    value.wideName = name;
    value.text.clear();
    value.problem = problem;
    return value;
  };
  if (name.find(WCHAR{}) != WideText::npos || !ExactAnsi(name.data(), name.size(), value.name)) {
    value.name = AnsiForMessage(name);
    return passedOver(SValueNotRepresentable);
  }
  if (size == 0) return value;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return passedOver(SInvalidRegType);
  const size_t units = std::min<size_t>(size / sizeof(WCHAR), data.size());
  const size_t length = std::find(data.begin(), data.begin() + units, WCHAR{}) - data.begin();
  if (!ExactAnsi(data.data(), length, value.text)) return passedOver(SValueNotRepresentable);
  return value;
}

// Name, type and data of the value at a position, in one call each time; a
// value that grew since the figures were taken is read again once.
LONG ReadAt(HKEY key, DWORD index, WideText& name, WideText& data, RegistryValue& value) {
  for (int attempt = 0;; ++attempt) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(data.size() * sizeof(WCHAR));
    const LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data.data()), &size);
    if (result == ERROR_MORE_DATA && attempt == 0 && size > data.size() * sizeof(WCHAR)) {
      data.resize(size / sizeof(WCHAR) + 1);
      continue;
    }
    if (result == ERROR_SUCCESS) value = ValueOf(WideText(name.data(), nameLength), type, data, size);
    return result;
  }
}

// One pass over the positions the figures promise; true when every one was
// read (a value that vanished meanwhile, code 2, counts as read: it is gone).
bool ListOnce(HKEY key, const KeyFigures& figures, std::vector<RegistryValue>& values,
              LONG& failure) {
  WideText name(std::max(kNameUnits, figures.longestName + 1), WCHAR{});
  WideText data(figures.longestData / sizeof(WCHAR) + 1, WCHAR{});
  values.reserve(figures.values);
  for (DWORD index = 0; index < figures.values; ++index) {
    RegistryValue value;
    const LONG result = ReadAt(key, index, name, data, value);
    if (result == ERROR_SUCCESS) values.push_back(std::move(value));
    if (result == ERROR_NO_MORE_ITEMS || result == ERROR_MORE_DATA) return false;
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      failure = result;
      return false;
    }
  }
  return true;
}

bool RunsUnderWow64() {
  using IsWow64Function = BOOL(WINAPI*)(HANDLE, BOOL*);
  // Looked up, not imported: 32-bit Windows before XP SP2 lacks it.
  const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  return found &&
         reinterpret_cast<IsWow64Function>(reinterpret_cast<void*>(found))(GetCurrentProcess(),
                                                                           &wow64) &&
         wow64;
}

}  // namespace

std::vector<REGSAM> RegistryViews() {
  if (sizeof(void*) == 8 || RunsUnderWow64()) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
  return {0};
}

std::string AnsiForMessage(const WideText& wide) {
  std::string ansi(wide.size() * 2, '\0');
  const int size = wide.empty() ? 0
                                : WideCharToMultiByte(CP_ACP, 0, wide.data(),
                                                      static_cast<int>(wide.size()), ansi.data(),
                                                      static_cast<int>(ansi.size()), nullptr,
                                                      nullptr);
  ansi.resize(std::max(size, 0));
  return ansi;
}

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
                                     KEY_ALL_ACCESS | accessView, nullptr, &key, &disposition);
  } else {
    lastOpenResult = RegOpenKeyExA(base, subPath.c_str(), 0, KEY_ALL_ACCESS | accessView, &key);
  }
  if (lastOpenResult != ERROR_SUCCESS) return false;
  std::string newPath = belowOpenKey ? openPath + "\\" + subPath : subPath;
  LeaveKey();
  openKey = key;
  openPath = std::move(newPath);
  return true;
}

// A value deleted during the listing shifts the positions of the others, so
// that one is read twice and another never: the listing counts only when
// the key's value count and last-write time are the same after it as before.
ListResult TRegistry::ListValues(std::vector<RegistryValue>& values) {
  for (int listing = 0; listing < kListings && openKey; ++listing) {
    values.clear();
    KeyFigures before, after;
    LONG result = QueryFigures(openKey, before);
    const bool complete = result == ERROR_SUCCESS && ListOnce(openKey, before, values, result);
    if (result == ERROR_SUCCESS) result = QueryFigures(openKey, after);
    if (result == ERROR_SUCCESS && complete && before.Same(after)) return ListResult::Listed;
    if (result != ERROR_SUCCESS) {
      values.clear();
      return IsAbsent(result) ? ListResult::Listed : ListResult::Failed;
    }
  }
  values.clear();
  return openKey ? ListResult::KeptChanging : ListResult::Listed;
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

Presence TRegistry::HasValue(const std::string& name) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  const LONG result = RegQueryValueExA(openKey, name.c_str(), nullptr, &type, nullptr, &size);
  if (result == ERROR_SUCCESS) return Presence::Present;
  return IsAbsent(result) ? Presence::Absent : Presence::Unknown;
}
