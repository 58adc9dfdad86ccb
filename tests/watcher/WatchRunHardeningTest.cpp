// The whole program where the machine works against it: killed in the
// middle of a write, on a full disk, with snapshot files that break the
// rules, and over registry data chosen to break it. Whatever happens, no
// accepted entry is lost and nothing false is reported by the next run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "../support/WatchRunFixture.h"

namespace {

// The non-empty lines of a snapshot as the reading rules split them.
std::multiset<std::string> LinesOf(const std::string& bytes) {
  const std::regex lineEnd("\r\n?");
  std::multiset<std::string> lines(
      std::sregex_token_iterator(bytes.begin(), bytes.end(), lineEnd, -1), {});
  lines.erase("");
  return lines;
}

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

// An append of 300 bytes to a last line without its line end: the line
// starts a line of its own, and the next run's append never merges with a
// torn piece, which it reports as vanished on its own.
TEST_F(WatchRunHardening, AKilledAppendAfterAnOpenLineMergesWithNoLine) {
  const std::string keep = "C:\\keep.exe", added = "C:\\" + std::string(297, 'n');
  auto prepare = [&] {
    WriteRun({{"Keep", keep}, {"New", added}});
    WriteSnapshot(keep);
  };
  KillAtEveryCall(prepare, "n", [&] {
    std::multiset<std::string> left = LinesOf(Snapshot());
    left.erase(keep);
    const bool torn = !left.empty() && !left.count(added);
    WriteRun({{"Keep", keep}, {"New", added}, {"Next", "C:\\next"}});
    std::vector<Box> boxes;
    if (!left.count(added)) boxes.push_back(Added("New", added, "n"));
    boxes.push_back(Added("Next", "C:\\next", "n"));
    if (torn) boxes.push_back(Removed(*left.begin(), "n"));
    Run(boxes, 0);
    EXPECT_EQ(LinesOf(Snapshot()), (std::multiset<std::string>{keep, added, "C:\\next"}));
  });
  EXPECT_EQ(Snapshot(), keep + "\r\n" + added + "\r\nC:\\next\r\n");
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
  // bytes of a 300-byte line fit into; one of exactly one page, and another
  // line that a rewrite or a registry write leaves out.
  const std::string pad = "C:\\" + std::string(4091, 'p'), shortPad = pad.substr(0, 3894);
  const std::string twoLines = pad + "\r\nC:\\gone.exe\r\n", longLine(300, 'a');
  const std::tuple<const char*, Values, std::string, std::vector<Box>> cases[] = {
      {"append",
       {{"Pad", shortPad}, {"New", longLine}},
       shortPad + "\r\n",
       {Added("New", longLine, "n"), ErrorBox("EInOutError", "E/A-Fehler 112\\.")}},
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
    EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.da~"));
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

TEST_F(WatchRunHardening, LongNamesAndEveryByteArePassedWholeAndShownHarmlessly) {
  const std::string name(10000, 'N'), data = "C:\\" + std::string(9997, 'd');
  std::string everyByte;
  for (int byte = 1; byte <= 0xFF; ++byte) everyByte += static_cast<char>(byte);
  WriteRun({{name, data}});
  SetValue(everyByte, std::string("C:\\x.exe", 9));
  // Shown as the box shows it: a raw escape byte on the terminal fails it.
  Run({Added(name, data, "n"), Added(everyByte, "C:\\x.exe", "n")}, 0);
  EXPECT_EQ(Snapshot(), data + "\r\nC:\\x.exe\r\n");
  EXPECT_NE(ValuesOf().find(";" + everyByte + "=C:\\x.exe;"), std::string::npos);
  Run({}, 0);
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

// Data is written to the snapshot unchanged, so the line-end and end-of-file
// bytes of the text file come back as the reading rules make of them.
TEST_F(WatchRunHardening, SpecialBytesInDataComeBackAsTheSnapshotRulesSay) {
  // The data as stored (with its final zero), as the program reads it, and
  // the lines the next run finds without a value, so that it asks again.
  const std::tuple<std::string, std::string, std::vector<std::string>> cases[] = {
      {std::string("a\nb", 4), "a\nb", {}},
      {std::string("a\0b", 4), "a", {}},
      {std::string("a\rb", 4), "a\rb", {"a", "b"}},
      {std::string("a\032b", 4), "a\032b", {"a"}},
  };
  for (const auto& [data, shown, gone] : cases) {
    SCOPED_TRACE(shown);
    WriteRun({});
    WriteSnapshot("");
    SetValue("V", data);
    Run({Added("V", shown, "n")}, 0);
    EXPECT_EQ(Snapshot(), shown + "\r\n");
    std::vector<Box> second;
    if (!gone.empty()) second.push_back(Added("V", shown, "n"));
    for (const std::string& line : gone) second.push_back(Removed(line, "n"));
    Run(second, 0);
    EXPECT_EQ(Snapshot(), shown + "\r\n") << "the answers of the second run undo nothing";
  }
}

}  // namespace
#else
TEST(WatchRunHardening, RunsOnLinuxOnly) {
  GTEST_SKIP() << "the Wine end-to-end script covers Windows";
}
#endif
