#include <gtest/gtest.h>

#include "../support/Failures.h"
#include "../support/ScratchMachine.h"
#include "Exceptions.h"
#include "Snapshot.h"
#include "StringList.h"

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
  EXPECT_EQ(Load("\r\n\r\n\r\n"), Lines{});
  EXPECT_EQ(Load("a\nb\nc\r\n"), Lines{"a\nb\nc"}) << "a lone line feed is part of the line";
  EXPECT_EQ(Load("a\r\nb\x1A"
                 "c\r\nd\r\n"),
            (Lines{"a", "b"}))
      << "0x1A ends what is read";
  EXPECT_EQ(Load(std::string("b\xE4r\r\nA\x00Z\r\n", 10)),
            (Lines{"b\xE4r", std::string("A\0Z", 3)}));
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
  EXPECT_FALSE(machine.Exists("no such folder"));
}

TEST_F(Snapshot, AppendAddsOneLineOfItsOwnAndLeavesTheListAlone) {
  const struct {
    std::string before, after;
    Lines loaded;
  } cases[] = {
      {"a\r\nb\r\n", "a\r\nb\r\nC:\\u.exe\r\n", {"a", "b", "C:\\u.exe"}},
      {"a\r\nb", "a\r\nb\r\nC:\\u.exe\r\n", {"a", "b", "C:\\u.exe"}},
      {"a\r\n\x1Astale\r\n", "a\r\nC:\\u.exe\r\n", {"a", "C:\\u.exe"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(testing::PrintToString(test.before));
    Load(test.before);
    AppendSnapshotLine(channel, "C:\\u.exe");
    EXPECT_EQ(machine.Read("snap.dat"), test.after);
    EXPECT_EQ(LoadFrom("snap.dat"), test.loaded);
  }
  AppendSnapshotLine(channel, "");
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\nC:\\u.exe\r\n\r\n");

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
  EXPECT_EQ(LoadFrom("KEYVIGIL.DAT"), (Lines{"one", "three"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.HostPath("")), {}), 1);
}

}  // namespace
