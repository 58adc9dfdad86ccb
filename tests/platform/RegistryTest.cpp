#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "Registry.h"
#include "StringList.h"

namespace {

const char kScratch[] = "Software\\KeyVigilTest\\Wrapper";

// Each test works below a scratch key of the current user, made afresh.
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveScratch();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_TRUE(registry.EnterKey(kScratch, false));
  }
  void TearDown() override {
    registry.LeaveKey();
    RemoveScratch();
  }
  static void RemoveScratch() {
    for (const char* key : {"Software\\KeyVigilTest\\Wrapper\\Inner\\Deeper",
                            "Software\\KeyVigilTest\\Wrapper\\Inner", kScratch}) {
      RegDeleteKeyA(HKEY_CURRENT_USER, key);
    }
  }
  void Set(const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  ScratchMachine machine;
  TRegistry registry;
};

TEST_F(Registry, RelativePathsStartAtTheOpenKeyAbsoluteOnesAtTheRoot) {
  EXPECT_TRUE(registry.EnterKey("Inner", true));
  EXPECT_TRUE(registry.EnterKey("Deeper", true));
  EXPECT_FALSE(registry.EnterKey("Inner", false)) << "looked for below Deeper";
  EXPECT_TRUE(registry.EnterKey(std::string("\\") + kScratch + "\\Inner", false));
  registry.LeaveKey();
  EXPECT_FALSE(registry.EnterKey("Deeper", false)) << "looked for below the root";
  EXPECT_TRUE(registry.EnterKey(std::string(kScratch) + "\\Inner\\Deeper", false));
}

TEST_F(Registry, AFailedOpenKeepsTheKeyThatWasOpen) {
  Set("here", REG_SZ, std::string("yes", 4));
  EXPECT_FALSE(registry.EnterKey("Does\\Not\\Exist", false));
  EXPECT_EQ(registry.LastOpenResult(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry.ReadValueText("here"), "yes");
}

TEST_F(Registry, ListingGivesTheNamesInEnumerationOrder) {
  TStringList names;
  names.AppendEntry("stale");
  registry.ListValueNames(names);
  EXPECT_EQ(names.EntryCount(), 0);

  Set("", REG_SZ, std::string("default", 8));
  Set("First", REG_SZ, std::string("1", 2));
  Set("Third", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  registry.ListValueNames(names);
  EXPECT_EQ(EntriesOf(names), (std::vector<std::string>{"", "First", "Third"}));

  registry.LeaveKey();
  registry.ListValueNames(names);
  EXPECT_EQ(names.EntryCount(), 0) << "no key open: an empty list, nothing raised";
}

TEST_F(Registry, ReadingTakesStringsAndRefusesOtherTypes) {
  Set("plain", REG_SZ, std::string("C:\\a.exe", 9));
  Set("expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\b.exe", 19));
  Set("zero", REG_SZ, std::string("before\0after", 13));
  Set("number", REG_DWORD, std::string("\x1f\x00\x00\x00", 4));
  Set("nothing", REG_BINARY, "");
  EXPECT_EQ(registry.ReadValueText("plain"), "C:\\a.exe");
  EXPECT_EQ(registry.ReadValueText("PLAIN"), "C:\\a.exe");
  EXPECT_EQ(registry.ReadValueText("expand"), "%SystemRoot%\\b.exe");
  EXPECT_EQ(registry.ReadValueText("zero"), "before");
  EXPECT_EQ(registry.ReadValueText("nothing"), "");
  EXPECT_EQ(registry.ReadValueText("missing"), "");
  EXPECT_EQ(FailureOf([&] { registry.ReadValueText("number"); }),
            "ERegistryException: Ung\xFCltiger Datentyp f\xFCr 'number'");

  // From REG_NONE to REG_QWORD: only the two string types are read.
  for (DWORD type = REG_NONE; type <= 11; ++type) {
    const std::string name = "type" + std::to_string(type);
    Set(name.c_str(), type, std::string("C:\\t.exe\0\0\0", 11));
    const std::string read = FailureOf([&] { registry.ReadValueText(name); });
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      EXPECT_EQ(read, "nothing raised");
    } else {
      EXPECT_EQ(read, "ERegistryException: Ung\xFCltiger Datentyp f\xFCr '" + name + "'");
    }
  }
}

TEST_F(Registry, WritingRemovingAndTestingValues) {
  registry.WriteValueText("7", "C:\\back.exe");
  EXPECT_TRUE(registry.HasValue("7"));
  EXPECT_EQ(registry.ReadValueText("7"), "C:\\back.exe");
  EXPECT_TRUE(registry.RemoveValue("7"));
  EXPECT_FALSE(registry.HasValue("7"));
  EXPECT_FALSE(registry.RemoveValue("7"));

  registry.LeaveKey();
  EXPECT_FALSE(registry.HasValue("7"));
  EXPECT_EQ(FailureOf([&] { registry.WriteValueText("0", "x"); }),
            "ERegistryException: Konnte Daten f\xFCr '0' nicht setzen");
}

TEST_F(Registry, SelectingAnotherRootLeavesTheOpenKey) {
  Set("here", REG_SZ, std::string("yes", 4));
  registry.SelectRoot(HKEY_CURRENT_USER);
  EXPECT_EQ(registry.ReadValueText("here"), "yes") << "the same root changes nothing";
  registry.SelectRoot(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(registry.HasValue("here"));
}

}  // namespace
