#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Win32.h"

using WideText = std::basic_string<WCHAR>;

// A value as one enumeration gave its name, type and data together. A value
// KeyVigil cannot carry exactly (a name or text beyond the ANSI code page or
// with a zero in its name, a type that is no string) comes with the message
// that says why, and no text.
struct RegistryValue {
  WideText wideName;  // passed over only: as the wide functions give it, zeros kept
  std::string name;   // the ANSI form shown and used to delete it
  std::string text;
  uint16_t problem = 0;
  bool Carried() const { return problem == 0; }
};

enum class ListResult { Listed, Failed, KeptChanging };
enum class Presence { Absent, Present, Unknown };

// Keeps a root key, the registry view its keys are opened in, and at most
// one open key below it. Writes raise ERegistryException; opening, deleting
// and testing report their outcome.
class TRegistry {
 public:
  TRegistry() = default;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  ~TRegistry();

  void SelectRoot(HKEY root);
  // KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 where the machine has one view.
  void SelectView(REGSAM view) { accessView = view; }
  void LeaveKey();
  bool EnterKey(const std::string& path, bool mayCreate);
  // Every value of the open key with its data, from one listing during which
  // the key did not change; no key open, or a key deleted, has no values.
  ListResult ListValues(std::vector<RegistryValue>& values);
  void WriteValueText(const std::string& name, const std::string& text);
  bool RemoveValue(const std::string& name);
  Presence HasValue(const std::string& name);

  // The platform's result of the last EnterKey, for callers that must tell a
  // key that does not exist from one they may not open.
  LONG LastOpenResult() const { return lastOpenResult; }

 private:
  HKEY openKey = nullptr;
  HKEY rootKey = HKEY_CURRENT_USER;
  REGSAM accessView = 0;
  std::string openPath;
  bool closeRoot = false;
  LONG lastOpenResult = ERROR_SUCCESS;
};

// The registry views of this machine, the native one first: both on 64-bit
// Windows, the only one (0) on 32-bit Windows.
std::vector<REGSAM> RegistryViews();

// A wide text in the ANSI code page as the ANSI functions would give it,
// look-alikes and '?' included: for messages only.
std::string AnsiForMessage(const WideText& wide);
