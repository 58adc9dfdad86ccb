#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

class TStrings;

// Tells whether a list holds a match for a text without comparing every
// pair: entries are filed by their text in capitals, and only those filed
// alike are put to the full match rule. A match differs at most in letter
// case, so it is always filed alike.
class MatchIndex {
 public:
  explicit MatchIndex(const TStrings& list);

  // Entries appended to the list since the last call are filed first; the
  // list must not change otherwise while the index is in use.
  bool HasMatch(const std::string& text);

 private:
  const TStrings& list;
  std::unordered_multimap<uint64_t, int32_t> positionsByCapitals;
  int32_t filedCount = 0;
};
