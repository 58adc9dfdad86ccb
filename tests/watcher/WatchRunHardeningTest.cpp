// The whole program where the machine works against it: killed in the
// middle of a write, with snapshot files that break the
// rules, and over registry data chosen to break it. Whatever happens, no
// accepted entry is lost and nothing false is reported by the next run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "../support/WatchRunFixture.h"

namespace {

using WatchRunHardening = WatchRunFixture;

// The program killed outright before its 1st, 2nd, ... file system call
// (open, write, sync, cut, move, delete, close), its one box answered: the
// files hold the old state or the new, never a piece of a write, and the
// next run ends in the new state.
TEST_F(WatchRunHardening, AKilledWriteLeavesTheOldFilesOrTheNew) {
  // An append of 250 bytes (more than the channel's buffer) to a last line
  // without its line end; with blanks, so that the prompt shows it unbroken.
  std::string added = "C:\\";
  while (added.size() < 250) added += " nnnnnnnnn";
  // What is written, the key and the snapshot, the box; the snapshot and the key after.
  const std::tuple<const char*, Values, std::string, Box, std::string, std::string> cases[] = {
      {"rewrite",
       {{"Keep", "C:\\keep.exe"}},
       "C:\\keep.exe\r\nC:\\gone.exe\r\n",
       Removed("C:\\gone.exe", "n"),
       "C:\\keep.exe\r\n",
       "Keep=C:\\keep.exe;"},
      {"registry write",
       {},
       "C:\\back.exe\r\n",
       Removed("C:\\back.exe", "j"),
       "C:\\back.exe\r\n",
       "0=C:\\back.exe;"},
      {"append",
       {{"Keep", "C:\\keep.exe"}, {"New", added}},
       "C:\\keep.exe",
       Added("New", added, "n"),
       "C:\\keep.exe\r\n" + added + "\r\n",
       "Keep=C:\\keep.exe;New=" + added + ";"},
  };
  for (const auto& [write, run, snapshot, box, newSnapshot, newValues] : cases) {
    int call = 1;
    for (int exitCode = -1; exitCode != 0; ++call) {
      SCOPED_TRACE(std::string(write) + " killed at call " + std::to_string(call));
      WriteRun(run);
      WriteSnapshot(snapshot);
      WriteSnapshot("", "KeyVigil.dat2");
      const std::string hive = Hive();
      auto killed = Start({}, "", FAULT_PROBE, {{"KEYVIGIL_KILL_AT", std::to_string(call)}});
      TerminalBox shown;
      if (killed->NextBox(shown)) killed->Answer(box.answer);
      exitCode = killed->ExitCode();
      ASSERT_TRUE(exitCode == 0 || exitCode == -1) << killed->Output();
      const bool old = Snapshot() == snapshot && Hive() == hive;
      ASSERT_TRUE(old || (Snapshot() == newSnapshot && ValuesOf() == newValues)) << Snapshot();
      Run(old ? std::vector<Box>{box} : std::vector<Box>{}, 0);
      EXPECT_EQ(Snapshot(), newSnapshot);
      EXPECT_EQ(ValuesOf(), newValues);
    }
    EXPECT_GT(call, 4) << write << " was not interrupted at all";
  }
}

// A snapshot linked to a file elsewhere on its drive or on another file
// system is rewritten beside that file; one whose new file's path would be
// too long fails as such a path does, and keeps its bytes.
TEST_F(WatchRunHardening, ALinkedSnapshotIsReplacedBesideTheFileItNames) {
  const std::filesystem::path elsewhere = "/dev/shm/kvtest-" + std::to_string(getpid());
  struct stat there = {}, here = {};
  stat("/dev/shm", &there);
  stat(machine.Root().c_str(), &here);
  if (there.st_dev == here.st_dev) GTEST_SKIP() << "/dev/shm is no other file system here";
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)> gone(
      &elsewhere,
      [](const std::filesystem::path* folder) { std::filesystem::remove_all(*folder); });
  const std::string accepted = "C:\\keep.exe\r\nC:\\gone.exe\r\n";
  const std::filesystem::path longFolder = elsewhere / std::string(250, 'f');
  const std::tuple<std::filesystem::path, std::vector<Box>, std::string> cases[] = {
      {elsewhere / "snap",
       {Added("New", "C:\\new.exe", "n"), Removed("C:\\gone.exe", "n")},
       "C:\\keep.exe\r\nC:\\new.exe\r\n"},
      {machine.Root() / "drive_c" / "real" / "snap",
       {Added("New", "C:\\new.exe", "n"), Removed("C:\\gone.exe", "n")},
       "C:\\keep.exe\r\nC:\\new.exe\r\n"},
      {longFolder / "snap",
       {Added("New", "C:\\new.exe", "j"), Removed("C:\\gone.exe", "n"),
        ErrorBox("EFCreateError", "Datei C:\\\\keyvigil\\.dat kann nicht erstellt werden\\.")},
       accepted},
  };
  for (const auto& [target, boxes, left] : cases) {
    SCOPED_TRACE(target.string().size());
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary) << accepted;
    std::filesystem::remove(machine.Root() / "drive_c" / "KeyVigil.dat");
    std::filesystem::create_symlink(target, machine.Root() / "drive_c" / "KeyVigil.dat");
    WriteRun({{"Keep", "C:\\keep.exe"}, {"New", "C:\\new.exe"}});
    Run(boxes, boxes.back().yesNo ? 0 : 1);
    EXPECT_EQ(ReadFile(target), left);
    EXPECT_TRUE(std::filesystem::is_symlink(machine.Root() / "drive_c" / "KeyVigil.dat"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target.parent_path()), {}), 1)
        << "no new file is left";
  }
}

