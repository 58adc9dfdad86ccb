#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Registry.h"

namespace {

using namespace std::string_literals;

const std::string kScratch = "Software\\KeyVigilTest\\Wrapper";

// Each test works below a scratch key of the current user, made afresh (a
// Wine prefix keeps the last run's).
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& key : {kScratch + "\\Inner\\Deeper", kScratch + "\\Inner", kScratch})
      RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    ASSERT_TRUE(registry.EnterKey(kScratch, true));
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kScratch.c_str(), 0, KEY_ALL_ACCESS, &scratch),
              ERROR_SUCCESS);
  }
  void TearDown() override { RegCloseKey(scratch); }
  // Each value listed as name=text, or with the id of the message that says
  // why it was passed over.
  std::vector<std::string> Listed() {
    std::vector<RegistryValue> values;
    EXPECT_EQ(registry.ListValues(values), ListResult::Listed);
    std::vector<std::string> listed;
    for (const RegistryValue& value : values) {
      listed.push_back(value.name + "=" +
                       (value.Carried() ? value.text
                                        : "passed over: " + std::to_string(value.problem)));
    }
    return listed;
  }

  ScratchMachine machine;
  HKEY scratch = nullptr;
  TRegistry registry;
};

// The values are made in the order of their names, so that the listing's
// order is the same whether a registry keeps them by age or by name. Only
// the two string types are read; every other type with data is passed over
// (65431 names a wrong type), whatever its bytes: a REG_MULTI_SZ too. The
// watch-run tests pass over a number, list a key that is not there as empty,
// and read the default value, data that holds a zero, and a hive that stops
// parsing (an error, not an empty key).
TEST_F(Registry, ListingRemovingAndWritingValues) {
  const std::tuple<const char*, DWORD, std::string> cases[] = {
      {"expand", REG_EXPAND_SZ, "%SystemRoot%\\b.exe\0"s},
      {"multi", REG_MULTI_SZ, "C:\\t.exe\0\0"s},
      {"nothing", REG_BINARY, ""},
      {"plain", REG_SZ, "C:\\a.exe\0"s},
      {"unended", REG_SZ, "no zero"},
  };
  for (const auto& [name, type, data] : cases)
    RegSetValueExA(scratch, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
  EXPECT_EQ(Listed(), (std::vector<std::string>{"expand=%SystemRoot%\\b.exe",
                                                "multi=passed over: 65431", "nothing=",
                                                "plain=C:\\a.exe", "unended=no zero"}));
  EXPECT_TRUE(registry.RemoveValue("plain"));
  EXPECT_FALSE(registry.RemoveValue("plain"));
  EXPECT_EQ(registry.HasValue("plain"), Presence::Absent);
  EXPECT_EQ(registry.HasValue("unended"), Presence::Present);
  ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kScratch.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Listed(), std::vector<std::string>{}) << "a key deleted while open has no values";
  EXPECT_EQ(registry.HasValue("unended"), Presence::Absent);
  registry.LeaveKey();
  EXPECT_EQ(Listed(), std::vector<std::string>{}) << "no key open has no values";
  EXPECT_EQ(FailureOf([&] { registry.WriteValueText("0", "x"); }),
            "ERegistryException: Konnte Daten f\374r '0' nicht setzen");
}

// The ANSI functions give '?' for a character the code page lacks and a
// look-alike where one exists ("best fit"); such names and data are told
// apart from exact ones (65435) and never mistaken for another value's.
// Exact non-ASCII data is what the Wine end-to-end run's accepted value shows.
TEST_F(Registry, TextBeyondTheCodePageIsPassedOver) {
#ifndef _WIN32
  GTEST_SKIP() << "the Linux hives hold Windows-1252 text only, which is always exact";
#else
  const std::pair<const wchar_t*, const wchar_t*> values[] = {
      {L"Tool", L"C:\\tool.exe"},
      {L"\uFF34ool", L"C:\\lookalike.exe"},
      {L"\u0412\u0438\u0440\u0443\u0441", L"C:\\v.exe"},
      {L"Pr\u00FCfer", L"C:\\\u0430\u0431.exe"}};
  for (const auto& [name, data] : values)
    RegSetValueExW(scratch, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
  // A name with a zero in it, which only the native function sets, would
  // name "Upd" in every ANSI call.
  wchar_t hidden[] = L"Upd\0hidden", data[] = L"C:\\h.exe";
  struct { USHORT length, room; wchar_t* text; } name{20, 22, hidden};
  using SetValue = LONG(WINAPI*)(HKEY, void*, ULONG, ULONG, void*, ULONG);
  reinterpret_cast<SetValue>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")))(scratch, &name, 0, REG_SZ,
                                                                       data, sizeof(data));
  // A registry may keep its values by age or by name.
  std::vector<std::string> listed = Listed();
  std::ranges::sort(listed);
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "?????" "=passed over: 65435", "Pr\374fer=passed over: 65435",
                        "Tool=C:\\tool.exe", "Tool=passed over: 65435",
                        "Upd\0hidden=passed over: 65435"s}));
#endif
}

}  // namespace
