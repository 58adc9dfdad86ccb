#include <gtest/gtest.h>

#include <algorithm>

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

  // The text read, or the id of the message that says why it was passed over.
  std::string Read(const std::string& name) {
    const ValueText value = registry.ReadValueText(name);
    return value.Carried() ? value.text : "passed over: " + std::to_string(value.problem);
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
  EXPECT_EQ(Read("here"), "yes");
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

// Only the two string types are read; every other type with data is passed
// over (65431 names a wrong type), whatever its bytes.
TEST_F(Registry, ReadingTakesStringsAndPassesOverOtherTypes) {
  const struct {
    const char* name;
    DWORD type;
    std::string data;
    const char* read;
  } cases[] = {
      {"plain", REG_SZ, std::string("C:\\a.exe", 9), "C:\\a.exe"},
      {"expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\b.exe", 19), "%SystemRoot%\\b.exe"},
      {"zero", REG_SZ, std::string("before\0after", 13), "before"},
      {"unended", REG_SZ, "no zero", "no zero"},
      {"nothing", REG_BINARY, "", ""},
      {"none", REG_NONE, std::string("C:\\t.exe\0", 9), "passed over: 65431"},
      {"binary", REG_BINARY, std::string("C:\\t.exe\0", 9), "passed over: 65431"},
      {"number", REG_DWORD, std::string("\x1f\0\0\0", 4), "passed over: 65431"},
      {"multi", REG_MULTI_SZ, std::string("C:\\t.exe\0\0", 10), "passed over: 65431"},
      {"quad", REG_QWORD, std::string(8, '\1'), "passed over: 65431"},
  };
  for (const auto& c : cases) Set(c.name, c.type, c.data);
  for (const auto& c : cases) EXPECT_EQ(Read(c.name), c.read) << c.name;
  EXPECT_EQ(Read("PLAIN"), "C:\\a.exe") << "names ignore letter case";
  EXPECT_EQ(Read("missing"), "");
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kScratch), ERROR_SUCCESS);
  EXPECT_EQ(Read("plain"), "") << "a key deleted while open has no values";
  registry.LeaveKey();
  EXPECT_EQ(Read("plain"), "") << "no key open reads as nothing there";
}

// The ANSI functions give '?' for a character the code page lacks and a
// look-alike where one exists ("best fit"); such names and data are told
// apart from exact ones (65435) and never mistaken for another value's.
TEST_F(Registry, TextBeyondTheCodePageIsPassedOver) {
#ifndef _WIN32
  GTEST_SKIP() << "the Linux hives hold Windows-1252 text only, which is always exact";
#else
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const struct {
    const wchar_t* name;
    const wchar_t* data;
  } values[] = {
      {L"Tool", L"C:\\tool.exe"},
      {L"\uFF34ool", L"C:\\lookalike.exe"},
      {L"\u0412\u0438\u0440\u0443\u0441", L"C:\\v.exe"},
      {L"Pr\u00FCfer", L"C:\\\u0430\u0431.exe"},
      {L"Gr\u00FC\u00DFe", L"C:\\Gr\u00FC\u00DFe.exe"},
  };
  for (const auto& value : values) {
    ASSERT_EQ(RegSetValueExW(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data),
                             static_cast<DWORD>((wcslen(value.data) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  RegCloseKey(key);
  TStringList names;
  registry.ListValueNames(names);
  std::vector<std::string> listed = EntriesOf(names), passedOver = registry.UncarriedNames();
  std::sort(listed.begin(), listed.end());
  std::sort(passedOver.begin(), passedOver.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"Gr\xFC\xDF"
                                              "e",
                                              "Pr\xFC"
                                              "fer",
                                              "Tool"}));
  EXPECT_EQ(passedOver, (std::vector<std::string>{"?????", "Tool"}));
  EXPECT_EQ(Read("Tool"), "C:\\tool.exe") << "the look-alike hides nothing";
  EXPECT_EQ(Read("Pr\xFC"
                 "fer"),
            "passed over: 65435");
  EXPECT_EQ(Read("Gr\xFC\xDF"
                 "e"),
            "C:\\Gr\xFC\xDF"
            "e.exe");
#endif
}

// A registry that fails is not an empty key: only a value or key that is not
// there reads as the empty text.
TEST_F(Registry, AFailingRegistryRaisesInsteadOfReadingNothing) {
  Set("plain", REG_SZ, std::string("C:\\a.exe", 9));
#ifdef _WIN32
  GTEST_SKIP() << "a hive that stops parsing exists on Linux only";
#else
  std::ofstream(machine.Root() / "HKCU.reg", std::ios::binary) << "REGEDIT4\r\n[broken";
  EXPECT_EQ(FailureOf([&] { registry.ReadValueText("plain"); }),
            "ERegistryException: Konnte Daten f\xFCr 'plain' nicht holen");
#endif
}

TEST_F(Registry, WritingRemovingAndTestingValues) {
  registry.WriteValueText("7", "C:\\back.exe");
  EXPECT_TRUE(registry.HasValue("7"));
  EXPECT_EQ(Read("7"), "C:\\back.exe");
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
  EXPECT_EQ(Read("here"), "yes") << "the same root changes nothing";
  registry.SelectRoot(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(registry.HasValue("here"));
}

}  // namespace
