// The whole program, run as a user would run it: against a machine root of
// its own, answering the boxes on a terminal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include "../support/WatchRunFixture.h"

namespace {

class WatchRun : public WatchRunFixture {};

TEST_F(WatchRun, AFreshMachineShowsNothingAndMakesBothSnapshots) {
  auto run = Start();
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_TRUE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat"));
  EXPECT_TRUE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat2"));
  EXPECT_EQ(Snapshot(), "");
}

TEST_F(WatchRun, FirstRunAsksForEveryValueAndAppliesEachAnswer) {
  WriteRun({{"Keep", "C:\\keep.exe"}, {"Drop", "C:\\drop.exe"}, {"", "C:\\default.exe"}});
  auto run = Start();
  ExpectAdded(*run, kRunLine, "Keep", "C:\\keep.exe", "n");
  ExpectAdded(*run, kRunLine, "Drop", "C:\\drop.exe", "J");
  ExpectAdded(*run, kRunLine, "", "C:\\default.exe", "no");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "C:\\keep.exe\r\nC:\\default.exe\r\n");
  const Values left = ValuesOf(kRun);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].name, "Keep");
  EXPECT_EQ(left[1].name, "");

  auto again = Start();
  ExpectNoMoreBoxes(*again, 0);
}

TEST_F(WatchRun, TheTypicalEventAnsweredNoThenYes) {
  WriteRun({{"Known", "C:\\known.exe"}, {"Updater", "C:\\u.exe"}});
  WriteSnapshot("C:\\known.exe\r\n");
  auto keep = Start();
  ExpectAdded(*keep, kRunLine, "Updater", "C:\\u.exe", "n");
  ExpectNoMoreBoxes(*keep, 0);
  EXPECT_EQ(Snapshot(), "C:\\known.exe\r\nC:\\u.exe\r\n");

  WriteSnapshot("C:\\known.exe\r\n");
  auto remove = Start();
  ExpectAdded(*remove, kRunLine, "Updater", "C:\\u.exe", "y");
  ExpectNoMoreBoxes(*remove, 0);
  EXPECT_EQ(ValuesOf(kRun).size(), 1u);
  EXPECT_EQ(Snapshot(), "C:\\known.exe\r\n");
}

TEST_F(WatchRun, LetterCaseAloneIsNoChange) {
  WriteRun({{"A", "C:\\Prog\\A.EXE"}});
  WriteSnapshot("c:\\prog\\a.exe\r\n");
  auto run = Start();
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "c:\\prog\\a.exe\r\n");
}

TEST_F(WatchRun, AChangedValueIsReportedAsAddedAndAsRemoved) {
  WriteRun({{"Tool", "C:\\evil.exe"}});
  WriteSnapshot("C:\\tool.exe\r\n");
  auto run = Start();
  ExpectAdded(*run, kRunLine, "Tool", "C:\\evil.exe", "j");
  ExpectRemoved(*run, kRunLine, "C:\\tool.exe", "j");
  ExpectNoMoreBoxes(*run, 0);
  const Values now = ValuesOf(kRun);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0].name, "0");
  EXPECT_EQ(now[0].data, "C:\\tool.exe");
  EXPECT_EQ(Snapshot(), "C:\\tool.exe\r\n");

  auto next = Start();
  // A value written back is found again by its data.
  ExpectNoMoreBoxes(*next, 0);
}

