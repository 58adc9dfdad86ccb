// The whole program where the machine works against it: killed in the
// middle of a write, on a full disk, and over registry data chosen to break
// it. Whatever happens, no accepted entry is lost and nothing false is
// reported by the next run.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "../support/WatchRunFixture.h"

namespace {

class WatchRunHardening : public WatchRunFixture {
 protected:
  std::unique_ptr<TerminalSession> StartKilledAt(int call) {
    return Start({}, "", CRASH_PROBE, {{"KEYVIGIL_KILL_AT", std::to_string(call)}});
  }

  // The exit code of a run that may have been killed before any box: -1
  // for the kill, otherwise after it has asked exactly one question.
  int EndOf(TerminalSession& run, const char* answer) {
    TerminalBox box;
    if (run.NextBox(box)) run.Answer(answer);
    return run.ExitCode();
  }
};

TEST_F(WatchRunHardening, AKilledSnapshotRewriteLeavesTheOldFileOrTheNew) {
  const std::string old = "C:\\keep.exe\r\nC:\\gone.exe\r\n";
  const std::string fresh = "C:\\keep.exe\r\n";
  int call = 1;
  for (;; ++call) {
    WriteRun({{"Keep", "C:\\keep.exe"}});
    WriteSnapshot(old);
    WriteSnapshot("", "KeyVigil.dat2");
    auto killed = StartKilledAt(call);
    const int exitCode = EndOf(*killed, "n");
    const std::string left = Snapshot();
    ASSERT_TRUE(left == old || left == fresh) << "killed at call " << call << ": " << left;

    auto next = Start();
    if (left == old) ExpectRemoved(*next, kRunLine, "C:\\gone.exe", "n");
    ExpectNoMoreBoxes(*next, 0);
    EXPECT_EQ(Snapshot(), fresh) << "after a kill at call " << call;
    if (exitCode == 0) break;
    ASSERT_EQ(exitCode, -1) << killed->Output();
  }
  EXPECT_GT(call, 3) << "the rewrite was not interrupted at all";
}

TEST_F(WatchRunHardening, AKilledRegistryWriteLeavesTheOldHiveOrTheNew) {
  const Values back = {{"0", "C:\\back.exe"}};
  int call = 1;
  for (;; ++call) {
    WriteRun({});
    const std::string old = Hive();
    WriteSnapshot("C:\\back.exe\r\n");
    WriteSnapshot("", "KeyVigil.dat2");
    auto killed = StartKilledAt(call);
    const int exitCode = EndOf(*killed, "j");
    const Values now = ValuesOf(kRun);
    const bool isNew = now.size() == 1 && now[0].name == "0" && now[0].data == "C:\\back.exe";
    ASSERT_TRUE(Hive() == old || isNew) << "killed at call " << call << ": " << Hive();

    auto next = Start();
    if (!isNew) ExpectRemoved(*next, kRunLine, "C:\\back.exe", "j");
    ExpectNoMoreBoxes(*next, 0);
    EXPECT_EQ(ValuesOf(kRun).size(), 1u) << "after a kill at call " << call;
    EXPECT_EQ(Snapshot(), "C:\\back.exe\r\n");
    if (exitCode == 0) break;
    ASSERT_EQ(exitCode, -1) << killed->Output();
  }
  EXPECT_GT(call, 3) << "the registry write was not interrupted at all";
}

// A tmpfs of a few pages mounted over the machine root for one test: the
// hive and the snapshots lie on a disk that really runs full.
class SmallDisk {
 public:
  explicit SmallDisk(const std::filesystem::path& folder) : folder(folder) {
    mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (!mounted) failure = strerror(errno);
    std::filesystem::create_directories(folder / "drive_c");
  }
  ~SmallDisk() {
    if (mounted) umount2(folder.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted; }
  const std::string& Failure() const { return failure; }

  // Takes every free page, so that any write that needs one fails.
  void Fill() const {
    const int fd = open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const std::string page(4096, 'f');
    while (write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size())) {
    }
    close(fd);
  }
  void Free() const { std::filesystem::remove(folder / "filler"); }

