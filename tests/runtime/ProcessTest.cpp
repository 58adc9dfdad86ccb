// How the runtime ends a process: the error box and exit code 1 for an
// uncaught exception or a system fault, the run-time error box, or nothing;
// and that it gets there with no memory left, from Ctrl-C at any moment, in
// the terminal's character set.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <iostream>
#include <random>
#include <thread>

#include "../support/WatchRunFixture.h"

namespace {

const std::regex kAddress("\\b[0-9A-F]{8,16}\\b");

// How a run ended: each box but the prompts (answered No), then the exit
// code.
std::string Ending(TerminalSession& run) {
  std::string ending;
  for (TerminalBox box; run.NextBox(box);) {
    run.Answer(box.yesNo ? "n" : "");
    if (!box.yesNo) ending += box.caption + ": " + box.text + " | ";
  }
  return ending + std::to_string(run.ExitCode());
}

std::string Masked(const std::string& ending) { return std::regex_replace(ending, kAddress, "#"); }

std::string ErrorBox(const std::string& className, const std::string& message,
                     const std::string& module = "report_probe") {
  return "Anwendungsfehler: Exception " + className + " in Modul " + module + " bei #.\n" +
         message + " | 1";
}

class Process : public WatchRunFixture {
 protected:
  // Its faults and failed allocations are the program's to report; what a
  // sanitizer says about them goes to a file.
  std::string Probe(const std::string& mode) {
    const std::string options = "handle_segv=0:handle_sigfpe=0:allocator_may_return_null=1";
    const std::string log = ":log_path=" + (machine.Root() / "asan").string();
    return Ending(*Start({mode}, "", REPORT_PROBE, {{"ASAN_OPTIONS", options + log}}));
  }

