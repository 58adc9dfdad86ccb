// The whole Linux program, run as a user would run it: against a machine
// root of its own, answering the boxes on a terminal. Linux only.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <sstream>

#include "ScratchMachine.h"
#include "TerminalSession.h"
#include "Win32.h"

inline const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const char kRunServices[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
inline const std::string kRunLine = std::string("HKEY_LOCAL_MACHINE\\") + kRun;
inline const std::string kRunServicesLine = std::string("HKEY_LOCAL_MACHINE\\") + kRunServices;
inline const char kWowRun[] = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::string kWowRunLine = std::string("HKEY_LOCAL_MACHINE\\") + kWowRun;

using Values = std::vector<std::pair<std::string, std::string>>;  // name, data

inline std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

inline std::string Section(const std::string& key, const Values& values) {
  std::string text = "[HKEY_LOCAL_MACHINE\\" + key + "]\r\n";
  for (const auto& [name, data] : values) text += Quoted(name) + "=" + Quoted(data) + "\r\n";
  return text + "\r\n";
}

// A box a run is expected to show and the answer it gets.
struct Box {
  std::string caption;
  std::string text;  // of an error box: a regular expression
  bool yesNo;
  std::string answer;
  std::function<void()> meanwhile = nullptr;
};

inline Box Prompt(const std::string& keyLine, const std::string& tail, const std::string& answer) {
  return {"WARNUNG - \xC4NDERUNG DER REGISTRY",
          "Warnung!\n\nIn diesem Registry Key hat eine Ver\xE4nderung statt gefunden:\n" + keyLine +
              "\n\n" + tail,
          true, answer};
}

// Name, data and line as the terminal shows them under LC_ALL=C.
inline Box Added(const std::string& name, const std::string& data, const std::string& answer,
                 const std::string& keyLine = kRunLine) {
  return Prompt(keyLine,
                "Ein Eintrag ist neu hinzu gekommen:\n" + name + "\n\nMit dem Wert:\n" + data +
                    "\n\n\nWollen Sie den Eintrag wieder entfernen?",
                answer);
}

inline Box Removed(const std::string& line, const std::string& answer,
                   const std::string& keyLine = kRunLine) {
  return Prompt(keyLine,
                "Ein Eintrag ist gel\xF6scht worden!\n\nMit dem Wert:\n" + line +
                    "\n\n\nWollen Sie den Wert wieder hinzuf\xFCgen??",
                answer);
}

// The error box with the class and the message (a regular expression).
inline Box ErrorBox(const std::string& className, const std::string& message,
                    const std::string& module = "keyvigil") {
  return {"Anwendungsfehler",
          "Exception " + className + " in Modul " + module + " bei [0-9A-F]{8}\\.\n" + message,
          false, ""};
}

class WatchRunFixture : public ::testing::Test {
 protected:
  std::filesystem::path HivePath() const { return machine.Root() / "HKLM.reg"; }
  void WriteHive(const std::string& sections) const {
    std::ofstream(HivePath(), std::ios::binary) << "REGEDIT4\r\n\r\n" << sections;
  }
  void WriteRun(const Values& run) const { WriteHive(Section(kRun, run)); }
  std::string Hive() const { return ReadFile(HivePath()); }

  std::string Snapshot(const std::string& name = "KeyVigil.dat") const {
    return ReadFile(machine.Root() / "drive_c" / name);
  }
  void WriteSnapshot(const std::string& bytes, const std::string& name = "KeyVigil.dat") const {
    std::ofstream(machine.Root() / "drive_c" / name, std::ios::binary) << bytes;
  }

  // What a watched key holds now, each value as "name=data;" in its order.
  std::string ValuesOf(const char* key = kRun) const {
    std::string values;
    HKEY handle = nullptr;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle);
    std::vector<char> name(20000), data(20000);
    DWORD nameLength = name.size(), dataLength = data.size();
    for (DWORD i = 0; RegEnumValueA(handle, i, name.data(), &nameLength, nullptr, nullptr,
                                    reinterpret_cast<BYTE*>(data.data()), &dataLength) == 0;
         ++i, nameLength = name.size(), dataLength = data.size()) {
      values += std::string(name.data(), nameLength) + "=" + data.data() + ";";
    }
    RegCloseKey(handle);
    return values;
  }

  // Sets a value of the Run key through the registry stand-in, which writes
  // any bytes a hive file cannot hold as they are in its escaped form.
  static void SetValue(const std::string& name, const std::string& data, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRun, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             data.size()),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // $KEYVIGIL_TEST_LAUNCHER, when set, is put before the program (valgrind
  // with its options, say).
  std::unique_ptr<TerminalSession> Start(const std::vector<std::string>& arguments = {},
                                         const std::string& folder = "",
                                         const std::string& program = KEYVIGIL_PROGRAM,
                                         const std::map<std::string, std::string>& extra = {}) {
    std::vector<std::string> command;
    if (const char* launcher = getenv("KEYVIGIL_TEST_LAUNCHER")) {
      std::istringstream words(launcher);
      for (std::string word; words >> word;) command.push_back(word);
    }
    command.push_back(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> environment{{"KEYVIGIL_ROOT", machine.Root().string()},
                                                   {"LC_ALL", "C"}};
    for (const auto& [name, value] : extra) environment[name] = value;
    return std::make_unique<TerminalSession>(command, environment, folder);
  }

  // Expects the boxes in turn, each answered (after its `meanwhile`, the
  // change another program makes while it is open), then the end of the run.
  // A box not the expected one ends the run at once: answers meant for other
  // boxes would only leave it waiting out the bound for a hang.
  static void Expect(TerminalSession& run, const std::vector<Box>& boxes, int exitCode) {
    for (size_t i = 0; i < boxes.size(); ++i) {
      TerminalBox box;
      ASSERT_TRUE(run.NextBox(box)) << "box " << i << " missing: " << run.Output();
      if (!Shows(box, boxes[i])) {
        run.Kill();
        FAIL() << "box " << i << " is\n"
               << box.caption << "\n"
               << box.text << "\ninstead of\n"
               << boxes[i].caption << "\n"
               << boxes[i].text;
      }
      if (boxes[i].meanwhile) boxes[i].meanwhile();
      run.Answer(boxes[i].answer);
    }
    TerminalBox unexpected;
    if (run.NextBox(unexpected)) run.Kill();
    EXPECT_EQ(unexpected.text, "") << "unexpected box";
    EXPECT_EQ(run.ExitCode(), exitCode) << run.Output();
  }
  static bool Shows(const TerminalBox& box, const Box& expected) {
    return box.caption == expected.caption && box.yesNo == expected.yesNo &&
           (box.yesNo ? box.text == expected.text
                      : std::regex_match(box.text, std::regex(expected.text)));
  }
  void Run(const std::vector<Box>& boxes, int exitCode,
           const std::vector<std::string>& arguments = {}) {
    Expect(*Start(arguments), boxes, exitCode);
  }

  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ScratchMachine machine;
};
