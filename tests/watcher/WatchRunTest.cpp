// The whole program, run as a user would run it: against a machine root of
// its own, answering the boxes on a terminal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "../support/WatchRunFixture.h"

namespace {

// A regular expression of the error box's message.
const char kRunKeyNotOpened[] =
    "Konnte Schl\xFCssel 'HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\"
    "CurrentVersion\\\\Run' nicht \xF6"
    "ffnen\\.";

class WatchRun : public WatchRunFixture {
 protected:
  const std::string runServicesSnapshot = "KeyVigil.dat2";
};

TEST_F(WatchRun, AFreshMachineShowsNothingAndMakesBothSnapshots) {
  auto run = Start();
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "");
  EXPECT_TRUE(std::filesystem::exists(machine.Root() / "drive_c" / runServicesSnapshot));
}

// An accepted value (in any letter case) is not asked about; each new one
// is, and each answer takes effect at once; the next run asks nothing.
TEST_F(WatchRun, NewValuesAreAskedForAndEachAnswerApplied) {
  WriteRun({{"Known", "C:\\Known.exe"},
            {"Keep", "C:\\keep.exe"},
            {"Drop", "C:\\drop.exe"},
            {"", "C:\\default.exe"}});
  WriteSnapshot("c:\\KNOWN.EXE\r\n");
  auto run = Start();
  ExpectAdded(*run, kRunLine, "Keep", "C:\\keep.exe", "n");
  ExpectAdded(*run, kRunLine, "Drop", "C:\\drop.exe", "J");
  ExpectAdded(*run, kRunLine, "", "C:\\default.exe", "no");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "c:\\KNOWN.EXE\r\nC:\\keep.exe\r\nC:\\default.exe\r\n");
  const Values left = ValuesOf(kRun);
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ(left[1].name, "Keep");
  EXPECT_EQ(left[2].name, "");

  auto again = Start();
  ExpectNoMoreBoxes(*again, 0);
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
  WriteSnapshot("C:\\service.exe\r\n", runServicesSnapshot);
  auto run = Start();
  ExpectRemoved(*run, kRunServicesLine, "C:\\service.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(runServicesSnapshot), "");
}

// A value of a type KeyVigil cannot watch hides no other value: both keys
// are checked, every other change is asked about, and the run ends with
// the box that names it.
TEST_F(WatchRun, AValueOfTheWrongTypeIsPassedOverAndReportedAtTheEnd) {
  const std::string count = "\"Count\"=dword:0000001f\r\n";
  const std::string newValue = "\"New\"=\"C:\\\\new.exe\"\r\n";
  const std::string service = "\"Service\"=\"C:\\\\s.exe\"\r\n";
  const struct {
    const char* where;
    std::string run, services;
  } cases[] = {{"in Run, before a new value", count + newValue, service},
               {"in RunServices only", newValue, count + service}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    WriteHive("[HKEY_LOCAL_MACHINE\\" + std::string(kRun) + "]\r\n" + c.run +
              "\r\n[HKEY_LOCAL_MACHINE\\" + kRunServices + "]\r\n" + c.services + "\r\n");
    WriteSnapshot("C:\\accepted.exe\r\n");
    WriteSnapshot("", runServicesSnapshot);
    auto run = Start();
    ExpectAdded(*run, kRunLine, "New", "C:\\new.exe", "n");
    ExpectRemoved(*run, kRunLine, "C:\\accepted.exe", "j");
    ExpectAdded(*run, kRunServicesLine, "Service", "C:\\s.exe", "n");
    ExpectErrorBox(*run, "ERegistryException", "Ung\xFCltiger Datentyp f\xFCr 'Count'\\.");
    ExpectNoMoreBoxes(*run, 1);
    EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\nC:\\new.exe\r\n");
    EXPECT_EQ(Snapshot(runServicesSnapshot), "C:\\s.exe\r\n");
    EXPECT_EQ(ValuesOf(c.run == newValue ? kRunServices : kRun).front().name, "Count");
  }
}

TEST_F(WatchRun, AHiveThatCannotBeReadIsNotTakenForAnEmptyKey) {
  WriteSnapshot("C:\\accepted.exe\r\n");
  WriteHive("[HKEY_LOCAL_MACHINE\\" + std::string(kRun) + "\r\n\"broken");
  auto run = Start();
  ExpectErrorBox(*run, "ERegistryException", kRunKeyNotOpened);
  ExpectNoMoreBoxes(*run, 1);
  EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\n");
}

// Without the right to change the keys nothing can be undone: the run says
// so before it asks anything.
TEST_F(WatchRun, AUserWhoMayNotChangeTheKeysIsToldBeforeAnything) {
  WriteRun({{"A", "C:\\a.exe"}});
  chmod(machine.Root().c_str(), 01777);  // anyone may make the run's lock there
  auto run =
      Start({"--reuid=65534", "--regid=65534", "--clear-groups", KEYVIGIL_PROGRAM}, "", "setpriv");
  ExpectErrorBox(*run, "ERegistryException", kRunKeyNotOpened);
  ExpectNoMoreBoxes(*run, 1);
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
  EXPECT_EQ(ReadFile(folder / "snap.txt"), "C:\\a.exe\r\n");
  EXPECT_TRUE(std::filesystem::exists(folder / "snap.txt2"));
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat"));

  auto two = Start({"snap.txt", "other"}, folder.string());
  ExpectAdded(*two, kRunLine, "A", "C:\\a.exe", "n");
  ExpectNoMoreBoxes(*two, 0);
  EXPECT_EQ(Snapshot(), "C:\\a.exe\r\n") << "two arguments: the default paths";
}

