// The whole program, run as a user would run it: against a machine root of
// its own, answering the boxes on a terminal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "../support/WatchRunFixture.h"

namespace {

const std::string kServicesSnapshot = "KeyVigil.dat2";
// The Run key's line as an error box's regular expression shows it.
const std::string kRunKeyLine =
    "HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run";

using WatchRun = WatchRunFixture;

// An accepted value (in any letter case) is not asked about; each new one
// is, each answer takes effect at once (data answered No is accepted for
// the rest of the pass too), and the next run asks nothing.
TEST_F(WatchRun, NewValuesAreAskedForAndEachAnswerApplied) {
  WriteRun({{"Known", "C:\\Known.exe"},
            {"Keep", "C:\\keep.exe"},
            {"Drop", "C:\\drop.exe"},
            {"Again", "C:\\KEEP.exe"},
            {"", "C:\\default.exe"}});
  WriteSnapshot("c:\\KNOWN.EXE\r\n");
  Run({Added("Keep", "C:\\keep.exe", "n"), Added("Drop", "C:\\drop.exe", "J"),
       Added("", "C:\\default.exe", "no")},
      0);
  EXPECT_EQ(Snapshot(), "c:\\KNOWN.EXE\r\nC:\\keep.exe\r\nC:\\default.exe\r\n");
  EXPECT_EQ(ValuesOf(),
            "Known=C:\\Known.exe;Keep=C:\\keep.exe;Again=C:\\KEEP.exe;=C:\\default.exe;");
  Run({}, 0);
}

TEST_F(WatchRun, VanishedLinesAreWrittenBackUnderFreeNumbersOrDropped) {
  WriteRun({{"0", "C:\\zero.exe"}, {"2", "C:\\two.exe"}});
  WriteSnapshot("C:\\zero.exe\r\nC:\\gone1.exe\r\nC:\\two.exe\r\nC:\\gone2.exe\r\n");
  Run({Removed("C:\\gone1.exe", "j"), Removed("C:\\gone2.exe", "j")}, 0);
  EXPECT_EQ(ValuesOf(), "0=C:\\zero.exe;2=C:\\two.exe;1=C:\\gone1.exe;3=C:\\gone2.exe;");

  WriteRun({});
  WriteSnapshot("a\r\nb\r\nc\r\n");
  Box second = Removed("b", "y");
  second.meanwhile = [&] { EXPECT_EQ(Snapshot(), "b\r\nc\r\n") << "rewritten at once"; };
  Run({Removed("a", "n"), second, Removed("c", "n")}, 0);
  EXPECT_EQ(Snapshot(), "b\r\n");

  // A key that does not exist has no values; it is made for a line the user
  // wants back, and only then.
  WriteSnapshot("C:\\service.exe\r\nC:\\back.exe\r\n", kServicesSnapshot);
  Box dropped = Removed("C:\\service.exe", "n", kRunServicesLine);
  dropped.meanwhile = [&] { EXPECT_EQ(Hive().find("RunServices"), std::string::npos); };
  Run({dropped, Removed("C:\\back.exe", "j", kRunServicesLine)}, 0);
  EXPECT_EQ(ValuesOf(kRunServices), "0=C:\\back.exe;");
  EXPECT_EQ(Snapshot(kServicesSnapshot), "C:\\back.exe\r\n");
}

// The stand-in is a 64-bit Windows: both registry views are watched with one
// snapshot. A line held in either view is no change; each new value is asked
// about with its view's key line and deleted in that view only; a vanished
// line goes back into the native view.
TEST_F(WatchRun, BothRegistryViewsAreWatchedWithOneSnapshot) {
  WriteHive(Section(kRun, {{"Native", "C:\\native.exe"}, {"Both", "C:\\both.exe"}}) +
            Section(kWowRun,
                    {{"Native", "C:\\old.exe"}, {"Wow", "C:\\wow.exe"}, {"Both", "C:\\both.exe"}}));
  WriteSnapshot("C:\\old.exe\r\nC:\\gone.exe\r\n");
  Run({Added("Native", "C:\\native.exe", "j"), Added("Both", "C:\\both.exe", "n"),
       Added("Wow", "C:\\wow.exe", "j", kWowRunLine), Removed("C:\\gone.exe", "j")},
      0);
  EXPECT_EQ(ValuesOf(kRun), "Both=C:\\both.exe;0=C:\\gone.exe;");
  EXPECT_EQ(ValuesOf(kWowRun), "Native=C:\\old.exe;Both=C:\\both.exe;");
  EXPECT_EQ(Snapshot(), "C:\\old.exe\r\nC:\\gone.exe\r\nC:\\both.exe\r\n");
  Run({}, 0);
}

// A value of a type KeyVigil cannot watch hides no other value: both keys
// are checked, every other change is asked about, and the run ends with
// the box that names it.
TEST_F(WatchRun, AValueOfTheWrongTypeIsPassedOverAndReportedAtTheEnd) {
  WriteHive(Section(kRun, {{"New", "C:\\new.exe"}}) +
            Section(kRunServices, {{"Service", "C:\\s.exe"}}));
  SetValue("Count", std::string("\x1F\0\0\0", 4), REG_DWORD);
  WriteSnapshot("C:\\accepted.exe\r\n");
  WriteSnapshot("", kServicesSnapshot);
  Run({Added("New", "C:\\new.exe", "n"), Removed("C:\\accepted.exe", "j"),
       Added("Service", "C:\\s.exe", "n", kRunServicesLine),
       ErrorBox("ERegistryException", kRunKeyLine + "\nUng\xFCltiger Datentyp f\xFCr 'Count'\\.")},
      1);
  EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\nC:\\new.exe\r\n");
  EXPECT_EQ(Snapshot(kServicesSnapshot), "C:\\s.exe\r\n");
  EXPECT_NE(ValuesOf().find("Count=\x1F;"), std::string::npos) << "kept";
}

// A key that cannot be opened (here: a hive that does not parse; a user who
// may not change it gets the same failure, see the hive tests) is not taken
// for an empty one: the run says so before it asks anything.
TEST_F(WatchRun, WhatCannotBeOpenedEndsTheRunBeforeAnythingIsAsked) {
  WriteSnapshot("C:\\accepted.exe\r\n");
  WriteHive("[HKEY_LOCAL_MACHINE\\" + std::string(kRun) + "\r\n\"broken");
  Run({ErrorBox("ERegistryException", "Konnte Schl\xFCssel '" + kRunKeyLine +
                                          "' nicht \xF6"
                                          "ffnen\\.")},
      1);
  EXPECT_EQ(Snapshot(), "C:\\accepted.exe\r\n");
}

TEST_F(WatchRun, OneArgumentNamesBothSnapshotFiles) {
  WriteRun({{"A", "C:\\a.exe"}});
  const std::filesystem::path folder = machine.Root() / "work";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "snap.txt") << "C:\\gone.exe\r\n";
  Expect(*Start({"snap.txt"}, folder.string()),
         {Added("A", "C:\\a.exe", "n"), Removed("C:\\gone.exe", "n")}, 0);
  EXPECT_EQ(ReadFile(folder / "snap.txt"), "C:\\a.exe\r\n") << "appended to and rewritten";
  EXPECT_TRUE(std::filesystem::exists(folder / "snap.txt2"));
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.dat"));

