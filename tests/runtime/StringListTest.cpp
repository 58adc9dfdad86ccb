#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "Exceptions.h"
#include "StringList.h"

namespace {

using Entries = std::vector<std::string>;

void Fill(TStringList& list, const Entries& texts) {
  for (const std::string& text : texts) list.AppendEntry(text);
}

std::string IndexError(int32_t position) {
  return "EStringListError: Der Index der Liste \374berschreitet das Maximum (" +
         std::to_string(position) + ")";
}

// The fault address of a position error must lie in this function, not
// inside the list.
[[gnu::noinline]] const void* FaultAddressOfBadRead(TStringList& list) {
  try {
    list.EntryAt(5);
  } catch (Exception* e) {
    const void* address = e->faultAddress;
    ReleaseException(e);
    return address;
  }
  return nullptr;
}

// A position error changes nothing and is raised at the caller's call site.
TEST(StringList, EditsKeepOrderAndBadPositionsRaiseAtTheCaller) {
  TStringList empty, list;
  Fill(list, {"a", "b", "c"});
  EXPECT_EQ(FailureOf([&] { empty.EntryAt(0); }), IndexError(0));
  EXPECT_EQ(FailureOf([&] { list.EntryAt(3); }), IndexError(3));
  EXPECT_EQ(FailureOf([&] { list.RemoveEntryAt(-1); }), IndexError(-1));
  EXPECT_EQ(FailureOf([&] { list.ReplaceEntry(3, "x"); }), IndexError(3));
  EXPECT_EQ(EntriesOf(list), (Entries{"a", "b", "c"}));
  const auto address = reinterpret_cast<uintptr_t>(FaultAddressOfBadRead(list));
  const auto caller = reinterpret_cast<uintptr_t>(&FaultAddressOfBadRead);
  EXPECT_GT(address, caller);
  EXPECT_LT(address, caller + 4096) << "within the calling function";
  list.RemoveEntryAt(1);
  EXPECT_EQ(list.AppendEntry(std::string("with\0zero", 9)), 2);
  list.RemoveEntryAt(0);
  EXPECT_EQ(EntriesOf(list), (Entries{"c", std::string("with\0zero", 9)}));
}

// Only letter case is ignored: the locale's comparison alone would also
// skip a soft hyphen and expand the sharp s or a ligature, which lets
// another file's path pass for an accepted one.
TEST(StringList, CompareIgnoringCaseIgnoresLetterCaseAndNothingElse) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"abc", "ABC", true},
      {"", "", true},
      {"\344nderung \351t\351", "\304NDERUNG \311T\311", true},
      {"a", "\344", false},
      {std::string("a\0b", 3), "a", false},
      {"C:\\Tools\\up\255dater.exe", "C:\\Tools\\updater.exe", false},
      {"a\255b", "\255ab", false},
      {"C:\\Stra\337e.exe", "C:\\Strasse.exe", false},
      {"C:\\\346on.exe", "C:\\aeon.exe", false},
      {"C:\\Cla\337\255\\a.exe", "C:\\Class\\a.exe", false}};
  for (const auto& [a, b, equal] : cases) {
    EXPECT_EQ(CompareIgnoringCase(a, b) == 0, equal) << a << " / " << b;
    EXPECT_EQ(CompareIgnoringCase(b, a) == 0, equal) << b << " / " << a;
  }
}

// Windows-1252 as a German Windows gives its capitals: each run of small
// letters from `small` to `last` has its capitals from `capital` on. Under
// Wine the locale's comparison alone also holds '^' and 0x88 equal, and a
// zero byte and a soft hyphen.
TEST(StringList, OfAllPairsOfBytesOnlyTheCasePairsMatch) {
  const int runs[][3] = {{'a', 'z', 'A'},    {0xE0, 0xF6, 0xC0}, {0xF8, 0xFE, 0xD8},
                         {0x9A, 0x9A, 0x8A}, {0x9C, 0x9C, 0x8C}, {0x9E, 0x9E, 0x8E},
                         {0xFF, 0xFF, 0x9F}};
  const auto capitalOf = [&](int small, int capital) {
    for (const auto& [first, last, firstCapital] : runs)
      if (small >= first && small <= last && capital == firstCapital + small - first) return true;
    return false;
  };
  std::string wrong;
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const bool match = CompareIgnoringCase(std::string(1, a), std::string(1, b)) == 0;
      if (match != (a == b || capitalOf(a, b) || capitalOf(b, a)))
        wrong += std::to_string(a) + "/" + std::to_string(b) + " ";
    }
  }
  EXPECT_EQ(wrong, "");
}

}  // namespace
