#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Win32.h"

class TStringList;

// A value's data as KeyVigil sees it. A value it cannot carry exactly (its
// type is not a string, or the ANSI functions turned its text into '?' or a
// look-alike) comes with the message that says why, and no text.
struct ValueText {
  std::string text;
  uint16_t problem = 0;
  bool Carried() const { return problem == 0; }
};

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
  // Lists the names the ANSI functions carry exactly; the others are left
  // out and kept in UncarriedNames until the next listing.
  void ListValueNames(TStringList& list);
  const std::vector<std::string>& UncarriedNames() const { return uncarriedNames; }
  // Raises ERegistryException only when the registry fails; a value that
  // does not exist (any more) reads as the empty text.
  ValueText ReadValueText(const std::string& name);
  void WriteValueText(const std::string& name, const std::string& text);
  bool RemoveValue(const std::string& name);
  bool HasValue(const std::string& name);

  // The platform's result of the last EnterKey, for callers that must tell a
  // key that does not exist from one they may not open.
  LONG LastOpenResult() const { return lastOpenResult; }

 private:
  bool WideDataIs(const std::string& name, const std::string& text);

  HKEY openKey = nullptr;
  HKEY rootKey = HKEY_CURRENT_USER;
  std::string openPath;
  bool closeRoot = false;
  std::vector<std::string> uncarriedNames;
  LONG lastOpenResult = ERROR_SUCCESS;
};
