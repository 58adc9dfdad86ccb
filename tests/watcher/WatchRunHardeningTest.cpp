// The whole program where the machine works against it: killed in the
// middle of a write, on a full disk, with snapshot files that break the
// rules, and over registry data chosen to break it. Whatever happens, no
// accepted entry is lost and nothing false is reported by the next run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "../support/WatchRunFixture.h"

namespace {

class WatchRunHardening : public WatchRunFixture {
 protected:
  // Runs the program killed outright before its 1st, 2nd, ... file system
  // call (open, write, sync, cut, move, delete, close), from files `prepare` makes, its one box
  // answered; `next` looks at what the kill left and makes the next run. Ends with the first run
  // that is not killed.
  void KillAtEveryCall(const std::function<void()>& prepare, const std::string& answer,
                       const std::function<void()>& next) {
    int call = 1;
    for (int exitCode = -1; exitCode != 0; ++call) {
      prepare();
      auto killed = Start({}, "", FAULT_PROBE, {{"KEYVIGIL_KILL_AT", std::to_string(call)}});
      TerminalBox box;
      if (killed->NextBox(box)) killed->Answer(answer);
      exitCode = killed->ExitCode();
      ASSERT_TRUE(exitCode == 0 || exitCode == -1) << killed->Output();
      SCOPED_TRACE("killed at call " + std::to_string(call));
      next();
    }
    EXPECT_GT(call, 4) << "the write was not interrupted at all";
  }
};

TEST_F(WatchRunHardening, AKilledSnapshotRewriteLeavesTheOldFileOrTheNew) {
  const std::string old = "C:\\keep.exe\r\nC:\\gone.exe\r\n", fresh = "C:\\keep.exe\r\n";
  auto prepare = [&] {
    WriteRun({{"Keep", "C:\\keep.exe"}});
    WriteSnapshot(old);
    WriteSnapshot("", "KeyVigil.dat2");
  };
  KillAtEveryCall(prepare, "n", [&] {
    const std::string left = Snapshot();
    ASSERT_TRUE(left == old || left == fresh) << left;
    Run(left == old ? std::vector<Box>{Removed("C:\\gone.exe", "n")} : std::vector<Box>{}, 0);
    EXPECT_EQ(Snapshot(), fresh);
  });
}

TEST_F(WatchRunHardening, AKilledRegistryWriteLeavesTheOldHiveOrTheNew) {
  std::string old;
  auto prepare = [&] {
    WriteRun({});
    old = Hive();
    WriteSnapshot("C:\\back.exe\r\n");
    WriteSnapshot("", "KeyVigil.dat2");
  };
  KillAtEveryCall(prepare, "j", [&] {
    const bool isNew = ValuesOf() == "0=C:\\back.exe;";
    ASSERT_TRUE(Hive() == old || isNew) << Hive();
    Run(isNew ? std::vector<Box>{} : std::vector<Box>{Removed("C:\\back.exe", "j")}, 0);
    EXPECT_EQ(ValuesOf(), "0=C:\\back.exe;");
    EXPECT_EQ(Snapshot(), "C:\\back.exe\r\n");
  });
}

// An append of 250 bytes (more than the channel's buffer) to a last line
// without its line end: the snapshot holds the old bytes or the whole new
// line in a line of its own, never a piece of it.
TEST_F(WatchRunHardening, AKilledAppendLeavesTheOldFileOrTheWholeLine) {
  // With blanks, so that the prompt shows it unbroken.
  const std::string keep = "C:\\keep.exe";
  std::string added = "C:\\";
  while (added.size() < 250) added += " nnnnnnnnn";
  auto prepare = [&] {
    WriteRun({{"Keep", keep}, {"New", added}});
    WriteSnapshot(keep);
  };
  KillAtEveryCall(prepare, "n", [&] {
    const std::string left = Snapshot();
    ASSERT_TRUE(left == keep || left == keep + "\r\n" + added + "\r\n") << left;
    Run(left == keep ? std::vector<Box>{Added("New", added, "n")} : std::vector<Box>{}, 0);
    EXPECT_EQ(Snapshot(), keep + "\r\n" + added + "\r\n");
  });
}

TEST_F(WatchRunHardening, WritesOnAFullDiskEndInTheErrorBoxAndKeepTheOldFiles) {
  // A tmpfs of 64 KB over the machine root: the hive and the snapshots lie on
  // a disk that really runs full. The filler takes every free page.
  const std::string root = machine.Root();
  if (mount("tmpfs", root.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "mounting a tmpfs needs root: " << strerror(errno);
  const std::unique_ptr<const char, int (*)(const char*)> mounted(
      root.c_str(), [](const char* folder) { return umount2(folder, MNT_DETACH); });
  std::filesystem::create_directories(root + "/drive_c");
  const auto fillDisk = [&] { std::ofstream(root + "/filler") << std::string(64 * 1024, 'f'); };
  const auto freeDisk = [&] { std::filesystem::remove(root + "/filler"); };
  // A snapshot with 200 bytes left in its last page, which the first 128
  // bytes of a 250-byte line fit into; one of exactly one page, and another
  // line that a rewrite or a registry write leaves out.
  const std::string pad = "C:\\" + std::string(4091, 'p'), shortPad = pad.substr(0, 3894);
  const std::string twoLines = pad + "\r\nC:\\gone.exe\r\n", longLine(250, 'a');
  const std::tuple<const char*, Values, std::string, std::vector<Box>> cases[] = {
      {"append",
       {{"Pad", shortPad}, {"New", longLine}},
       shortPad + "\r\n",
       {Added("New",
              std::string(80, 'a') + "\n" + std::string(80, 'a') + "\n" + std::string(80, 'a') +
                  "\n" + std::string(10, 'a'),
              "n"),
        ErrorBox("EInOutError", "E/A-Fehler 112\\.")}},
      {"rewrite",
       {{"Pad", pad}},
       twoLines,
       {Removed("C:\\gone.exe", "n"), ErrorBox("EWriteError", "Stream-Write-Fehler\\.")}},
      {"registry write",
       {{"Pad", pad}},
       twoLines,
       {Removed("C:\\gone.exe", "j"),
        ErrorBox("ERegistryException", "Konnte Daten f\xFCr '0' nicht setzen\\.")}},
  };
  for (const auto& [write, run, snapshot, boxes] : cases) {
    SCOPED_TRACE(write);
    freeDisk();
    WriteRun(run);
    WriteSnapshot(snapshot);
    WriteSnapshot("", "KeyVigil.dat2");
    const std::string hive = Hive();
    fillDisk();
    Run(boxes, 1);
    EXPECT_EQ(Snapshot(), snapshot);
    EXPECT_EQ(Hive(), hive);
    EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.da$"));
  }
  freeDisk();
  Run({Removed("C:\\gone.exe", "j")}, 0);
  EXPECT_EQ(ValuesOf(), "Pad=" + pad + ";0=C:\\gone.exe;");
}

// The snapshot keeps its bytes whatever refuses the run: another program
// holding it, a read-only mark, or a device in its place.
TEST_F(WatchRunHardening, SnapshotsHeldReadOnlyOrNotFilesEndTheRunUntouched) {
  const std::string accepted = "C:\\keep.exe\r\nC:\\gone.exe\r\n";
  const std::vector<Box> rewriteRefused = {
      Removed("C:\\gone.exe", "n"),
      ErrorBox("EFCreateError", "Datei C:\\\\KeyVigil\\.dat kann nicht erstellt werden\\.")};
  // The argument, the snapshot's mode, what another program holds it open
  // for (sharing reading and writing), the boxes. A reader, a backup say,
  // lets the load pass and the rewrite fail.
  const std::tuple<const char*, mode_t, DWORD, std::vector<Box>> cases[] = {
      {"C:\\KeyVigil.dat", 0644, GENERIC_WRITE, {ErrorBox("EInOutError", "E/A-Fehler 32\\.")}},
      {"C:\\KeyVigil.dat", 0644, GENERIC_READ, rewriteRefused},
      {"C:\\KeyVigil.dat", 0444, 0, rewriteRefused},
      {"C:\\nul.dat", 0644, 0, {ErrorBox("EInOutError", "Ung\xFCltiger Dateiname\\.")}},
  };
  for (const auto& [argument, mode, heldFor, boxes] : cases) {
    SCOPED_TRACE(std::string(argument) + " held for " + std::to_string(heldFor));
    WriteRun({{"Keep", "C:\\keep.exe"}});
    WriteSnapshot(accepted);
    chmod((machine.Root() / "drive_c" / "KeyVigil.dat").c_str(), mode);
    const HANDLE holder =
        CreateFileA(heldFor ? argument : "", heldFor, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);  // "" opens nothing
    Run(boxes, 1, {argument});
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(Snapshot(), accepted);
  }
}

// However the snapshot's name is spelt, every open finds one file; files
// that editors leave beside both snapshots are never taken for new files.
TEST_F(WatchRunHardening, EverySpellingFindsOneSnapshotAndOtherFilesStayAlone) {
  const std::string keep = "C:\\keep.exe\r\n";
  WriteHive(Section(kRun, {{"Keep", "C:\\keep.exe"}}) + Section(kRunServices, {}));
  WriteSnapshot(keep + "C:\\gone.exe\r\n");
  WriteSnapshot("other\r\n", "keyvigil.dat");
  WriteSnapshot("C:\\gone2.exe\r\n", "KeyVigil.dat2");
  for (const char* backup : {"KeyVigil.dat~", "KeyVigil.dat2~", "keyvigil.dat~"})
    WriteSnapshot(backup, backup);
  Run({Removed("C:\\gone.exe", "n"), Removed("C:\\gone2.exe", "n", kRunServicesLine)}, 0);
  Run({}, 0);
  SetValue("New", "C:\\new.exe");
  Run({Added("New", "C:\\new.exe", "n")}, 0, {"C:\\KEYVIGIL.DAT. "});
  EXPECT_EQ(Snapshot(), keep + "C:\\new.exe\r\n");
  EXPECT_EQ(Snapshot("keyvigil.dat") + Snapshot("KeyVigil.dat2"), "other\r\n");
  for (const char* backup : {"KeyVigil.dat~", "KeyVigil.dat2~", "keyvigil.dat~"})
    EXPECT_EQ(Snapshot(backup), backup);
  for (const char* name : {"KeyVigil.da$", "KeyVigil.dat$", "keyvigil.da$", "keyvigil.dat$"})
    EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / name)) << name;
}

// A snapshot linked to a file on another file system is rewritten beside
// that file; one whose new file's path would be too long fails as such a
// path does, and keeps its bytes.
TEST_F(WatchRunHardening, ALinkedSnapshotIsReplacedBesideTheFileItNames) {
  const std::filesystem::path elsewhere = "/dev/shm/kvtest-" + std::to_string(getpid());
  struct stat there = {}, here = {};
  stat("/dev/shm", &there);
  stat(machine.Root().c_str(), &here);
  if (there.st_dev == here.st_dev) GTEST_SKIP() << "/dev/shm is no other file system here";
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)> gone(
      &elsewhere, [](const std::filesystem::path* folder) { std::filesystem::remove_all(*folder); });
  const std::string accepted = "C:\\keep.exe\r\nC:\\gone.exe\r\n";
  const std::filesystem::path longFolder = elsewhere / std::string(250, 'f');
  const std::tuple<std::filesystem::path, std::vector<Box>, std::string> cases[] = {
      {elsewhere / "snap",
       {Added("New", "C:\\new.exe", "n"), Removed("C:\\gone.exe", "n")},
       "C:\\keep.exe\r\nC:\\new.exe\r\n"},
      {longFolder / "snap",
       {Added("New", "C:\\new.exe", "n"), ErrorBox("EInOutError", "Ung\xFCltiger Dateiname\\.")},
       accepted},
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

// Another user's lock file, or something in its place that is no file, ends
// the run at once, before anything is asked; a run's own lock files are
// its user's alone.
TEST_F(WatchRunHardening, ALockThatCannotBeHadEndsTheRunBeforeAnythingIsAsked) {
  const std::filesystem::path mutex = machine.Root() / "Global_KeyVigil.mutex";
  WriteRun({{"Keep", "C:\\keep.exe"}});
  Run({Added("Keep", "C:\\keep.exe", "j")}, 0);
  EXPECT_EQ(std::filesystem::status(mutex).permissions(), std::filesystem::perms(0600));
  EXPECT_EQ(std::filesystem::status(HivePath() += ".lock").permissions(),
            std::filesystem::perms(0600));
  std::vector<std::function<void()>> squatters = {
      [&] { std::filesystem::create_directory(mutex); }};
  if (geteuid() == 0)  // only root may give a file away
    squatters.push_back([&] { std::ofstream(mutex) << "", chown(mutex.c_str(), 65534, 65534); });
  WriteRun({{"New", "C:\\new.exe"}});
  for (const auto& squat : squatters) {
    std::filesystem::remove_all(mutex);
    squat();
    Run({ErrorBox("EInOutError",
                  "Ein anderer KeyVigil-Lauf oder ein anderes Programm h\xE4lt die Sperre "
                  "'Global\\\\KeyVigil'\\.")},
        1);
  }
  EXPECT_EQ(Snapshot(), "");
}

// Every control character is spelt out, none broken across lines, and a
// run of more than 80 characters without a blank is broken.
TEST_F(WatchRunHardening, EveryControlCharacterOfANameIsSpeltOut) {
  std::string name;
  for (int byte = 1; byte < 0x80; ++byte) name += static_cast<char>(byte);
  WriteRun({});
  SetValue(name, std::string("C:\\x.exe\0", 9));
  Run({Added(
          "\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\x09\\x0A\\x0B\\x0C\\x0D\\x0E\\x0F\\x10\\x11"
          "\\x12\\x13\\x14\n\\x15\\x16\\x17\\x18\\x19\\x1A\\x1B\\x1C\\x1D\\x1E\\x1F !\"#$%&'()*+,"
          "-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnop\n"
          "qrstuvwxyz{|}~\\x7F",
          "C:\\x.exe", "n")},
      0);
  EXPECT_EQ(Snapshot(), "C:\\x.exe\r\n");
  Run({}, 0);
}

// A name or data too long for a box shows its first and last part: Yes
// deletes the value, No keeps it unaccepted, to be asked about again.
TEST_F(WatchRunHardening, ATextTooLongForABoxIsShortenedAndNeverAccepted) {
  const std::string shownName = std::string(80, 'N') + "\n" + std::string(49, 'N') +
                                "\n(10000 Zeichen, gek\xFCrzt)\n" + std::string(49, 'N') + "\n" +
                                std::string(80, 'N');
  WriteRun({{std::string(10000, 'N'), "C:\\d"}, {"Short", "C:\\" + std::string(274, 's')}});
  Run({Added(shownName, "C:\\d", "n"),
       Added("Short",
             "C:\\" + std::string(77, 's') + "\n" + std::string(80, 's') + "\n" +
                 std::string(80, 's') + "\n" + std::string(37, 's'),
             "n")},
      0);
  EXPECT_EQ(Snapshot(), "C:\\" + std::string(274, 's') + "\r\n");
  Run({Added(shownName, "C:\\d", "j")}, 0);
  EXPECT_EQ(ValuesOf(), "Short=C:\\" + std::string(274, 's') + ";");
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
    std::ofstream(next, std::ios::binary) << "REGEDIT4\r\n\r\n" << Section(kRun, {before[1], before[2]});
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

// What the snapshot cannot hold (a CR ends a line, a 0x1A the file, an
// empty line is none) is asked about again after No; a LF is kept.
TEST_F(WatchRunHardening, DataTheSnapshotCannotHoldIsNeverStored) {
  // The data as stored (with its final zero), as shown, and what No stores.
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {std::string("a\nb", 4), "a\\x0Ab", "a\nb\r\n"},
      {std::string("a\0b", 4), "a", "a\r\n"},
      {std::string("a\rb", 4), "a\\x0Db", ""},
      {std::string("a\032b", 4), "a\\x1Ab", ""},
      {std::string("", 1), "", ""},
  };
  for (const auto& [data, shown, stored] : cases) {
    SCOPED_TRACE(shown);
    WriteRun({});
    WriteSnapshot("");
    SetValue("V", data);
    Run({Added("V", shown, "n")}, 0);
    EXPECT_EQ(Snapshot(), stored);
    Run(stored.empty() ? std::vector<Box>{Added("V", shown, "n")} : std::vector<Box>{}, 0);
  }
}

}  // namespace
#else
TEST(WatchRunHardening, RunsOnLinuxOnly) {
  GTEST_SKIP() << "the Wine end-to-end script covers Windows";
}
#endif
