// Small helpers the tests share: what a call raises, and a list's entries.
#pragma once

#include <string>
#include <vector>

#include "Exceptions.h"
#include "StringList.h"

// Runs the call and returns "Class: message" of the exception it raises.
template <typename Call>
std::string FailureOf(Call call) {
  try {
    call();
  } catch (Exception* e) {
    std::string text = std::string(e->ClassName()) + ": " + e->messageText;
    ReleaseException(e);
    return text;
  }
  return "nothing raised";
}

inline std::vector<std::string> EntriesOf(const TStrings& list) {
  std::vector<std::string> entries;
  for (int32_t i = 0; i < list.EntryCount(); ++i) entries.push_back(list.EntryAt(i));
  return entries;
}