  Expect(*Start({"snap.txt", "other"}, folder.string()), {Added("A", "C:\\a.exe", "n")}, 0);
  EXPECT_EQ(Snapshot(), "C:\\a.exe\r\n") << "two arguments: the default paths";
}

// What the user accepts is what the prompt showed: data changed while it is
// open is asked about as what it now is by the next run.
TEST_F(WatchRun, DataChangedWhileAPromptIsOpenIsNotAcceptedUnseen) {
  WriteRun({{"A", "C:\\a.exe"}});
  Box shown = Added("A", "C:\\a.exe", "n");
  shown.meanwhile = [&] { SetValue("A", std::string("C:\\evil.exe", 12)); };
  Run({shown}, 0);
  EXPECT_EQ(Snapshot(), "C:\\a.exe\r\n");
  Run({Added("A", "C:\\evil.exe", "j"), Removed("C:\\a.exe", "n")}, 0);
  EXPECT_EQ(ValuesOf(), "");
}

// Yes must remove the value, or the run says so; a value that vanished by
// itself meanwhile is gone all the same, but a registry that cannot tell
// (an emptied hive file is a broken one) is no proof that it is gone.
TEST_F(WatchRun, FailuresWhileAPromptIsOpenAreReportedNotPassedOff) {
  const auto readOnly = [this] { chmod(HivePath().c_str(), 0444); };
  const auto deleted = [this] { WriteRun({{"Keep", "C:\\keep.exe"}}); };
  const auto emptied = [this] { std::filesystem::resize_file(HivePath(), 0); };
  // What happens while the prompt for Drop is open, the answer, the box that
  // follows and what the snapshot gains besides Keep.
  const std::tuple<const char*, std::function<void()>, const char*, Box, const char*> cases[] = {
      {"the hive made read-only", readOnly, "j",
       ErrorBox("ERegistryException", "Konnte Wert 'Drop' nicht l\xF6schen\\."), ""},
      {"the value deleted", deleted, "j", Removed("C:\\old.exe", "y"), ""},
      {"the hive file emptied", emptied, "j",
       ErrorBox("ERegistryException", "Konnte Wert 'Drop' nicht l\xF6schen\\."), ""},
  };
  for (const auto& [meanwhile, change, answer, after, snapshot] : cases) {
    SCOPED_TRACE(meanwhile);
    WriteRun({{"Keep", "C:\\keep.exe"}, {"Drop", "C:\\drop.exe"}});
    WriteSnapshot("C:\\old.exe\r\n");
    Box asked = Added("Drop", "C:\\drop.exe", answer);
    asked.meanwhile = change;
    Run({Added("Keep", "C:\\keep.exe", "n"), asked, after}, after.yesNo ? 0 : 1);
    EXPECT_EQ(Snapshot(), "C:\\old.exe\r\nC:\\keep.exe\r\n" + std::string(snapshot));
    chmod(HivePath().c_str(), 0644);
  }
}