  // Waits until the program has its handler for Ctrl-C (bit 1).
  static void WaitUntilCatchingInterrupts(const TerminalSession& run) {
    const std::regex caught("SigCgt:\\s*[0-9a-f]*[2367abef]\n");
    const auto started = std::chrono::steady_clock::now();
    while (!std::regex_search(ReadFile("/proc/" + std::to_string(run.Pid()) + "/status"), caught) &&
           std::chrono::steady_clock::now() - started < std::chrono::seconds(60)) {
    }
  }
};

// The run-time error of the probe shows where its allocating function
// starts; the memory failure is reported where the allocating call returns.
TEST_F(Process, EveryWayOfEndingShowsItsBoxAndExitCode) {
  const std::pair<const char*, std::string> rows[] = {
      {"normal", "0"},
      {"raise", ErrorBox("EInOutError", "Dateizugriff verweigert.")},
      {"null-write", ErrorBox("EAccessViolation",
                              "Zugriffsverletzung bei Adresse # in Modul "
                              "'report_probe'. Schreiben von Adresse #.")},
      {"divide", ErrorBox("EDivByZero", "Division durch Null.")},
      {"stack-overflow", ErrorBox("EStackOverflow", "Stack-\334berlauf.")},
      {"out-of-memory", ErrorBox("EOutOfMemory", "Zu wenig Arbeitsspeicher.")},
      {"runtime-error", "Error: Runtime error   2 at # | 2"},
  };
  std::map<std::string, std::string> shown;
  for (const auto& [mode, ending] : rows) EXPECT_EQ(Masked(shown[mode] = Probe(mode)), ending);
  const auto address = [&](const char* mode, const std::string& before) {
    return std::stoull(shown[mode].substr(shown[mode].find(before) + before.size()), nullptr, 16);
  };
  const auto offset = address("out-of-memory", " bei ") - address("runtime-error", " at ");
  EXPECT_GT(offset, 0u);
  EXPECT_LT(offset, 64u) << "not right after the call in the allocating function";
}

// Refuses every allocation from the Nth on, for every N up to the first that
// the run never reaches: every run still ends in a box and its exit code.
TEST_F(Process, EveryAllocationMayFailWithoutLosingTheReport) {
  WriteRun({{"Updater", "C:\\u.exe"}});
  SetValue("Count", std::string("\x1F\0\0\0", 4), REG_DWORD);
  for (int refuseFrom = 1;; ++refuseFrom) {
    std::filesystem::remove(machine.Root() / "drive_c" / "KeyVigil.dat");
    std::filesystem::remove(machine.Root() / "refused");
    const std::string ending = Masked(Ending(
        *Start({}, "", FAULT_PROBE, {{"KEYVIGIL_REFUSE_FROM", std::to_string(refuseFrom)}})));
    if (!std::filesystem::exists(machine.Root() / "refused")) {
      EXPECT_EQ(ending, ErrorBox("ERegistryException",
                                 "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
                                 "\\Run\nUng\374ltiger Datentyp f\374r 'Count'.",
                                 "fault_probe"));
      std::cout << "a whole run makes " << refuseFrom - 1 << " allocations\n";
      return;
    }
    EXPECT_TRUE(ending == ErrorBox("EOutOfMemory", "Zu wenig Arbeitsspeicher.", "fault_probe") ||
                ending == "Error: Runtime error 203 at # | 203")
        << "refused from allocation " << refuseFrom << ": " << ending;
  }
}

// Ctrl-C at random moments of a run over a hive of some MB: the run ends
// normally, or with the EControlC box, or, in the microseconds before
// exception support starts, with the run-time error 217.
TEST_F(Process, CtrlCAtAnyMomentIsReported) {
  Values others;
  for (int i = 0; i < 25000; ++i)
    others.push_back({"v" + std::to_string(i), std::string(100, 'd')});
  WriteHive(Section(kRun, {{"a", "C:\\a.exe"}}) + Section("Software\\Other", others));
  WriteSnapshot("C:\\a.exe\r\n");
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(Ending(*Start()), "0");
  const auto runTime = std::chrono::steady_clock::now() - begin;
  std::mt19937 random(7);
  std::map<std::string, int> endings;
  for (int run = 0; run < 200; ++run) {
    const auto session = Start();
    WaitUntilCatchingInterrupts(*session);
    std::this_thread::sleep_for(std::uniform_real_distribution<double>(0, 1)(random) * runTime);
    kill(session->Pid(), SIGINT);
    // Interrupted in the C library, say, a dynamic build shows its module.
    ++endings[std::regex_replace(Masked(Ending(*session)), std::regex("Modul \\S+ bei"),
                                 "Modul # bei")];
  }
  for (const auto& [ending, count] : endings) {
    std::cout << count << " runs: " << ending << "\n";
    EXPECT_TRUE(ending == "0" || ending == "Error: Runtime error 217 at # | 217" ||
                ending == ErrorBox("EControlC", "Strg+C gedr\374ckt.", "#"));
  }
}

// The box in the terminal's character set, decided as the C library would
// from the first of LC_ALL, LC_CTYPE and LANG that is set and not empty.
TEST_F(Process, TheTerminalGetsItsCharacterSet) {
  WriteRun({{"Upd\344ter\200\201", "C:\\u.exe"}});
  const Box added = Added("Upd\344ter\\x80\\x81", "C:\\u.exe", "");
  const std::string asIs = "\n" + added.caption + "\n\n" + added.text + "\n[J]a/[N]ein? ";
  std::string utf8 = asIs;  // the three letters beyond ASCII that it shows
  for (const auto& [from, to] :
       {std::pair{"\304", "\xC3\x84"}, {"\344", "\xC3\xA4"}, {"\\x80", "\xE2\x82\xAC"}}) {
    for (size_t at; (at = utf8.find(from)) != std::string::npos;)
      utf8.replace(at, strlen(from), to);
  }
  const std::tuple<const char*, const char*, const char*, bool> rows[] = {
      {"", "", "C.UTF-8", true},           {"", "", "de_DE.UTF-8", true},
      {"", "de_DE.utf8@euro", "C", true},  {"C", "", "de_DE.UTF-8", false},
      {"", "", "de_DE.ISO-8859-1", false}, {"", "", "", false}};
  for (const auto& [lcAll, lcCtype, lang, isUtf8] : rows) {
    TerminalSession run({KEYVIGIL_PROGRAM}, {{"KEYVIGIL_ROOT", machine.Root().string()},
                                             {"LC_ALL", lcAll},
                                             {"LC_CTYPE", lcCtype},
                                             {"LANG", lang}});
    TerminalBox shown;
    ASSERT_TRUE(run.NextBox(shown)) << run.Output();
    EXPECT_EQ(run.Output(), isUtf8 ? utf8 : asIs) << lcAll << "|" << lcCtype << "|" << lang;
  }
}

}  // namespace
#else
const char kLinuxOnly[] = "runs the program on a pseudo-terminal and sends it signals";
TEST(Process, EveryWayOfEndingShowsItsBoxAndExitCode) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, EveryAllocationMayFailWithoutLosingTheReport) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, CtrlCAtAnyMomentIsReported) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, TheTerminalGetsItsCharacterSet) { GTEST_SKIP() << kLinuxOnly; }
#endif
