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

// Only a missing file is made anew, never one that is there but cannot be
// read now. The next append goes to the file loaded last; a
// file deleted meanwhile is not passed off as written.
TEST_F(Snapshot, LoadKeepsTheNonEmptyLinesCreatesOnlyAMissingFileAndAppendsToIt) {
  machine.Write("snap.dat", "a\r\n\r\n\rb\r\nlast without end");
  const std::pair<const char*, const char*> cases[] = {
      {"snap.dat", "a|b|last without end|"},
      {"no such folder\\snap.dat", "EInOutError: Ung\374ltiger Dateiname"},
      {"first.dat", ""}};
  for (const auto& [name, loaded] : cases) EXPECT_EQ(Load(name), loaded) << name;
  AppendSnapshotLine(channel, "C:\\u.exe");
  EXPECT_EQ(machine.Read("first.dat"), "C:\\u.exe\r\n");
  std::filesystem::remove(machine.HostPath("first.dat"));
  EXPECT_EQ(FailureOf([&] { AppendSnapshotLine(channel, "x"); }),
            "EInOutError: Datei nicht gefunden");
  const HANDLE holder = CreateFileA(machine.Path("snap.dat").c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
  EXPECT_EQ(Load("snap.dat"), "EInOutError: E/A-Fehler 32") << "held by a writer";
  CloseHandle(holder);
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\n\r\n\rb\r\nlast without end") << "not emptied";
#ifndef _WIN32
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.open = [](const char* path, int flags, mode_t mode) {
    return flags & O_CREAT ? (errno = ENOSPC, -1) : ::open(path, flags, mode);
  };
  EXPECT_EQ(Load("new.dat"), "EInOutError: E/A-Fehler 112") << "full disk";
  unixSyscalls = saved;
#endif
}

}  // namespace
