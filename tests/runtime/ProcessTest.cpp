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

struct Outcome {
  std::vector<TerminalBox> boxes;
  int exitCode;
};

// Answers No to every prompt and OK to every other box.
Outcome Finish(TerminalSession& run) {
  Outcome outcome;
  for (TerminalBox box; run.NextBox(box);) {
    outcome.boxes.push_back(box);
    run.Answer(box.yesNo ? "n" : "");
  }
  outcome.exitCode = run.ExitCode();
  return outcome;
}

Outcome RunProbe(const std::string& mode, const std::string& note = "") {
  TerminalSession run({REPORT_PROBE, mode, note},
                      {{"LC_ALL", "C"}, {"ASAN_OPTIONS", "handle_segv=0:handle_sigfpe=0"}});
  return Finish(run);
}

bool IsErrorBox(const TerminalBox& box, const std::string& className, const std::string& message) {
  return box.caption == "Anwendungsfehler" && !box.yesNo &&
         std::regex_match(box.text, std::regex("Exception " + className +
                                               " in Modul \\w+ bei [0-9A-F]{8}\\.\n" + message));
}

TEST(Process, EveryWayOfEndingShowsItsBoxAndExitCode) {
  const struct {
    const char* mode;
    const char* className;  // empty: no error box
    const char* message;    // a regular expression
    int exitCode;
  } rows[] = {
      {"normal", "", "", 0},
      {"raise", "EInOutError", "Dateizugriff verweigert\\.", 1},
      {"null-write", "EAccessViolation",
       "Zugriffsverletzung bei Adresse [0-9A-F]{8,16} in Modul 'report_probe'\\. "
       "Schreiben von Adresse 00000000\\.",
       1},
      {"divide", "EDivByZero", "Division durch Null\\.", 1},
      {"stack-overflow", "EStackOverflow", "Stack-\334berlauf\\.", 1},
  };
  for (const auto& row : rows) {
    const Outcome outcome = RunProbe(row.mode);
    EXPECT_EQ(outcome.exitCode, row.exitCode) << row.mode;
    ASSERT_EQ(outcome.boxes.size(), *row.className ? 1u : 0u) << row.mode;
    if (*row.className) {
      EXPECT_TRUE(IsErrorBox(outcome.boxes[0], row.className, row.message))
          << outcome.boxes[0].text;
    }
  }
  const Outcome runtimeError = RunProbe("runtime-error");
  ASSERT_EQ(runtimeError.boxes.size(), 1u);
  EXPECT_EQ(runtimeError.boxes[0].caption, "Error");
  EXPECT_TRUE(
      std::regex_match(runtimeError.boxes[0].text, std::regex("Runtime error   2 at [0-9A-F]{8}")))
      << runtimeError.boxes[0].text;
  EXPECT_EQ(runtimeError.exitCode, 2);
}

TEST(Process, ExhaustedMemoryIsReportedWhereTheAllocatingCallReturns) {
  ScratchMachine machine;
  const std::string note = machine.HostPath("start").string();
  const Outcome outcome = RunProbe("out-of-memory", note);
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_TRUE(IsErrorBox(outcome.boxes[0], "EOutOfMemory", "Zu wenig Arbeitsspeicher\\."));
  EXPECT_EQ(outcome.exitCode, 1);
  std::smatch shown;
  ASSERT_TRUE(std::regex_search(outcome.boxes[0].text, shown, std::regex("bei ([0-9A-F]{8})")));
  const uintptr_t start = std::stoull(machine.Read("start"), nullptr, 16);
  const uintptr_t address = std::stoull(shown[1].str(), nullptr, 16);
  EXPECT_GT(address, start);
  EXPECT_LT(address, start + 64) << "not right after the call in the allocating function";
}

class WholeRun : public WatchRunFixture {};

// Refuses every allocation from the Nth on, for every N up to the first that
// the run never reaches: every run still ends in a box and its exit code.
TEST_F(WholeRun, EveryAllocationMayFailWithoutLosingTheReport) {
  const std::string hive = "[HKEY_LOCAL_MACHINE\\" + std::string(kRun) +
                           "]\r\n\"Updater\"=\"C:\\\\u.exe\"\r\n\"Count\"=dword:0000001f\r\n\r\n";
  for (int refuseFrom = 1;; ++refuseFrom) {
    WriteHive(hive);
    std::filesystem::remove(machine.Root() / "drive_c" / "KeyVigil.dat");
    std::filesystem::remove(machine.Root() / "refused");
    const Outcome outcome = Finish(
        *Start({}, "", MEMORY_PROBE, {{"KEYVIGIL_REFUSE_FROM", std::to_string(refuseFrom)}}));
    const std::string at = "refused from allocation " + std::to_string(refuseFrom);
    ASSERT_FALSE(outcome.boxes.empty()) << at;
    const TerminalBox& last = outcome.boxes.back();
    if (!std::filesystem::exists(machine.Root() / "refused")) {
      EXPECT_TRUE(
          IsErrorBox(last, "ERegistryException", "Ung\374ltiger Datentyp f\374r 'Count'\\."))
          << at;
      std::cout << "a whole run makes " << refuseFrom - 1 << " allocations\n";
      return;
    }
    if (last.caption == "Error") {
      EXPECT_TRUE(std::regex_match(last.text, std::regex("Runtime error 203 at [0-9A-F]{8}")));
      EXPECT_EQ(outcome.exitCode, 203) << at;
    } else {
      EXPECT_TRUE(IsErrorBox(last, "EOutOfMemory", "Zu wenig Arbeitsspeicher\\."))
          << last.text << at;
      EXPECT_EQ(outcome.exitCode, 1) << at;
    }
  }
}