TEST_F(WatchRun, AnAcceptedReplacementSurvivesTheRewriteOfTheSamePass) {
  WriteRun({{"Tool", "C:\\new.exe"}});
  WriteSnapshot("C:\\old.exe\r\n");
  auto run = Start();
  ExpectAdded(*run, kRunLine, "Tool", "C:\\new.exe", "n");
  ExpectRemoved(*run, kRunLine, "C:\\old.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "C:\\new.exe\r\n");
}

TEST_F(WatchRun, EmptyDataIsAskedForEveryTime) {
  WriteRun({{"Blank", ""}});
  for (int round = 0; round < 2; ++round) {
    auto run = Start();
    ExpectAdded(*run, kRunLine, "Blank", "", "n");
    ExpectNoMoreBoxes(*run, 0);
  }
  EXPECT_EQ(Snapshot(), "\r\n\r\n");
}

TEST_F(WatchRun, VanishedLinesAreWrittenBackUnderFreeNumbersOrDropped) {
  WriteRun({{"0", "C:\\zero.exe"}, {"2", "C:\\two.exe"}});
  WriteSnapshot("C:\\zero.exe\r\nC:\\gone1.exe\r\nC:\\two.exe\r\nC:\\gone2.exe\r\n");
  auto yes = Start();
  ExpectRemoved(*yes, kRunLine, "C:\\gone1.exe", "j");
  ExpectRemoved(*yes, kRunLine, "C:\\gone2.exe", "j");
  ExpectNoMoreBoxes(*yes, 0);
  const Values now = ValuesOf(kRun);
  ASSERT_EQ(now.size(), 4u);
  EXPECT_EQ(now[2].name, "1");
  EXPECT_EQ(now[2].data, "C:\\gone1.exe");
  EXPECT_EQ(now[3].name, "3");
  EXPECT_EQ(now[3].data, "C:\\gone2.exe");

  WriteRun({});
  WriteSnapshot("a\r\nb\r\nc\r\n");
  auto no = Start();
  ExpectRemoved(*no, kRunLine, "a", "n");
  ExpectRemoved(*no, kRunLine, "b", "y");
  EXPECT_EQ(Snapshot(), "b\r\nc\r\n") << "rewritten before the next prompt";
  ExpectRemoved(*no, kRunLine, "c", "n");
  ExpectNoMoreBoxes(*no, 0);
  EXPECT_EQ(Snapshot(), "b\r\n");
}

TEST_F(WatchRun, AWatchedKeyThatDoesNotExistHasNoValues) {
  WriteRun({});
  WriteSnapshot("C:\\service.exe\r\n", "KeyVigil.dat2");
  auto run = Start();
  ExpectRemoved(*run, kRunServicesLine, "C:\\service.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot("KeyVigil.dat2"), "");
}

TEST_F(WatchRun, AValueOfTheWrongTypeEndsTheRunAndLosesNothing) {
  WriteHive("[HKEY_LOCAL_MACHINE\\" + std::string(kRun) +
            "]\r\n\"New\"=\"C:\\\\new.exe\"\r\n\"Count\"=dword:0000001f\r\n\r\n");
  WriteSnapshot("C:\\accepted.exe\r\n");
  auto run = Start();
  ExpectAdded(*run, kRunLine, "New", "C:\\new.exe", "n");
  ExpectErrorBox(*run, "ERegistryException", "Ung\xFCltiger Datentyp f\xFCr 'Count'\\.");
  ExpectNoMoreBoxes(*run, 1);
  EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\nC:\\new.exe\r\n");
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat2"))
      << "no second pass after a failed first one";
}

TEST_F(WatchRun, AHiveThatCannotBeReadIsNotTakenForAnEmptyKey) {
  WriteSnapshot("C:\\accepted.exe\r\n");
  WriteHive("[HKEY_LOCAL_MACHINE\\" + std::string(kRun) + "\r\n\"broken");
  auto run = Start();
  ExpectErrorBox(*run, "ERegistryException",
                 "Konnte Schl\xFCssel '" +
                     std::regex_replace(kRunLine, std::regex("\\\\"), "\\\\") +
                     "' nicht \xF6"
                     "ffnen\\.");
  ExpectNoMoreBoxes(*run, 1);
  EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\n");
}

TEST_F(WatchRun, ASnapshotFolderThatDoesNotExistEndsTheRun) {
  auto run = Start({"C:\\missing\\snap.txt"});
  ExpectErrorBox(*run, "EInOutError", "Ung\xFCltiger Dateiname\\.");
  ExpectNoMoreBoxes(*run, 1);
}

TEST_F(WatchRun, OneArgumentNamesBothSnapshotFiles) {
  WriteRun({{"A", "C:\\a.exe"}});
  const std::filesystem::path folder = machine.Root() / "work";
  std::filesystem::create_directories(folder);
  auto run = Start({"snap.txt"}, folder.string());
  ExpectAdded(*run, kRunLine, "A", "C:\\a.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  std::ifstream in(folder / "snap.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "C:\\a.exe\r\n");
  EXPECT_TRUE(std::filesystem::exists(folder / "snap.txt2"));
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat"));

  auto two = Start({"snap.txt", "other"}, folder.string());
  ExpectAdded(*two, kRunLine, "A", "C:\\a.exe", "n");
  ExpectNoMoreBoxes(*two, 0);
  EXPECT_EQ(Snapshot(), "C:\\a.exe\r\n") << "two arguments: the default paths";
}

TEST_F(WatchRun, AChangeWhileAPromptIsOpenIsSeenByTheNextRead) {
  WriteRun({{"A", "C:\\a.exe"}});
  auto run = Start();
  TerminalBox box;
  ASSERT_TRUE(run->NextBox(box)) << run->Output();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const char changed[] = "C:\\changed.exe";
  ASSERT_EQ(
      RegSetValueExA(key, "A", 0, REG_SZ, reinterpret_cast<const BYTE*>(changed), sizeof(changed)),
      ERROR_SUCCESS);
  RegCloseKey(key);
  run->Answer("n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "C:\\changed.exe\r\n");
}

}  // namespace
#else
TEST(WatchRun, RunsOnLinuxOnly) { GTEST_SKIP() << "the Wine end-to-end script covers Windows"; }
#endif