// Something in the lock file's place that is no file ends the run at once,
// before anything is asked; a run's own lock files are its user's alone.
TEST_F(WatchRunHardening, ALockThatCannotBeHadEndsTheRunBeforeAnythingIsAsked) {
  const std::filesystem::path mutex = machine.Root() / "Global_KeyVigil.mutex";
  WriteRun({{"Keep", "C:\\keep.exe"}});
  Run({Added("Keep", "C:\\keep.exe", "j")}, 0);
  EXPECT_EQ(std::filesystem::status(mutex).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(std::filesystem::status(HivePath() += ".lock").permissions(),
            std::filesystem::perms(0600));
  WriteRun({{"New", "C:\\new.exe"}});
  std::filesystem::remove(mutex);
  std::filesystem::create_directory(mutex);
  Run({ErrorBox("EInOutError",
                "Ein anderer KeyVigil-Lauf oder ein anderes Programm h\xE4lt die Sperre "
                "'Global\\\\KeyVigil'\\.")},
      1);
  EXPECT_EQ(Snapshot(), "");
}

// A value deleted while the key is listed shifts the positions of the
// others. Whenever Tool goes, Evil is asked about and Old, there all the
// time, is never taken for vanished; a key that changes at every look ends
// the run unasked.
TEST_F(WatchRunHardening, AKeyChangedWhileItIsListedHidesNoValue) {
  const Values before{{"Tool", "C:\\tool.exe"}, {"Old", "C:\\old.exe"}, {"Evil", "C:\\evil.exe"}};
  const std::string next = HivePath().string() + ".next";
  const std::string evil = Added("Evil", "C:\\evil.exe", "n").text;
  const std::string tool = Removed("C:\\tool.exe", "n").text;
  int vanished = 0;
  for (int look = 1; look == 1 || !std::filesystem::exists(next); ++look) {
    SCOPED_TRACE("Tool deleted before look " + std::to_string(look));
    WriteRun(before);
    std::ofstream(next, std::ios::binary) << "REGEDIT4\r\n\r\n"
                                          << Section(kRun, {before[1], before[2]});
    WriteSnapshot("C:\\tool.exe\r\nC:\\old.exe\r\n");
    auto run = Start({}, "", FAULT_PROBE, {{"KEYVIGIL_HIVE_CHANGE_AT", std::to_string(look)}});
    std::vector<std::string> asked;
    for (TerminalBox box; run->NextBox(box); run->Answer("n")) asked.push_back(box.text);
    EXPECT_EQ(run->ExitCode(), 0) << run->Output();
    const bool toolVanished = asked == std::vector<std::string>{evil, tool};
    EXPECT_TRUE(toolVanished || asked == std::vector<std::string>{evil}) << asked.size();
    vanished += toolVanished;
  }
  EXPECT_GT(vanished, 0) << "Tool was never deleted while the key was listed";
  WriteRun(before);
  Expect(*Start({}, "", FAULT_PROBE, {{"KEYVIGIL_HIVE_CHANGE_AT", "1+"}}),
         {ErrorBox("ERegistryException",
                   "Schl\xFCssel 'HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\"
                   "CurrentVersion\\\\Run' \xE4ndert sich laufend\\.",
                   "fault_probe")},
         1);
}

// A box spells out every control character, breaks a run of more than 80
// characters without a blank (never within an escape) and shows a text too
// long for it by its first and last part. What the snapshot cannot hold (a
// CR ends a line, a 0x1A the file, an empty line is none) or a box showed
// shortened is never accepted: it is asked about again after No, and Yes
// deletes it.
TEST_F(WatchRunHardening, WhatABoxShowsAndWhatNoStores) {
  std::string everyByte;
  for (int byte = 1; byte < 0x80; ++byte) everyByte += static_cast<char>(byte);
  const std::string s80(80, 's'), n49(49, 'N'), n80(80, 'N');
  // The name and data (stored with a final zero), both as shown, and what No stores.
  const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
      {"V", "a\nb", "V", "a\\x0Ab", "a\nb\r\n"},
      {"V", std::string("a\0b", 3), "V", "a", "a\r\n"},
      {"V", "a\rb", "V", "a\\x0Db", ""},
      {"V", "a\032b", "V", "a\\x1Ab", ""},
      {"V", "", "V", "", ""},
      {everyByte, "C:\\x.exe",
       "\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\x09\\x0A\\x0B\\x0C\\x0D\\x0E\\x0F\\x10\\x11"
       "\\x12\\x13\\x14\n\\x15\\x16\\x17\\x18\\x19\\x1A\\x1B\\x1C\\x1D\\x1E\\x1F !\"#$%&'()*+,"
       "-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnop\n"
       "qrstuvwxyz{|}~\\x7F",
       "C:\\x.exe", "C:\\x.exe\r\n"},
      {std::string(10000, 'N'), "C:\\d",
       n80 + "\n" + n49 + "\n(10000 Zeichen, gek\xFCrzt)\n" + n49 + "\n" + n80, "C:\\d", ""},
      {"Short", "C:\\" + std::string(274, 's'), "Short",
       "C:\\" + std::string(77, 's') + "\n" + s80 + "\n" + s80 + "\n" + std::string(37, 's'),
       "C:\\" + std::string(274, 's') + "\r\n"},
  };
  for (const auto& [name, data, shownName, shownData, stored] : cases) {
    SCOPED_TRACE(shownData);
    WriteRun({});
    WriteSnapshot("");
    SetValue(name, data + '\0');
    Run({Added(shownName, shownData, "n")}, 0);
    EXPECT_EQ(Snapshot(), stored);
    Run(stored.empty() ? std::vector<Box>{Added(shownName, shownData, "j")} : std::vector<Box>{},
        0);
    EXPECT_EQ(ValuesOf().empty(), stored.empty()) << "deleted only by the Yes";
  }
}

}  // namespace
#else
TEST(WatchRunHardening, RunsOnLinuxOnly) {
  GTEST_SKIP() << "the Wine end-to-end script covers Windows";
}
#endif
