#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "Exceptions.h"
#include "StringList.h"

namespace {

TStringList* ListOf(std::initializer_list<const char*> texts) {
  auto* list = new TStringList;
  for (const char* text : texts) list->AppendEntry(text);
  return list;
}

TEST(StringList, StorageGrowsByTheFixedStepsAndIsGivenBackWhenEmptied) {
  TStringList list;
  std::vector<int32_t> capacities;
  for (int i = 0; i < 230; ++i) {
    list.AppendEntry("x");
    if (capacities.empty() || capacities.back() != list.SlotCount()) {
      capacities.push_back(list.SlotCount());
    }
  }
  EXPECT_EQ(capacities,
            (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228, 285}));

  TStringList preset;
  preset.ResizeStorage(200);
  preset.RemoveAllEntries();
  EXPECT_EQ(preset.SlotCount(), 200) << "emptying an empty list keeps its preset";
  for (int i = 0; i < 201; ++i) preset.AppendEntry("y");
  EXPECT_EQ(preset.SlotCount(), 250);
  preset.RemoveAllEntries();
  EXPECT_EQ(preset.SlotCount(), 0);
  EXPECT_EQ(preset.EntryCount(), 0);
}

TEST(StringList, EditsKeepOrderAndCopies) {
  std::unique_ptr<TStringList> list(ListOf({"a", "b", "c"}));
  const int32_t slots = list->SlotCount();
  list->RemoveEntryAt(1);
  EXPECT_EQ(EntriesOf(*list), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(list->SlotCount(), slots);

  std::string text = "z";
  list->ReplaceEntry(0, text);
  text = "changed afterwards";
  EXPECT_EQ(EntriesOf(*list), (std::vector<std::string>{"z", "c"}));

  EXPECT_EQ(list->AppendEntry(std::string("with\0zero", 9)), 2);
  EXPECT_EQ(list->EntryAt(2).size(), 9u);
  list->RemoveEntryAt(2);
  list->RemoveEntryAt(0);
  EXPECT_EQ(EntriesOf(*list), (std::vector<std::string>{"c"}));
}

TEST(StringList, PositionsOutsideTheListRaiseAndChangeNothing) {
  TStringList empty;
  EXPECT_EQ(FailureOf([&] { empty.EntryAt(0); }),
            "EStringListError: Der Index der Liste \xFC"
            "berschreitet das Maximum (0)");

  std::unique_ptr<TStringList> list(ListOf({"a", "b", "c"}));
  EXPECT_EQ(FailureOf([&] { list->EntryAt(3); }),
            "EStringListError: Der Index der Liste \xFC"
            "berschreitet das Maximum (3)");
  EXPECT_EQ(FailureOf([&] { list->RemoveEntryAt(-1); }),
            "EStringListError: Der Index der Liste \xFC"
            "berschreitet das Maximum (-1)");
  EXPECT_EQ(FailureOf([&] { list->ReplaceEntry(7, "q"); }),
            "EStringListError: Der Index der Liste \xFC"
            "berschreitet das Maximum (7)");
  EXPECT_EQ(EntriesOf(*list), (std::vector<std::string>{"a", "b", "c"}));
}

// The fault address of a position error is the caller's call site, so it
// must lie in this test's code, not inside the list.
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

TEST(StringList, PositionErrorPointsAtTheCaller) {
  TStringList list;
  const auto address = reinterpret_cast<uintptr_t>(FaultAddressOfBadRead(list));
  const auto caller = reinterpret_cast<uintptr_t>(&FaultAddressOfBadRead);
  EXPECT_GT(address, caller);
  EXPECT_LT(address, caller + 4096) << "within the calling function";
}

TEST(StringList, FindIgnoresLetterCaseAndReturnsTheFirstMatch) {
  std::unique_ptr<TStringList> list(ListOf({"x", "C:\\PROG.EXE", "c:\\prog.exe"}));
  EXPECT_EQ(list->FindEntry("c:\\prog.exe"), 1);
  EXPECT_EQ(list->FindEntry("C:\\Prog.exe"), 1);
  EXPECT_EQ(list->FindEntry("c:\\prog.ex"), -1);
  EXPECT_EQ(list->FindEntry(""), -1);
  EXPECT_EQ(TStringList().FindEntry("anything"), -1);

  std::unique_ptr<TStringList> umlauts(ListOf({"a", "\xE4nderung"}));
  EXPECT_EQ(umlauts->FindEntry("\xC4NDERUNG"), 1);
  EXPECT_EQ(umlauts->FindEntry("\xE4"), -1);
  EXPECT_EQ(umlauts->FindEntry("A"), 0);
}

// Only letter case is ignored: the locale's comparison alone would also
// skip a soft hyphen and expand the sharp s or a ligature, which lets
// another file's path pass for an accepted one.
TEST(StringList, CompareIgnoringCaseIgnoresLetterCaseAndNothingElse) {
  const struct {
    std::string a, b;
    bool equal;
  } cases[] = {
      {"abc", "ABC", true},
      {"", "", true},
      {"\xE4nderung \xE9t\xE9", "\xC4NDERUNG \xC9T\xC9", true},
      {"a", "\xE4", false},
      {std::string("a\0b", 3), "a", false},
      {"C:\\Tools\\up\xAD"
       "dater.exe",
       "C:\\Tools\\updater.exe", false},
      {"C:\\Stra\xDF"
       "e.exe",
       "C:\\Strasse.exe", false},
      {"C:\\\xE6on.exe", "C:\\aeon.exe", false},
      {"C:\\Cla\xDF\xAD\\a.exe", "C:\\Class\\a.exe", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareIgnoringCase(c.a, c.b) == 0, c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(CompareIgnoringCase(c.b, c.a) == 0, c.equal) << c.b << " / " << c.a;
  }
  EXPECT_EQ(CompareIgnoringCase("a", "b"), -1);
  EXPECT_EQ(CompareIgnoringCase("b", "a"), 1);
}

}  // namespace