// The process the session started: the test's only child.
pid_t OnlyChild() {
  std::ifstream children("/proc/self/task/" + std::to_string(gettid()) + "/children");
  pid_t child = 0;
  children >> child;
  return child;
}

bool CatchesInterrupts(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> 1) & 1;
  }
  return false;
}

// Ctrl-C at random moments of a run over a hive of some MB: the run ends
// normally, or with the EControlC box, or, in the microseconds before
// exception support starts, with the run-time error 217.
TEST_F(WholeRun, CtrlCAtAnyMomentIsReported) {
  Values others;
  for (int i = 0; i < 25000; ++i)
    others.push_back({"v" + std::to_string(i), std::string(100, 'd')});
  WriteHive(Section(kRun, {{"a", "C:\\a.exe"}}) + Section("Software\\Other", others));
  WriteSnapshot("C:\\a.exe\r\n");
  WriteSnapshot("", "KeyVigil.dat2");
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_EQ(Finish(*Start()).exitCode, 0);
  const auto runTime = std::chrono::steady_clock::now() - begin;
  std::mt19937 random(7);
  std::map<std::string, int> endings;
  for (int run = 0; run < 200; ++run) {
    const auto session = Start();
    const pid_t program = OnlyChild();
    const auto started = std::chrono::steady_clock::now();
    while (!CatchesInterrupts(program)) {
      ASSERT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
    }
    std::this_thread::sleep_for(std::uniform_real_distribution<double>(0, 1)(random) * runTime);
    kill(program, SIGINT);
    const Outcome outcome = Finish(*session);
    std::string ending = std::to_string(outcome.exitCode);
    for (const TerminalBox& box : outcome.boxes) {
      ending += IsErrorBox(box, "EControlC", "Strg\\+C gedr\374ckt\\.")
                    ? ", EControlC"
                    : ", " + box.text.substr(0, 21);
    }
    ++endings[ending];
  }
  for (const auto& [ending, count] : endings) {
    EXPECT_TRUE(ending == "0" || ending == "1, EControlC" || ending == "217, Runtime error 217 at ")
        << ending;
    std::cout << count << " runs: " << ending << "\n";
  }
}

// The box in the terminal's character set, decided as the C library would
// from the first of LC_ALL, LC_CTYPE and LANG that is set and not empty.
TEST_F(WholeRun, TheTerminalGetsItsCharacterSet) {
  WriteRun({{"Upd\344ter\200\201", "C:\\u.exe"}});
  const struct {
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
    const char* capitalUmlaut;
    const char* umlaut;
    const char* name;
  } rows[] = {
      {"", "", "C.UTF-8", "\xC3\x84", "\xC3\xA4", "Upd\xC3\xA4ter\xE2\x82\xAC\\x81"},
      {"", "", "de_DE.UTF-8", "\xC3\x84", "\xC3\xA4", "Upd\xC3\xA4ter\xE2\x82\xAC\\x81"},
      {"", "de_DE.utf8@euro", "C", "\xC3\x84", "\xC3\xA4", "Upd\xC3\xA4ter\xE2\x82\xAC\\x81"},
      {"C", "", "de_DE.UTF-8", "\304", "\344", "Upd\344ter\\x80\\x81"},
      {"", "", "de_DE.ISO-8859-1", "\304", "\344", "Upd\344ter\\x80\\x81"},
      {"", "", "", "\304", "\344", "Upd\344ter\\x80\\x81"},
  };
  for (const auto& row : rows) {
    TerminalSession run({KEYVIGIL_PROGRAM}, {{"KEYVIGIL_ROOT", machine.Root().string()},
                                             {"LC_ALL", row.lcAll},
                                             {"LC_CTYPE", row.lcCtype},
                                             {"LANG", row.lang}});
    TerminalBox box;
    ASSERT_TRUE(run.NextBox(box)) << run.Output();
    EXPECT_EQ(run.Output(), std::string("\nWARNUNG - ") + row.capitalUmlaut +
                                "NDERUNG DER REGISTRY\n\nWarnung!\n\nIn diesem Registry Key hat "
                                "eine Ver" +
                                row.umlaut + "nderung statt gefunden:\n" + kRunLine +
                                "\n\nEin Eintrag ist neu hinzu gekommen:\n" + row.name +
                                "\n\nMit dem Wert:\nC:\\u.exe\n\n\nWollen Sie den Eintrag wieder "
                                "entfernen?\n[J]a/[N]ein? ")
        << row.lcAll << "|" << row.lcCtype << "|" << row.lang;
  }
}

}  // namespace
#else
TEST(Process, RunsOnLinuxOnly) { GTEST_SKIP() << "the Wine end-to-end script covers Windows"; }
#endif
