// How the runtime ends a process: the error box and exit code 1 for an
// uncaught exception or a system fault, the run-time error box, or nothing.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <regex>

#include "../support/TerminalSession.h"

namespace {

struct Outcome {
  std::vector<TerminalBox> boxes;
  int exitCode;
  std::string output;
};

Outcome RunProbe(const std::string& mode) {
  TerminalSession run({REPORT_PROBE, mode},
                      {{"LC_ALL", "C"}, {"ASAN_OPTIONS", "handle_segv=0:handle_sigfpe=0"}});
  Outcome outcome;
  TerminalBox box;
  while (run.NextBox(box)) {
    outcome.boxes.push_back(box);
    run.Answer("");
  }
  outcome.exitCode = run.ExitCode();
  outcome.output = run.Output();
  return outcome;
}

void ExpectErrorBox(const Outcome& outcome, const std::string& pattern) {
  ASSERT_EQ(outcome.boxes.size(), 1u) << outcome.output;
  EXPECT_EQ(outcome.boxes[0].caption, "Anwendungsfehler");
  EXPECT_FALSE(outcome.boxes[0].yesNo);
  EXPECT_TRUE(std::regex_match(outcome.boxes[0].text, std::regex(pattern)))
      << outcome.boxes[0].text;
  EXPECT_EQ(outcome.exitCode, 1);
}

TEST(Process, ANormalEndShowsNothingAndExitsWithZero) {
  const Outcome outcome = RunProbe("normal");
  EXPECT_TRUE(outcome.boxes.empty());
  EXPECT_EQ(outcome.exitCode, 0);
}

TEST(Process, AnUncaughtExceptionShowsTheErrorBoxAndExitsWithOne) {
  ExpectErrorBox(RunProbe("raise"),
                 "Exception EInOutError in Modul report_probe bei [0-9A-F]{8}\\.\n"
                 "Dateizugriff verweigert\\.");
}

TEST(Process, SystemFaultsAreReportedAsExceptions) {
  ExpectErrorBox(RunProbe("null-write"),
                 "Exception EAccessViolation in Modul report_probe bei [0-9A-F]{8}\\.\n"
                 "Zugriffsverletzung bei Adresse [0-9A-F]{8,16} in Modul 'report_probe'\\. "
                 "Schreiben von Adresse 00000000\\.");
  ExpectErrorBox(RunProbe("divide"),
                 "Exception EDivByZero in Modul report_probe bei [0-9A-F]{8}\\.\n"
                 "Division durch Null\\.");
}

TEST(Process, ExhaustedMemoryIsReportedWithThePreallocatedException) {
  ExpectErrorBox(RunProbe("bad-alloc"),
                 "Exception EOutOfMemory in Modul report_probe bei 00000000\\.\n"
                 "Zu wenig Arbeitsspeicher\\.");
}

TEST(Process, ARuntimeErrorShowsItsNumberAndExitsWithIt) {
  const Outcome outcome = RunProbe("runtime-error");
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_EQ(outcome.boxes[0].caption, "Error");
  EXPECT_TRUE(
      std::regex_match(outcome.boxes[0].text, std::regex("Runtime error   2 at [0-9A-F]{8}")))
      << outcome.boxes[0].text;
  EXPECT_EQ(outcome.exitCode, 2);
}

}  // namespace
#else
TEST(Process, RunsOnLinuxOnly) { GTEST_SKIP() << "the Wine end-to-end script covers Windows"; }
#endif
