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

using Lines = std::vector<std::string>;

class Snapshot : public ::testing::Test {
 protected:
  Lines Load(const std::string& bytes) {
    machine.Write("snap.dat", bytes);
    return LoadFrom("snap.dat");
  }
  Lines LoadFrom(const std::string& name) {
    TStringList list;
    LoadSnapshot(channel, machine.Path(name), list);
    return EntriesOf(list);
  }

  ScratchMachine machine;
  TTextChannel channel{};
};

TEST_F(Snapshot, LoadKeepsTheNonEmptyLinesInFileOrder) {
  EXPECT_EQ(Load("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(Load("a\r\n\r\n\rb\r\nlast without end"), (Lines{"a", "b", "last without end"}));
  EXPECT_EQ(LoadFrom("first.dat"), Lines{});
  EXPECT_EQ(machine.Read("first.dat"), "") << "a missing file is created empty";
}

// Only a missing file is made anew: one that is there but cannot be read is
// reported and left as it is.
TEST_F(Snapshot, AFileThatCannotBeReadIsReportedNotEmptied) {
  machine.Write("held.dat", "accepted\r\n");
  const HANDLE holder = CreateFileA(machine.Path("held.dat").c_str(), GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const struct {
    const char* name;
    const char* failure;
  } cases[] = {
      {"held.dat", "EInOutError: E/A-Fehler 32"},
      {"no such folder\\snap.dat", "EInOutError: Ung\xFCltiger Dateiname"},
      {"nul.dat2", "EInOutError: Ung\xFCltiger Dateiname"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(FailureOf([&] { LoadFrom(test.name); }), test.failure) << test.name;
  }
  CloseHandle(holder);
  EXPECT_EQ(machine.Read("held.dat"), "accepted\r\n");
#ifndef _WIN32
  const UnixSyscalls saved = unixSyscalls;
  unixSyscalls.open = [](const char* path, int flags, mode_t mode) {
    return flags & O_CREAT ? (errno = ENOSPC, -1) : ::open(path, flags, mode);
  };
  EXPECT_EQ(FailureOf([&] { LoadFrom("new.dat"); }), "EInOutError: E/A-Fehler 112") << "full disk";
  unixSyscalls = saved;
#endif
}

TEST_F(Snapshot, AppendAddsALineOfItsOwn) {
  for (const std::string before : {"a\r\nb\r\n", "a\r\nb"}) {
    EXPECT_EQ(Load(before), (Lines{"a", "b"}));
    AppendSnapshotLine(channel, "C:\\u.exe");
    EXPECT_EQ(machine.Read("snap.dat"), "a\r\nb\r\nC:\\u.exe\r\n");
  }
  std::filesystem::remove(machine.HostPath("snap.dat"));
  EXPECT_EQ(FailureOf([&] { AppendSnapshotLine(channel, "x"); }),
            "EInOutError: Datei nicht gefunden");
}

TEST_F(Snapshot, RewriteKeepsTheListInOrderInTheFileOfAnyCase) {
  machine.Write("KeyVigil.dat", "one\r\ntwo\r\nthree\r\n");
  TStringList list;
  LoadSnapshot(channel, machine.Path("KeyVigil.dat"), list);
  list.RemoveEntryAt(1);
  RewriteSnapshot(machine.Path("keyvigil.dat"), list);
  EXPECT_EQ(machine.Read("KeyVigil.dat"), "one\r\nthree\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.HostPath("")), {}), 1);
}

}  // namespace
