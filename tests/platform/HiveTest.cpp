// The Linux registry's own file: REGEDIT4 text in the machine root.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "../support/ScratchMachine.h"
#include "Hive.h"
#include "Syscalls.h"
#include "Win32.h"

namespace {

std::string HiveText(const Hive& hive) { return hive.Serialize(); }

TEST(Hive, EveryTypeAndAwkwardBytesSurviveARoundTrip) {
  Hive hive("HKEY_LOCAL_MACHINE");
  HiveKey& key = hive.Create("Software\\Test");
  std::string everyByte;
  for (int c = 1; c <= 0xFF; ++c) everyByte += static_cast<char>(c);
  key.Set({"plain", REG_SZ, std::string("C:\\a \"b\".exe\0", 13)});
  key.Set({everyByte, REG_SZ, std::string("line\r\nbreak\x1A\0", 13)});
  key.Set({"", REG_EXPAND_SZ, std::string("%x%\0", 4)});
  key.Set({"unterminated", REG_SZ, "no zero"});
  key.Set({"inner zero", REG_SZ, std::string("a\0b\0", 4)});
  key.Set({"number", REG_DWORD, std::string("\x1f\0\0\0", 4)});
  key.Set({"long", REG_BINARY, std::string(300, '\xAB')});
  key.Set({"empty", REG_BINARY, ""});
  key.Set({"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)});
  key.Set({"odd type", 0x1234, "x"});

  const std::string text = HiveText(hive);
  Hive again("HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(again.Parse(text)) << text;
  const HiveKey* copy = again.Find("SOFTWARE\\test");
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->values.size(), key.values.size());
  for (size_t i = 0; i < key.values.size(); ++i) {
    EXPECT_EQ(copy->values[i].name, key.values[i].name) << i;
    EXPECT_EQ(copy->values[i].type, key.values[i].type) << i;
    EXPECT_EQ(copy->values[i].data, key.values[i].data) << i;
  }
  EXPECT_EQ(HiveText(again), text);
  EXPECT_NE(text.find("\"plain\"=\"C:\\\\a \\\"b\\\".exe\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"number\"=dword:0000001f\r\n"), std::string::npos);
  EXPECT_NE(text.find(",\\\r\n  "), std::string::npos) << "long hex data goes on after a backslash";
}

TEST(Hive, ReadsWhatRegeditWrites) {
  Hive hive("HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(
      hive.Parse("REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\A\\B]\n"
                 "@=\"default\"\n\"Bin\"=hex:01,02,\\\n  03\n\"N\"=dword:00000010\n"));
  const HiveKey* key = hive.Find("a\\b");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->Find("")->data, std::string("default\0", 8));
  EXPECT_EQ(key->Find("bin")->data, "\x01\x02\x03");
  EXPECT_TRUE(hive.Exists("A")) << "a key exists when a key below it has a section";
  EXPECT_FALSE(hive.Exists("A\\C"));
}

TEST(Hive, TextThatIsNoHiveIsRefused) {
  for (const char* text :
       {"[HKEY_LOCAL_MACHINE\\A]\r\n",  // no header
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=hex:01,0\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=hex:01,\\\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=qword:1\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=dword:1f\r\n",
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x=\"y\"\r\n",
        "REGEDIT4\r\n\"x\"=\"outside a key\"\r\n", "REGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n",
        "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\A]\r\n"}) {
    Hive hive("HKEY_LOCAL_MACHINE");
    EXPECT_FALSE(hive.Parse(text)) << text;
  }
}

class HiveFile : public ::testing::Test {
 protected:
  std::filesystem::path HivePath() const { return machine.Root() / "HKLM.reg"; }
  void WriteHive(const std::string& text) { std::ofstream(HivePath(), std::ios::binary) << text; }
  std::string ReadHive() const {
    std::ifstream in(HivePath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  LONG SetValue(const char* data) {
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                            static_cast<DWORD>(strlen(data) + 1));
    RegCloseKey(key);
    return result;
  }

  ScratchMachine machine;
};

TEST_F(HiveFile, AHiveThatCannotBeParsedFailsEveryCallAndIsNeverOverwritten) {
  const std::string broken = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"v\"=hex:0\r\n";
  WriteHive(broken);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_READ, &key), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Other", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(ReadHive(), broken);
}

TEST_F(HiveFile, ChangesByAnotherWriterAreSeenByTheNextCall) {
  WriteHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"v\"=\"old\"\r\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
  char data[16];
  DWORD size = sizeof(data);
  ASSERT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "old");
  WriteHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"v\"=\"newer\"\r\n");
  size = sizeof(data);
  ASSERT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(data, "newer");
  std::filesystem::remove(HivePath());
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(HiveFile, AFailedWriteLeavesTheOldHiveWhole) {
  const std::string old =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"v\"=\"old\"\r\n";
  WriteHive(old);
  const UnixSyscalls saved = unixSyscalls;
  for (auto fault : {+[](UnixSyscalls& calls) {
                       calls.write = [](int, const void*, size_t) -> ssize_t {
                         errno = ENOSPC;
                         return -1;
                       };
                     },
                     +[](UnixSyscalls& calls) {
                       calls.fsync = [](int) {
                         errno = EIO;
                         return -1;
                       };
                     },
                     +[](UnixSyscalls& calls) {
                       calls.rename = [](const char*, const char*) {
                         errno = EIO;
                         return -1;
                       };
                     }}) {
    fault(unixSyscalls);
    EXPECT_NE(SetValue("new"), ERROR_SUCCESS);
    unixSyscalls = saved;
    EXPECT_EQ(ReadHive(), old);
    EXPECT_FALSE(std::filesystem::exists(machine.Root() / "HKLM.reg.new"));
  }
  EXPECT_EQ(SetValue("new"), ERROR_SUCCESS);
  EXPECT_NE(ReadHive().find("\"v\"=\"new\""), std::string::npos);
}

TEST_F(HiveFile, AHiveThatMayNotBeWrittenRefusesFullAccessOnly) {
  WriteHive("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n");
  chmod(HivePath().c_str(), 0444);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);
}

TEST(MachineRoot, AMissingRootIsMadeAsAFreshMachine) {
  ScratchMachine scratch;
  const std::filesystem::path root = scratch.Root() / "new machine";
  setenv("KEYVIGIL_ROOT", root.c_str(), 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                          0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
                    0, KEY_READ, &key),
      ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(std::filesystem::is_directory(root / "drive_c"));

  std::ofstream(scratch.Root() / "a file") << "x";
  setenv("KEYVIGIL_ROOT", (scratch.Root() / "a file" / "below").c_str(), 1);
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_SUCCESS);
}

}  // namespace
#else
TEST(Hive, LinuxOnly) { GTEST_SKIP() << "the hive files stand in for the registry on Linux"; }
#endif