// What the user accepts is what the prompt showed: data changed while it is
// open is asked about as what it now is.
TEST_F(WatchRun, DataChangedWhileAPromptIsOpenIsNotAcceptedUnseen) {
  WriteRun({{"A", "C:\\a.exe"}});
  auto run = Start();
  TerminalBox box;
  ASSERT_TRUE(run->NextBox(box)) << run->Output();
  SetValue(kRun, "A", REG_SZ, std::string("C:\\evil.exe", 12));
  run->Answer("n");
  ExpectRemoved(*run, kRunLine, "C:\\a.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(Snapshot(), "");

  auto next = Start();
  ExpectAdded(*next, kRunLine, "A", "C:\\evil.exe", "j");
  ExpectNoMoreBoxes(*next, 0);
  EXPECT_TRUE(ValuesOf(kRun).empty());
}

// Yes to a new value must remove it, or the run says so; a value that
// vanished by itself meanwhile is gone all the same.
TEST_F(WatchRun, AYesThatCannotDeleteEndsInTheErrorBox) {
  const struct {
    const char* meanwhile;
    bool refused;
  } cases[] = {{"the hive made read-only", true}, {"the value deleted", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.meanwhile);
    WriteRun({{"Keep", "C:\\keep.exe"}, {"Drop", "C:\\drop.exe"}});
    WriteSnapshot("");
    auto run = Start();
    ExpectAdded(*run, kRunLine, "Keep", "C:\\keep.exe", "n");
    TerminalBox box;
    ASSERT_TRUE(run->NextBox(box)) << run->Output();
    if (c.refused) {
      chmod(HivePath().c_str(), 0444);
    } else {
      WriteRun({{"Keep", "C:\\keep.exe"}});
    }
    run->Answer("j");
    if (c.refused)
      ExpectErrorBox(*run, "ERegistryException", "Konnte Wert 'Drop' nicht l\xF6schen\\.");
    ExpectNoMoreBoxes(*run, c.refused ? 1 : 0);
    EXPECT_EQ(Snapshot(), "C:\\keep.exe\r\n");
    EXPECT_EQ(ValuesOf(kRun).size(), c.refused ? 2u : 1u);
    chmod(HivePath().c_str(), 0644);
  }
}

// A key whose reads fail must not look emptied: that would report every
// accepted line as deleted.
TEST_F(WatchRun, AHiveThatTurnsUnreadableWhileAPromptIsOpenEndsTheRun) {
  WriteRun({{"A", "C:\\a.exe"}});
  WriteSnapshot("C:\\old.exe\r\n");
  auto run = Start();
  TerminalBox box;
  ASSERT_TRUE(run->NextBox(box)) << run->Output();
  std::ofstream(HivePath(), std::ios::binary) << "not a hive";
  run->Answer("n");
  ExpectErrorBox(*run, "ERegistryException", "Konnte Daten f\xFCr 'A' nicht holen\\.");
  ExpectNoMoreBoxes(*run, 1);
  EXPECT_EQ(Snapshot(), "C:\\old.exe\r\nC:\\a.exe\r\n");
}

// A second run waits for the first and then works from fresh lists: nothing
// the first accepted or restored is asked about again or lost. A holder
// that dies holds nothing.
TEST_F(WatchRun, OneRunAtATime) {
  WriteRun({{"A", "C:\\a.exe"}});
  WriteSnapshot("C:\\b.exe\r\n");
  auto first = Start();
  TerminalBox box;
  ASSERT_TRUE(first->NextBox(box)) << first->Output();
  auto second = Start();
  EXPECT_FALSE(second->NextBox(box, 2000)) << "a box beside the first run's: " << box.text;
  first->Answer("n");
  ExpectRemoved(*first, kRunLine, "C:\\b.exe", "j");
  ExpectNoMoreBoxes(*first, 0);
  ExpectNoMoreBoxes(*second, 0);
  EXPECT_EQ(Snapshot(), "C:\\b.exe\r\nC:\\a.exe\r\n");
  EXPECT_EQ(ValuesOf(kRun).size(), 2u);

  WriteRun({{"C", "C:\\c.exe"}});
  auto killed = Start();
  ASSERT_TRUE(killed->NextBox(box)) << killed->Output();
  killed->Kill();
  auto after = Start();
  ExpectAdded(*after, kRunLine, "C", "C:\\c.exe", "n");
  ExpectRemoved(*after, kRunLine, "C:\\b.exe", "n");
  ExpectRemoved(*after, kRunLine, "C:\\a.exe", "n");
  ExpectNoMoreBoxes(*after, 0);
}

}  // namespace
#else
TEST(WatchRun, RunsOnLinuxOnly) { GTEST_SKIP() << "the Wine end-to-end script covers Windows"; }
#endif
