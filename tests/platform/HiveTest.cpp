// The Linux registry's own file: REGEDIT4 text in the machine root.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../support/WatchRunFixture.h"
#include "Hive.h"
#include "Syscalls.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// Only hex data goes on over lines, as regedit reads and writes it (26
// bytes take two lines); a changed key is written anew where its first
// section was, with every type as it came, and every other byte stays.
TEST(Hive, ReadsWhatRegeditWritesAndRewritesOnlyAChangedKey) {
  const std::string other = "REGEDIT4\n; ,\\\n[HKEY_LOCAL_MACHINE\\O]\n\"x\"=hex:01,\\\n 02\n";
  Hive hive("HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(hive.Parse(
      other +
      "[HKEY_LOCAL_MACHINE\\A\\B]\n@=\"default\"\n\"Bin\"=hex:0A,02,\\\n"
      "  3f\n; one line ,\\\n\"N\"=dword:00000010\n\"Q\"=\"\\\\\\\"\"\n"
      "\"M\"=hex(7):61,00,62,00,00\n\"T\"=hex(1234):78\n"
      "\"L\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab\n"
      "[hkey_local_machine\\a\\B]\n"
      "\"n\"=dword:0000001F\n[HKEY_LOCAL_MACHINE\\A!]\n@=\"k\""));
  EXPECT_TRUE(hive.Exists("A")) << "a key exists when a key below it has a section";
  EXPECT_EQ(hive.SubKeysOf("a"), std::vector<std::string>{"B"});
  hive.Create("a\\b").Set({"c", REG_SZ, "3\0"s});
  hive.Create("New\\Key").Set({"0", REG_SZ, "x\0"s});
  EXPECT_EQ(hive.Serialize(),
            other +
                "[HKEY_LOCAL_MACHINE\\A\\B]\r\n@=\"default\"\r\n\"Bin\"=hex:0a,02,3f\r\n"
                "\"N\"=dword:0000001f\r\n\"Q\"=\"\\\\\\\"\"\r\n\"M\"=hex(7):61,00,62,00,00\r\n"
                "\"T\"=hex(1234):78\r\n\"L\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
                "ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n  ab\r\n"
                "\"c\"=\"3\"\r\n\r\n[HKEY_LOCAL_MACHINE\\A!]\n@=\"k\"\r\n"
                "[HKEY_LOCAL_MACHINE\\New\\Key]\r\n\"0\"=\"x\"\r\n\r\n");
}

TEST(Hive, TextThatIsNoHiveIsRefused) {
  const std::string h = "REGEDIT4\r\n", k = h + "[HKEY_LOCAL_MACHINE\\A]\r\n";
  for (const std::string& text :
       {"[HKEY_LOCAL_MACHINE\\A]\r\n"s, h + "[HKEY_LOCAL_MACHINE\\A\r\n", k + "\"x\"=hex:01,0",
        k + "\"x\"=hex:01,\\\r\n", k + "\"x\"=qword:1", k + "\"x\"=dword:1f", k + "\"x=\"y\"",
        k + "\"x\"=\"y\"z", k + "\"x\"=\"a,\\\r\nb\"", h + "; a comment ,\\\r\nno line of a hive",
        k + k + "@=x", h + "\"x\"=\"outside a key\"", h + "[HKEY_CURRENT_USER\\A]",
        h + "[-HKEY_LOCAL_MACHINE\\A]"}) {
    Hive hive("HKEY_LOCAL_MACHINE");
    EXPECT_FALSE(hive.Parse(text)) << text;
    EXPECT_FALSE(hive.Exists("A")) << text;
  }
}

// The stand-in's calls straight on the hive file the watch runs use.
class HiveFile : public WatchRunFixture {
 protected:
  static std::string Text(const std::string& data) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n\"v\"=\"" + data + "\"\r\n\r\n";
  }
  void WriteText(const std::string& data) const { std::ofstream(HivePath()) << Text(data); }
  static LONG Open(REGSAM access, HKEY& key) {
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Test", 0, access, &key);
  }
  static std::string Query(HKEY key) {
    BYTE data[16] = {};
    DWORD size = sizeof(data);
    const LONG got = RegQueryValueExA(key, "v", nullptr, nullptr, data, &size);
    return got ? "error " + std::to_string(got) : reinterpret_cast<char*>(data);
  }
};

