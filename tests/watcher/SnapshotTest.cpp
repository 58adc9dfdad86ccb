#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Snapshot.h"
#ifndef _WIN32
#include <fcntl.h>

#include <cerrno>

#include "Syscalls.h"
#endif

namespace {

class Snapshot : public ::testing::Test {
 protected:
  // The entries loaded from the file, or what the load raised.
  std::string Load(const std::string& name) {
    TStringList list;
    const std::string failure = FailureOf([&] { LoadSnapshot(channel, machine.Path(name), list); });
    std::string entries;
    for (const std::string& entry : EntriesOf(list)) entries += entry + "|";
    return failure == "nothing raised" ? entries : failure;
  }

  ScratchMachine machine;
  TTextChannel channel{};
};

// Only a missing file is made anew: one that is there but cannot be read is
// reported and left as it is.
TEST_F(Snapshot, LoadKeepsTheNonEmptyLinesAndCreatesOnlyAMissingFile) {
  machine.Write("snap.dat", "a\r\n\r\n\rb\r\nlast without end");
  machine.Write("held.dat", "accepted\r\n");
  const HANDLE holder = CreateFileA(machine.Path("held.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"snap.dat", "a|b|last without end|"},
      {"first.dat", ""},
      {"held.dat", "EInOutError: E/A-Fehler 32"},
      {"no such folder\\snap.dat", "EInOutError: Ung\374ltiger Dateiname"},
      {"nul.dat2", "EInOutError: Ung\374ltiger Dateiname"}};
  for (const auto& [name, loaded] : cases) EXPECT_EQ(Load(name), loaded) << name;
  CloseHandle(holder);
  EXPECT_TRUE(machine.Exists("first.dat"));
  EXPECT_EQ(machine.Read("held.dat"), "accepted\r\n");
#ifndef _WIN32
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.open = [](const char* path, int flags, mode_t mode) {
    return flags & O_CREAT ? (errno = ENOSPC, -1) : ::open(path, flags, mode);
  };
  EXPECT_EQ(Load("new.dat"), "EInOutError: E/A-Fehler 112") << "full disk";
  unixSyscalls = saved;
#endif
}

TEST_F(Snapshot, AppendAddsALineOfItsOwnAndRewriteKeepsTheOrder) {
  machine.Write("KeyVigil.dat", "one\r\ntwo\r\nthree");
  TStringList list;
  LoadSnapshot(channel, machine.Path("KeyVigil.dat"), list);
  AppendSnapshotLine(channel, "C:\\u.exe");
  EXPECT_EQ(machine.Read("KeyVigil.dat"), "one\r\ntwo\r\nthree\r\nC:\\u.exe\r\n");
  list.RemoveEntryAt(1);
  RewriteSnapshot(machine.Path("keyvigil.dat"), list);
  EXPECT_EQ(machine.Read("KeyVigil.dat"), "one\r\nthree\r\n") << "the file of any case";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.HostPath("")), {}), 1);
  std::filesystem::remove(machine.HostPath("KeyVigil.dat"));
  EXPECT_EQ(FailureOf([&] { AppendSnapshotLine(channel, "x"); }),
            "EInOutError: Datei nicht gefunden");
}

}  // namespace
