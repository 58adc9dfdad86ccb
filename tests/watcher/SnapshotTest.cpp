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
    TStringList list;
    LoadSnapshot(channel, machine.Path("snap.dat"), list);
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
}

TEST_F(Snapshot, AMissingFileIsCreatedEmpty) {
  TStringList list;
  LoadSnapshot(channel, machine.Path("first.dat"), list);
  EXPECT_EQ(list.EntryCount(), 0);
  ASSERT_TRUE(machine.Exists("first.dat"));
  EXPECT_EQ(machine.Read("first.dat"), "");
}

TEST_F(Snapshot, AFileThatCannotBeCreatedReportsTheCreationsCode) {
  TStringList list;
  try {
    LoadSnapshot(channel, machine.Path("no such folder\\snap.dat"), list);
    FAIL() << "nothing raised";
  } catch (Exception* e) {
    ASSERT_STREQ(e->ClassName(), "EInOutError");
    EXPECT_EQ(static_cast<EInOutError*>(e)->ioCode, 3);
    EXPECT_EQ(e->messageText, "Ung\xFCltiger Dateiname");
    ReleaseException(e);
  }
}

TEST_F(Snapshot, AppendAddsOneTerminatedLineAndLeavesTheListAlone) {
  Load("a\r\nb\r\n");
  AppendSnapshotLine(channel, "C:\\u.exe");
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\nb\r\nC:\\u.exe\r\n");
  AppendSnapshotLine(channel, "");
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\nb\r\nC:\\u.exe\r\n\r\n");
  EXPECT_EQ(Load(machine.Read("snap.dat")), (Lines{"a", "b", "C:\\u.exe"}));
}

TEST_F(Snapshot, AppendCutsAtAnEndMarkInTheLastBytes) {
  Load(
      "a\r\n\x1A"
      "stale\r\n");
  AppendSnapshotLine(channel, "new");
  EXPECT_EQ(machine.Read("snap.dat"), "a\r\nnew\r\n");
}

TEST_F(Snapshot, AppendToAVanishedFileRaisesFileNotFound) {
  Load("a\r\n");
  std::filesystem::remove(machine.HostPath("snap.dat"));
  try {
    AppendSnapshotLine(channel, "x");
    FAIL() << "nothing raised";
  } catch (Exception* e) {
    EXPECT_EQ(e->messageText, "Datei nicht gefunden");
    ReleaseException(e);
  }
}

TEST_F(Snapshot, RewriteAfterRemovingTheMiddleLineKeepsTheOthersInOrder) {
  machine.Write("snap.dat", "one\r\ntwo\r\nthree\r\n");
  TStringList list;
  LoadSnapshot(channel, machine.Path("snap.dat"), list);
  list.RemoveEntryAt(1);
  RewriteSnapshot(machine.Path("snap.dat"), list);
  EXPECT_EQ(machine.Read("snap.dat"), "one\r\nthree\r\n");
}

TEST_F(Snapshot, ReadAndRewritePathsThatDifferInCaseNameOneFile) {
  machine.Write("KeyVigil.dat", "a\r\nb\r\n");
  TStringList list;
  LoadSnapshot(channel, machine.Path("KeyVigil.dat"), list);
  list.RemoveEntryAt(0);
  RewriteSnapshot(machine.Path("keyvigil.dat"), list);
  TStringList reloaded;
  LoadSnapshot(channel, machine.Path("KEYVIGIL.DAT"), reloaded);
  EXPECT_EQ(EntriesOf(reloaded), Lines{"b"});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.HostPath("")),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
