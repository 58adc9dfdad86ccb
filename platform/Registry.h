#pragma once

#include <string>

#include "Win32.h"

class TStringList;

// Keeps a root key and at most one open key below it. Reads and writes raise
// ERegistryException; opening, deleting and testing report a boolean.
class TRegistry {
 public:
  TRegistry() = default;
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  ~TRegistry();

  void SelectRoot(HKEY root);
  void LeaveKey();
  bool EnterKey(const std::string& path, bool mayCreate);
  void ListValueNames(TStringList& list);
  std::string ReadValueText(const std::string& name);
  void WriteValueText(const std::string& name, const std::string& text);
  bool RemoveValue(const std::string& name);
  bool HasValue(const std::string& name);

  // The platform's result of the last EnterKey, for callers that must tell a
  // key that does not exist from one they may not open.
  LONG LastOpenResult() const { return lastOpenResult; }

 private:
  HKEY openKey = nullptr;
  HKEY rootKey = HKEY_CURRENT_USER;
  std::string openPath;
  bool closeRoot = false;
  LONG lastOpenResult = ERROR_SUCCESS;
};
