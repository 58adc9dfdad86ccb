#pragma once

#include <string>

class TRegistry;

// The program's whole behaviour: both watch passes, then the normal end of
// the process (it does not return).
[[noreturn]] void WatchRun();

// Opens the watched key below HKEY_LOCAL_MACHINE; a key that does not exist
// is a key without values. Raises ERegistryException naming keyLine when the
// key exists but cannot be opened.
void EnterWatchedKey(TRegistry& registry, const char* watchedKey, const std::string& keyLine);