TEST_F(HiveFile, EveryCallSeesTheFileAsItIsNowAndNeverWaitsForIt) {
  WriteText("new");
  HKEY key = nullptr;
  ASSERT_EQ(Open(KEY_READ, key), ERROR_SUCCESS);
  EXPECT_EQ(Query(key), "new");
  // Edited in place with size and modification time put back: only the
  // status-change time tells, once the clock has moved on.
  struct stat before = {}, after = {};
  stat(HivePath().c_str(), &before);
  std::fstream(HivePath(), std::ios::in | std::ios::out).seekp(Text("n").size() - 5) << "o";
  const timespec times[2] = {before.st_atim, before.st_mtim};
  do utimensat(AT_FDCWD, HivePath().c_str(), times, 0);
  while (stat(HivePath().c_str(), &after) == 0 && after.st_ctim.tv_nsec == before.st_ctim.tv_nsec &&
         usleep(1000) == 0);
  EXPECT_EQ(Query(key), "now");
  const std::tuple<const char*, std::function<void()>, LONG> kinds[] = {
      {"FIFO", [&] { mkfifo(HivePath().c_str(), 0644); }, ERROR_BADDB},
      {"folder", [&] { fs::create_directory(HivePath()); }, ERROR_BADDB},
      {"device", [&] { fs::create_symlink("/dev/null", HivePath()); }, ERROR_BADDB},
      {"a link loop", [&] { fs::create_symlink("HKLM.reg", HivePath()); }, ERROR_CANTREAD},
      {"a bad escape", [&] { WriteText("\\q"); }, ERROR_BADDB}};
  alarm(60);  // a bound for a hang on the FIFO
  for (const auto& [kind, make, error] : kinds) {
    fs::remove_all(HivePath());
    make();
    EXPECT_EQ(Query(key), "error " + std::to_string(error)) << kind;
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Test"), error) << kind;
  }
  alarm(0);
  EXPECT_EQ(Hive(), Text("\\q")) << "a hive that is refused is never written";
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// Makes a system call of the stand-ins fail as a broken disk would.
template <typename Result, typename... Args>
void FailWithEio(Result (*&call)(Args...)) {
  call = [](Args...) -> Result { return errno = EIO, -1; };
}

TEST_F(HiveFile, OnlyWhoMayReplaceTheHiveWritesItAndAFailedWriteTouchesNoFile) {
  const fs::path other = machine.Root() / "other", lock = HivePath() += ".lock";
  const char* folder = machine.Root().c_str();
  // Each row runs in a child process, as its user (who may always read and
  // write the hive file itself); root may write unless the row says otherwise.
  const std::tuple<const char*, std::function<void()>, LONG, uid_t> cases[] = {
      {"write", [] { FailWithEio(unixSyscalls.write); }, ERROR_CANTWRITE, 0},
      {"fsync", [] { FailWithEio(unixSyscalls.fsync); }, ERROR_CANTWRITE, 0},
      {"rename", [] { FailWithEio(unixSyscalls.rename); }, ERROR_CANTWRITE, 0},
      {"a link as the lock", [&] { fs::create_symlink(other, lock); }, ERROR_CANTWRITE, 0},
      {"a lock kept", [&] { flock(open(lock.c_str(), O_RDWR | O_CREAT, 0644), LOCK_EX); },
       ERROR_LOCK_VIOLATION, 0},
      {"another user's lock", [&] { close(open(lock.c_str(), O_CREAT, 0)), chown(lock.c_str(), 1, 1); },
       ERROR_LOCK_VIOLATION, 0},
      {"a linked .new", [&] { fs::create_symlink(other, HivePath() += ".new"); }, ERROR_SUCCESS, 0},
      {"a user, root's folder", [=] { chmod(folder, 0755); }, ERROR_ACCESS_DENIED, 65534},
      {"a user with the rights", [=] { chmod(folder, 0777); }, ERROR_SUCCESS, 65534}};
  for (const auto& [name, make, expected, user] : cases) {
    WriteText("old");
    chmod(HivePath().c_str(), 0666);
    std::ofstream(other) << "other";
    const pid_t child = fork();
    if (child == 0) {
      alarm(60);  // a bound for a hang on the lock
      make();
      HKEY key = nullptr;
      const BYTE data[] = "new";
      const bool reads = !setgid(user) && !setuid(user) && !Open(KEY_READ, key);
      const LONG opened = Open(KEY_ALL_ACCESS, key);
      _exit(reads ? (opened ? opened : RegSetValueExA(key, "v", 0, REG_SZ, data, 4)) & 0xFF : 99);
    }
    int status = 0;
    waitpid(child, &status, 0);
    fs::remove(lock);
    EXPECT_EQ(status, (expected & 0xFF) << 8) << name;
    EXPECT_EQ(Hive(), Text(expected == ERROR_SUCCESS ? "new" : "old")) << name;
    EXPECT_FALSE(fs::exists(HivePath() += ".new")) << name;
    EXPECT_EQ(ReadFile(other), "other") << name;
  }
}

// A missing root is made as a fresh machine; none can be made below a file,
// and then every call fails.
TEST_F(HiveFile, AMissingMachineRootIsMadeAsAFreshMachine) {
  const fs::path root = machine.Root() / "new machine", file = machine.Root() / "a file";
  setenv("KEYVIGIL_ROOT", root.c_str(), 1);
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE), "error 2");
  EXPECT_EQ(ReadFile(root / "HKLM.reg"), "REGEDIT4\r\n\r\n" + Section(kRun, {}));
  EXPECT_TRUE(fs::is_directory(root / "drive_c"));
  std::ofstream(file) << "x";
  setenv("KEYVIGIL_ROOT", (file / "below").c_str(), 1);
  EXPECT_NE(Query(HKEY_LOCAL_MACHINE), "error 2");
}

}  // namespace
#else
TEST(Hive, LinuxOnly) { GTEST_SKIP() << "the hive files stand in for the registry on Linux"; }
#endif
