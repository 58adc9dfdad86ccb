// How the runtime ends a process: the error box and exit code 1 for an
// uncaught exception or a system fault, the run-time error box, or nothing;
// and that it gets there with no memory left; start-up's machine settings
// and language file.
#include <gtest/gtest.h>

#ifndef _WIN32
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
                     const std::string& module = "report_probe",
                     const std::string& caption = "Anwendungsfehler") {
  return caption + ": Exception " + className + " in Modul " + module + " bei #.\n" + message +
         " | 1";
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
      {"interrupt", ErrorBox("EControlC", "Strg+C gedr\374ckt.", "libc.so.6")},
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
      return;
    }
    EXPECT_TRUE(ending == ErrorBox("EOutOfMemory", "Zu wenig Arbeitsspeicher.", "fault_probe") ||
                ending == "Error: Runtime error 203 at # | 203")
        << "refused from allocation " << refuseFrom << ": " << ending;
  }
}

// Machines with a keyboard of type 7 and sub-type 0x0D or 0x04 take their
// floating-point exception mask from the registry; all others keep the
// start-up mask, under which a division by zero is a fault.
TEST_F(Process, OnlyMachinesOfTheRightKindMaskFloatingPointFaults) {
  const std::string fault = ErrorBox("EZeroDivide", "Gleitkommadivision durch Null.");
  // The keyboard's type and sub-type, the mask value, the ending.
  const std::tuple<int, int, const char*, std::string> rows[] = {
      {7, 0x0D00, "dword:0000003f", "0"},   {7, 0x0400, "dword:00000004", "0"},
      {7, 0x0D00, "dword:0000003b", fault}, {7, 0x0D00, "\"3f\"", fault},
      {7, 0x0500, "dword:0000003f", fault}, {6, 0x0D00, "dword:0000003f", fault}};
  for (const auto& [type, subType, mask, ending] : rows) {
    char keyboard[160];
    snprintf(keyboard, sizeof(keyboard),
             "\"OverrideKeyboardType\"=dword:%08x\r\n\"OverrideKeyboardSubtype\"=dword:%08x\r\n",
             type, subType);
    WriteHive(
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\i8042prt\\Parameters]\r\n" +
        std::string(keyboard) + "\r\n[HKEY_LOCAL_MACHINE\\Software\\KeyVigil\\Runtime]\r\n" +
        "\"FPUMaskValue\"=" + mask + "\r\n");
    EXPECT_EQ(Masked(Probe("float-divide")), ending) << type << " " << subType << " " << mask;
  }
}

// The language file beside the program is the first of its file name with
// the code the user set for it (by the program's path, else for all), with
// the thread's language and with that language's first two letters, that
// exists. A text it lacks comes from the program's own table; one of a
// single character is a text. A code too long for its buffer is none.
TEST_F(Process, TheLanguageFileServesTheTextsItHas) {
  const std::filesystem::path program = machine.Root() / "kv.exe";
  std::filesystem::copy_file(REPORT_PROBE, program);
  const std::string byPath = Quoted(program.string()) + "=\"AB\"\r\n", byDefault = "@=\"XY\"\r\n";
  const std::string tooLong = Quoted(program.string()) + "=\"ABCDE\"\r\n@=\"ABCDE\"\r\n";
  // The language files there, the user's setting, the language, the ending.
  const std::tuple<std::vector<std::string>, std::string, const char*, std::string> rows[] = {
      {{"DEU", "ENU"}, "", "de_DE", "Fehler (DEU)"},
      {{"DE", "ENU"}, "", "de_DE", "Fehler (DE)"},
      {{"DEU", "ENU"}, "", "C", "Fehler (ENU)"},
      {{"DEU", "XY"}, byDefault, "de_DE", "Fehler (XY)"},
      {{"DEU", "ABCD"}, "@=\"ABCD\"\r\n", "de_DE", "Fehler (ABCD)"},
      {{"XY", "AB"}, byPath + byDefault, "de_DE", "Fehler (AB)"},
      {{"XY"}, byPath, "de_DE", "Anwendungsfehler"},
      {{"DEU", "ABCD"}, tooLong, "de_DE", "Fehler (DEU)"},
      {{"DEU"}, "", "C", "Anwendungsfehler"}};
  for (const auto& [codes, setting, language, caption] : rows) {
    for (const auto& entry : std::filesystem::directory_iterator(machine.Root()))
      if (entry.path().extension() != ".exe") std::filesystem::remove_all(entry.path());
    for (const std::string& code : codes)
      std::ofstream(machine.Root() / ("kv." + code)) << "65511=Fehler (" << code << ")\n65423=V\n";
    std::ofstream(machine.Root() / "HKCU.reg")
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KeyVigil\\Locales]\r\n"
        << setting;
    const std::string message = caption.starts_with("Fehler") ? "V." : "Dateizugriff verweigert.";
    EXPECT_EQ(Masked(Ending(*Start({"raise"}, "", program, {{"LC_ALL", language}}))),
              ErrorBox("EInOutError", message, "kv.exe", caption))
        << codes.front() << " " << language;
  }
  // A path that leaves no room for a code of three letters in the program's
  // buffer (its dot at the 258th byte of 259) tries only the code that fits.
  const std::filesystem::path deep =
      machine.Root() / std::string(253 - machine.Root().string().size(), 'p');
  std::filesystem::create_directory(deep);
  std::filesystem::copy_file(REPORT_PROBE, deep / "kv.exe");
  for (const std::string code : {"DEU", "DE"})
    std::ofstream(deep / ("kv." + code)) << "65511=Fehler (" << code << ")\n";
  EXPECT_TRUE(Ending(*Start({"raise"}, "", deep / "kv.exe", {{"LC_ALL", "de_DE"}}))
                  .starts_with("Fehler (DE): "));
}

}  // namespace
#else
const char kLinuxOnly[] = "runs the program on a pseudo-terminal and sends it signals";
TEST(Process, EveryWayOfEndingShowsItsBoxAndExitCode) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, EveryAllocationMayFailWithoutLosingTheReport) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, OnlyMachinesOfTheRightKindMaskFloatingPointFaults) { GTEST_SKIP() << kLinuxOnly; }
TEST(Process, TheLanguageFileServesTheTextsItHas) { GTEST_SKIP() << kLinuxOnly; }
#endif