// Keys typed before a prompt is on the screen do not answer it, and a box
// nobody answers (the end of input at a prompt) is no No: the run ends
// there, earlier answers kept. Without a terminal no box is tried at all.
TEST_F(WatchRun, OnlyTheUserAnswersAPrompt) {
  WriteRun({{"Keep", "C:\\keep.exe"}, {"Drop", "C:\\drop.exe"}});
  Run({Added("Keep", "C:\\keep.exe", "n\nj"), Added("Drop", "C:\\drop.exe", "n")}, 0);
  EXPECT_EQ(Snapshot(), "C:\\keep.exe\r\nC:\\drop.exe\r\n");

  WriteSnapshot("");
  TerminalSession endOfInput(
      {"/bin/sh", "-c", "stty icanon eof ^D && exec \"$0\"", KEYVIGIL_PROGRAM},
      {{"KEYVIGIL_ROOT", machine.Root().string()}, {"LC_ALL", "C"}});
  Expect(endOfInput,
         {Added("Keep", "C:\\keep.exe", "n"), Added("Drop", "C:\\drop.exe", "\x04"),
          ErrorBox("ENoAnswer", "Keine Antwort auf die Frage zu 'Drop'\\.")},
         1);
  EXPECT_EQ(Snapshot(), "C:\\keep.exe\r\n");

  for (const auto& [snapshot, exitCode] :
       {std::pair{"C:\\keep.exe\r\n", 1}, {"C:\\keep.exe\r\nC:\\drop.exe\r\n", 0}}) {
    WriteSnapshot(snapshot);
    const std::string command = "KEYVIGIL_ROOT=" + machine.Root().string() + " setsid -w " +
                                KEYVIGIL_PROGRAM + " </dev/null >" + machine.Root().string() +
                                "/out 2>&1";
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), exitCode) << snapshot;
    EXPECT_EQ(ReadFile(machine.Root() / "out"), "");
    EXPECT_EQ(Snapshot(), snapshot);
  }
  EXPECT_EQ(ValuesOf(), "Keep=C:\\keep.exe;Drop=C:\\drop.exe;");
}

// A second run waits for the first and then works from fresh lists: nothing
// the first accepted or restored is asked about again or lost. A holder
// that dies holds nothing.
TEST_F(WatchRun, OneRunAtATime) {
  WriteRun({{"A", "C:\\a.exe"}});
  WriteSnapshot("C:\\b.exe\r\n");
  auto first = Start();
  std::unique_ptr<TerminalSession> second;
  Box asked = Added("A", "C:\\a.exe", "n");
  asked.meanwhile = [&] {
    second = Start();
    TerminalBox box;
    EXPECT_FALSE(second->NextBox(box, 2000)) << "a box beside the first run's: " << box.text;
  };
  Expect(*first, {asked, Removed("C:\\b.exe", "j")}, 0);
  Expect(*second, {}, 0);
  EXPECT_EQ(Snapshot(), "C:\\b.exe\r\nC:\\a.exe\r\n");
  EXPECT_EQ(ValuesOf(), "A=C:\\a.exe;0=C:\\b.exe;");

  WriteRun({{"C", "C:\\c.exe"}});
  auto killed = Start();
  TerminalBox box;
  ASSERT_TRUE(killed->NextBox(box)) << killed->Output();
  killed->Kill();
  Run({Added("C", "C:\\c.exe", "n"), Removed("C:\\b.exe", "n"), Removed("C:\\a.exe", "n")}, 0);
}

}  // namespace
#else
TEST(WatchRun, RunsOnLinuxOnly) { GTEST_SKIP() << "the Wine end-to-end script covers Windows"; }
#endif
