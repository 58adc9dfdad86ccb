#include "MatchIndex.h"

#include "StringList.h"

namespace {

// FNV-1a over the capitals: no copy of the text is made, and texts that
// differ only in letter case get the same key.
uint64_t CapitalsKey(const std::string& text) {
  uint64_t key = 14695981039346656037u;
  for (const char c : text) key = (key ^ static_cast<unsigned char>(CapitalOf(c))) * 1099511628211u;
  return key;
}

}  // namespace

MatchIndex::MatchIndex(const TStrings& list) : list(list) {}

bool MatchIndex::HasMatch(const std::string& text) {
  for (; filedCount < list.EntryCount(); ++filedCount) {
    positionsByCapitals.emplace(CapitalsKey(list.EntryAt(filedCount)), filedCount);
  }
  const auto [first, last] = positionsByCapitals.equal_range(CapitalsKey(text));
  for (auto candidate = first; candidate != last; ++candidate) {
    if (CompareIgnoringCase(list.EntryAt(candidate->second), text) == 0) return true;
  }
  return false;
}
