#include "StringList.h"

#include <algorithm>
#include <array>

#include "Exceptions.h"
#include "MessageIds.h"
#include "Win32.h"

namespace {

int CompareSpans(const char* a, size_t aLength, const char* b, size_t bLength) {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(aLength), b,
                        static_cast<int>(bLength)) -
         2;
}

}  // namespace

// The capitals come from the system's own mapping of the code page, asked
// once per byte rather than once per comparison.
char CapitalOf(char c) {
  static const std::array<char, 256> capitals = [] {
    std::array<char, 256> table;
    for (size_t byte = 0; byte < table.size(); ++byte) {
      table[byte] = static_cast<char>(byte);
      CharUpperBuffA(&table[byte], 1);
    }
    return table;
  }();
  return capitals[static_cast<unsigned char>(c)];
}

// The locale's comparison also calls texts equal that differ in more than
// letter case: it skips a soft hyphen, takes the sharp s for "ss", and under
// Wine holds '^' and the modifier circumflex equal even one by one, so
// another file's path could pass for an accepted one. Texts match only when
// each byte has its counterpart's capital; that check runs only on what the
// whole comparison already calls equal, so the scan stays cheap.
int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const int order = CompareSpans(a.data(), a.size(), b.data(), b.size());
  if (order != 0) return order;
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const unsigned char x = CapitalOf(a[i]);
    const unsigned char y = CapitalOf(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

TStrings::~TStrings() = default;

void TStrings::ResizeStorage(int32_t) {}

int32_t TStrings::FindEntry(const std::string& text) const {
  const int32_t count = EntryCount();
  for (int32_t position = 0; position < count; ++position) {
    if (CompareIgnoringCase(EntryAt(position), text) == 0) return position;
  }
  return -1;
}

void TStrings::RaiseListError(uint16_t messageId, int32_t number, const void* faultAddress) {
  RaiseAt(new EStringListError(messageId, {number}), faultAddress);
}

TStringList::~TStringList() {
  afterEditHook = {};
  beforeEditHook = {};
  adapterLink.reset();
  ReleaseEntries();
}

// The position errors report the caller's call site, so these stay out of line.
[[gnu::noinline]] const std::string& TStringList::EntryAt(int32_t position) const {
  if (position < 0 || position >= entryCount) {
    RaiseListError(SListIndexError, position, KV_CALLER_ADDRESS());
  }
  return slots[position].text;
}

int32_t TStringList::EntryCount() const { return entryCount; }

[[gnu::noinline]] void TStringList::ReplaceEntry(int32_t position, const std::string& text) {
  if (isSorted) RaiseListError(SSortedListError, 0, KV_CALLER_ADDRESS());
  if (position < 0 || position >= entryCount) {
    RaiseListError(SListIndexError, position, KV_CALLER_ADDRESS());
  }
  NotifyBeforeEdit();
  slots[position].text = text;
  NotifyAfterEdit();
}

void TStringList::ResizeStorage(int32_t newSlotCount) {
  std::unique_ptr<Entry[]> block;
  if (newSlotCount > 0) {
    block = std::make_unique<Entry[]>(newSlotCount);
    std::move(slots.get(), slots.get() + std::min(entryCount, newSlotCount), block.get());
  }
  slots = std::move(block);
  slotCount = newSlotCount;
  entryCount = std::min(entryCount, std::max(newSlotCount, 0));
}

[[gnu::noinline]] int32_t TStringList::AppendEntry(const std::string& text) {
  int32_t position = entryCount;
  if (isSorted && LocateSorted(text, position)) {
    if (duplicatePolicy == DuplicatePolicy::IgnoreDuplicate) return position;
    if (duplicatePolicy == DuplicatePolicy::RejectDuplicate) {
      RaiseListError(SDuplicateString, 0, KV_CALLER_ADDRESS());
    }
  }
  InsertEntry(position, text);
  return position;
}

void TStringList::RemoveAllEntries() {
  if (entryCount == 0) return;
  NotifyBeforeEdit();
  ReleaseEntries();
  NotifyAfterEdit();
}

[[gnu::noinline]] void TStringList::RemoveEntryAt(int32_t position) {
  if (position < 0 || position >= entryCount) {
    RaiseListError(SListIndexError, position, KV_CALLER_ADDRESS());
  }
  NotifyBeforeEdit();
  slots[position].text.clear();
  --entryCount;
  if (position < entryCount) {
    std::move(slots.get() + position + 1, slots.get() + entryCount + 1, slots.get() + position);
  }
  slots[entryCount] = Entry{};
  NotifyAfterEdit();
}

int32_t TStringList::FindEntry(const std::string& text) const {
  if (!isSorted) return TStrings::FindEntry(text);
  int32_t position = 0;
  return LocateSorted(text, position) ? position : -1;
}

void TStringList::NotifyAfterEdit() {
  if (batchDepth == 0 && afterEditHook.function) {
    afterEditHook.function(afterEditHook.context, *this);
  }
}

void TStringList::NotifyBeforeEdit() {
  if (batchDepth == 0 && beforeEditHook.function) {
    beforeEditHook.function(beforeEditHook.context, *this);
  }
}

bool TStringList::LocateSorted(const std::string& text, int32_t& position) const {
  int32_t low = 0;
  int32_t high = entryCount - 1;
  bool found = false;
  while (low <= high) {
    const int32_t middle = (low + high) / 2;
    const int result = CompareIgnoringCase(slots[middle].text, text);
    if (result < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
      if (result == 0) {
        found = true;
        if (duplicatePolicy != DuplicatePolicy::AcceptDuplicate) low = middle;
      }
    }
  }
  position = low;
  return found;
}

void TStringList::InsertEntry(int32_t position, const std::string& text) {
  NotifyBeforeEdit();
  if (entryCount == slotCount) GrowStorage();
  if (position < entryCount) {
    std::move_backward(slots.get() + position, slots.get() + entryCount,
                       slots.get() + entryCount + 1);
  }
  slots[position] = Entry{text, nullptr};
  ++entryCount;
  NotifyAfterEdit();
}

void TStringList::GrowStorage() {
  int32_t step = 4;
  if (slotCount > 64) {
    step = slotCount / 4;
  } else if (slotCount > 8) {
    step = 16;
  }
  ResizeStorage(slotCount + step);
}

void TStringList::ReleaseEntries() {
  entryCount = 0;
  ResizeStorage(0);
}