 private:
  std::filesystem::path folder;
  bool mounted = false;
  std::string failure;
};

TEST_F(WatchRunHardening, WritesOnAFullDiskEndInTheErrorBoxAndKeepTheOldFiles) {
  SmallDisk disk(machine.Root());
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root: " << disk.Failure();
  // A snapshot of exactly one page, so that no byte can be added to it.
  const std::string pad = "C:\\" + std::string(4091, 'p');
  const std::string fullPage = pad + "\r\n";
  const std::string diskFull = "E/A-Fehler 112\\.";
  auto prepare = [&](const Values& run, const std::string& snapshot) {
    disk.Free();
    WriteRun(run);
    WriteSnapshot(snapshot);
    WriteSnapshot("", "KeyVigil.dat2");
    disk.Fill();
  };

  prepare({{"Pad", pad}, {"New", "C:\\new.exe"}}, fullPage);
  const std::string hive = Hive();
  auto append = Start();
  ExpectAdded(*append, kRunLine, "New", "C:\\new.exe", "n");
  ExpectErrorBox(*append, "EInOutError", diskFull);
  ExpectNoMoreBoxes(*append, 1);
  EXPECT_EQ(Snapshot(), fullPage);
  EXPECT_EQ(Hive(), hive);

  const std::string twoLines = fullPage + "C:\\gone.exe\r\n";
  prepare({{"Pad", pad}}, twoLines);
  auto rewrite = Start();
  ExpectRemoved(*rewrite, kRunLine, "C:\\gone.exe", "n");
  ExpectErrorBox(*rewrite, "EWriteError", "Stream-Write-Fehler\\.");
  ExpectNoMoreBoxes(*rewrite, 1);
  EXPECT_EQ(Snapshot(), twoLines);
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c" / "KeyVigil.da~"));

  prepare({{"Pad", pad}}, twoLines);
  const std::string hiveBefore = Hive();
  auto registry = Start();
  ExpectRemoved(*registry, kRunLine, "C:\\gone.exe", "j");
  ExpectErrorBox(*registry, "ERegistryException", "Konnte Daten f\xFCr '0' nicht setzen\\.");
  ExpectNoMoreBoxes(*registry, 1);
  EXPECT_EQ(Hive(), hiveBefore);
  EXPECT_EQ(Snapshot(), twoLines);

  disk.Free();
  auto roomy = Start();
  ExpectRemoved(*roomy, kRunLine, "C:\\gone.exe", "j");
  ExpectNoMoreBoxes(*roomy, 0);
  EXPECT_EQ(ValuesOf(kRun).size(), 2u);
}

TEST_F(WatchRunHardening, NamesAndDataOfTenThousandBytesPassWhole) {
  const std::string name(10000, 'N');
  const std::string data = "C:\\" + std::string(9997, 'd');
  WriteRun({{name, data}});
  auto first = Start();
  ExpectAdded(*first, kRunLine, name, data, "n");
  ExpectNoMoreBoxes(*first, 0);
  EXPECT_EQ(Snapshot(), data + "\r\n");
  auto second = Start();
  ExpectNoMoreBoxes(*second, 0);
}

TEST_F(WatchRunHardening, ANameMayHoldEveryByteAndIsShownHarmlessly) {
  std::string name;
  for (int byte = 1; byte <= 0xFF; ++byte) name += static_cast<char>(byte);
  SetValue(kRun, name, REG_SZ, std::string("C:\\x.exe", 9));
  auto run = Start();
  ExpectAdded(*run, kRunLine, name, "C:\\x.exe", "n");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_EQ(run->Output().find('\x1B'), std::string::npos) << "an escape reached the terminal";
  EXPECT_EQ(Snapshot(), "C:\\x.exe\r\n");
  ASSERT_EQ(ValuesOf(kRun).size(), 1u);
  EXPECT_EQ(ValuesOf(kRun)[0].name, name);
}

// Data is written to the snapshot unchanged, so the line-end and end-of-file
// bytes of the text file come back as the reading rules make of them.
TEST_F(WatchRunHardening, SpecialBytesInDataComeBackAsTheSnapshotRulesSay) {
  struct Case {
    std::string data;               // as stored, with its final zero
    std::string shown;              // what the program reads
    bool askedAgain;                // does the next run miss it?
    std::vector<std::string> gone;  // lines the next run finds without a value
  };
  const std::vector<Case> cases = {
      {std::string("a\nb", 4), "a\nb", false, {}},
      {std::string("a\0b", 4), "a", false, {}},
      {std::string("a\rb", 4), "a\rb", true, {"a", "b"}},
      {std::string("a\x1A"
                   "b",
                   4),
       "a\x1A"
       "b",
       true,
       {"a"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    WriteRun({});
    WriteSnapshot("");
    SetValue(kRun, "V", REG_SZ, c.data);
    auto first = Start();
    ExpectAdded(*first, kRunLine, "V", c.shown, "n");
    ExpectNoMoreBoxes(*first, 0);
    EXPECT_EQ(Snapshot(), c.shown + "\r\n");

    auto second = Start();
    if (c.askedAgain) ExpectAdded(*second, kRunLine, "V", c.shown, "n");
    for (const std::string& line : c.gone) ExpectRemoved(*second, kRunLine, line, "n");
    ExpectNoMoreBoxes(*second, 0);
    EXPECT_EQ(Snapshot(), c.shown + "\r\n") << "the answers of the second run undo nothing";
  }
}

TEST_F(WatchRunHardening, SeventyThousandValuesAreWalkedPastSixteenBits) {
  Values run;
  for (int number = 0; number < 70000; ++number)
    run.push_back({std::to_string(number), "C:\\same.exe"});
  run.push_back({"Last", "C:\\last.exe"});
  WriteRun(run);
  WriteSnapshot("C:\\same.exe\r\nC:\\back.exe\r\n");
  auto watch = Start();
  ExpectAdded(*watch, kRunLine, "Last", "C:\\last.exe", "n");
  ExpectRemoved(*watch, kRunLine, "C:\\back.exe", "j");
  ExpectNoMoreBoxes(*watch, 0);
  const Values now = ValuesOf(kRun);
  ASSERT_EQ(now.size(), 70002u);
  EXPECT_EQ(now.back().name, "70000");
  EXPECT_EQ(now.back().data, "C:\\back.exe");
}

TEST_F(WatchRunHardening, TwentyMegabytesOfOtherKeysSurviveARegistryWrite) {
  Values tenValues;
  for (int value = 0; value < 10; ++value)
    tenValues.push_back({"V" + std::to_string(value), "C:\\" + std::string(180, 'o')});
  std::string others;
  for (int key = 0; others.size() < 20 * 1024 * 1024; ++key)
    others += Section("Software\\Other\\Key" + std::to_string(key), tenValues);
  WriteHive(others + Section(kRun, {{"Intruder", "C:\\i.exe"}}));
  auto run = Start();
  ExpectAdded(*run, kRunLine, "Intruder", "C:\\i.exe", "j");
  ExpectNoMoreBoxes(*run, 0);
  EXPECT_TRUE(ValuesOf(kRun).empty());
  const std::string hive = Hive();
  EXPECT_EQ(hive.size(), 12 + others.size() + Section(kRun, {}).size());
  EXPECT_NE(hive.find(others), std::string::npos) << "other keys changed";
}

}  // namespace
#else
TEST(WatchRunHardening, RunsOnLinuxOnly) {
  GTEST_SKIP() << "the Wine end-to-end script covers Windows";
}
#endif
