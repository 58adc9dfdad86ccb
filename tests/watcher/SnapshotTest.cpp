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
  // A writer keeps the load from a file in the middle of a change; a reader
  // that shares only reading, a backup's say, does not.
  for (const auto& [access, share, loaded] :
       {std::tuple{GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, "EInOutError: E/A-Fehler 32"},
        {GENERIC_READ, FILE_SHARE_READ, "a|b|last without end|"}}) {
    const HANDLE holder = CreateFileA(machine.Path("snap.dat").c_str(), access, share, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Load("snap.dat"), loaded);
    CloseHandle(holder);
  }
  const std::string old = "a\r\n\r\n\rb\r\nlast without end";
  EXPECT_EQ(machine.Read("snap.dat"), old) << "not emptied";
#ifndef _WIN32
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.open = [](const char* path, int flags, mode_t mode) {
    return flags & O_CREAT ? (errno = ENOSPC, -1) : ::open(path, flags, mode);
  };
  EXPECT_EQ(Load("new.dat"), "EInOutError: E/A-Fehler 112") << "full disk";
  // A file made anew that cannot then be opened fails as that open does.
  unixSyscalls.open = [](const char* path, int flags, mode_t mode) {
    static bool created = false;
    created |= (flags & O_CREAT) != 0;
    return created && !(flags & O_CREAT) ? (errno = EACCES, -1) : ::open(path, flags, mode);
  };
  EXPECT_EQ(Load("made.dat"), "EInOutError: Dateizugriff verweigert");
  unixSyscalls = saved;
  // The disk is full when the line itself goes out, after the old content.
  static int writesLeft = 1;
  unixSyscalls.write = [](int fd, const void* bytes, size_t count) -> ssize_t {
    return writesLeft-- > 0 ? ::write(fd, bytes, count) : (errno = ENOSPC, -1);
  };
  EXPECT_EQ(Load("snap.dat"), "a|b|last without end|");
  EXPECT_EQ(FailureOf([&] { AppendSnapshotLine(channel, "y"); }), "EInOutError: E/A-Fehler 112");
  EXPECT_EQ(machine.Read("snap.dat"), old);
  unixSyscalls = saved;
#endif
}

}  // namespace
