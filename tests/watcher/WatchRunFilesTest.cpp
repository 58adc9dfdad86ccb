// Whole runs against snapshot files that break the rules: a last line without
// its line end, a full disk or a kill in the middle of an append, a file that
// is held, read-only or a device.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>

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

// An append of 300 bytes to a last line without its line end, killed before
// each of its write-related calls in turn: the next run's append never
// merges with a torn piece, which it reports as vanished on its own.
TEST_F(WatchRunFixture, AnAppendKilledOrNotAfterAnOpenLineMergesWithNoLine) {
  const std::string keep = "C:\\keep.exe", added = "C:\\" + std::string(297, 'n');
  int call = 1;
  for (int exitCode = -1; exitCode != 0; ++call) {
    WriteRun({{"Keep", keep}, {"New", added}});
    WriteSnapshot(keep);
    auto killed = Start({}, "", CRASH_PROBE, {{"KEYVIGIL_KILL_AT", std::to_string(call)}});
    TerminalBox box;
    if (killed->NextBox(box)) killed->Answer("n");
    exitCode = killed->ExitCode();
    ASSERT_TRUE(exitCode == 0 || exitCode == -1) << killed->Output();

    std::multiset<std::string> left = LinesOf(Snapshot()), expected = {keep, added, "C:\\next"};
    left.erase(keep);
    const bool torn = !left.empty() && !left.count(added);
    if (torn) expected.insert(*left.begin());
    WriteRun({{"Keep", keep}, {"New", added}, {"Next", "C:\\next"}});
    auto next = Start();
    if (!left.count(added)) ExpectAdded(*next, kRunLine, "New", added, "n");
    ExpectAdded(*next, kRunLine, "Next", "C:\\next", "n");
    const bool asked = next->NextBox(box);  // the torn piece as vanished, or the end
    EXPECT_EQ(asked, torn) << box.text;
    EXPECT_EQ(LinesOf(Snapshot()), expected) << "after a kill at call " << call;
    if (asked) next->Answer("n");
    ExpectNoMoreBoxes(*next, 0);
  }
  EXPECT_GT(call, 4) << "the append was not interrupted at all";
  EXPECT_EQ(Snapshot(), keep + "\r\n" + added + "\r\nC:\\next\r\n");
}

TEST_F(WatchRunFixture, AFullDiskHalfwayThroughALineLeavesNoPartOfIt) {
  const std::filesystem::path& root = machine.Root();
  if (mount("tmpfs", root.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "needs root";
  std::filesystem::create_directories(root / "drive_c");
  // 200 bytes free in the snapshot's last page: the line's first 128 fit.
  const std::string page = "C:\\" + std::string(3891, 'p') + "\r\n", added(300, 'a');
  WriteRun({{"Pad", page.substr(0, 3894)}, {"New", added}});
  WriteSnapshot(page);
  std::ofstream filler(root / "filler", std::ios::binary);
  for (const std::string block(4096, 'f'); filler.write(block.data(), block.size());) {
  }
  filler.close();
  auto full = Start();
  ExpectAdded(*full, kRunLine, "New", added, "n");
  ExpectErrorBox(*full, "EInOutError", "E/A-Fehler 112\\.");
  ExpectNoMoreBoxes(*full, 1);
  EXPECT_EQ(Snapshot(), page);
  umount2(root.c_str(), MNT_DETACH);
}

// The snapshot keeps its bytes whatever refuses the run.
TEST_F(WatchRunFixture, SnapshotsHeldReadOnlyOrNotFilesEndTheRunUntouched) {
  const std::string accepted = "C:\\keep.exe\r\nC:\\gone.exe\r\n";
  const struct {
    const char* argument;
    mode_t mode;
    bool held;  // open, sharing reading and writing, in another program
    const char *className, *message;
  } cases[] = {
      {"C:\\KeyVigil.dat", 0644, true, "EInOutError", "E/A-Fehler 32\\."},
      {"C:\\KeyVigil.dat", 0444, false, "EFCreateError",
       "Datei C:\\\\KeyVigil\\.dat kann nicht erstellt werden\\."},
      {"C:\\nul.dat", 0644, false, "EInOutError", "Ung\xFCltiger Dateiname\\."},
  };
  for (const auto& test : cases) {
    WriteRun({{"Keep", "C:\\keep.exe"}});
    WriteSnapshot(accepted);
    chmod((machine.Root() / "drive_c" / "KeyVigil.dat").c_str(), test.mode);
    const HANDLE holder = CreateFileA(test.held ? test.argument : "", GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);  // "" opens nothing
    auto run = Start({test.argument});
    if (test.mode == 0444) ExpectRemoved(*run, kRunLine, "C:\\gone.exe", "n");
    ExpectErrorBox(*run, test.className, test.message);
    ExpectNoMoreBoxes(*run, 1);
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    EXPECT_EQ(Snapshot(), accepted);
  }
}

}  // namespace
#endif
