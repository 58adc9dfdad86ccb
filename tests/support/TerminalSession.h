// Runs a program on a pseudo-terminal of its own, as a user at a terminal
// would, and reads the boxes the Linux message box shows there. Linux only.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

// A bound for a hang, never a measure: a busy machine must not fail a run.
constexpr int kHangBoundMs = 60000;

struct TerminalBox {
  std::string caption;
  std::string text;  // line breaks as LF, whatever the program wrote
  bool yesNo = false;
};

class TerminalSession {
 public:
  TerminalSession(const std::vector<std::string>& command,
                  const std::map<std::string, std::string>& environment,
                  const std::string& folder = "") {
    termios raw{};
    cfmakeraw(&raw);
    child = forkpty(&master, nullptr, &raw, nullptr);
    if (child != 0) return;
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;
  ~TerminalSession() {
    if (exitCode == kRunning) Kill();
    close(master);
  }

  // Waits for the next box. False when the program ended (or took more than
  // the time-out) without showing one; everything it wrote is in Output().
  bool NextBox(TerminalBox& box, int timeoutMs = kHangBoundMs) {
    for (const auto deadline = Now() + timeoutMs; !TakeBox(box);)
      if (Now() >= deadline || !ReadSome(static_cast<int>(deadline - Now()))) return false;
    return true;
  }

  void Answer(const std::string& line) {
    (void)!write(master, (line + "\n").data(), line.size() + 1);
  }

  // The program's exit code, once it has ended: -1 when a signal ended it,
  // -2 when it was killed for showing a box no one will answer, or for
  // still running after the bound for a hang.
  int ExitCode() {
    const auto deadline = Now() + kHangBoundMs;
    int status = 0;
    for (TerminalBox unanswered; exitCode == kRunning && waitpid(child, &status, WNOHANG) == 0;) {
      if (Now() >= deadline || TakeBox(unanswered)) return Kill(), exitCode = -2;
      ReadSome(100);
    }
    while (ReadSome(0)) {
    }
    if (exitCode == kRunning) exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitCode;
  }

  void Kill() {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    exitCode = -1;
  }

  const std::string& Output() const { return output; }

 private:
  static constexpr int kRunning = -3;

  static int64_t Now() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }

  bool ReadSome(int timeoutMs) {
    pollfd descriptor{master, POLLIN, 0};
    char buffer[4096];
    const ssize_t count =
        poll(&descriptor, 1, timeoutMs) > 0 ? read(master, buffer, sizeof(buffer)) : 0;
    for (ssize_t i = 0; i < count; ++i) {
      output += buffer[i];
      // Every CR, LF or CR LF as one LF.
      if (buffer[i] != '\n' || lastByte != '\r') shown += buffer[i] == '\r' ? '\n' : buffer[i];
      lastByte = buffer[i];
    }
    return count > 0;
  }

  // A box is an empty line, the caption, an empty line, the text and the
  // line of buttons, the last thing written.
  bool TakeBox(TerminalBox& box) {
    for (const std::string buttons : {"[J]a/[N]ein? ", "[OK] "}) {
      const size_t end = shown.size() - std::min(shown.size(), buttons.size());
      if (shown.compare(end, std::string::npos, buttons) != 0 || end < consumed) continue;
      const size_t captionStart = shown.find_first_not_of('\n', consumed);
      const size_t captionEnd = shown.find('\n', captionStart);
      box.caption = shown.substr(captionStart, captionEnd - captionStart);
      box.text = shown.substr(captionEnd + 2, end - (shown[end - 1] == '\n') - captionEnd - 2);
      box.yesNo = buttons.size() > 5;
      consumed = shown.size();
      return true;
    }
    return false;
  }

  int master = -1;
  pid_t child = -1;
  int exitCode = kRunning;
  std::string output;
  std::string shown;  // the output with its line breaks as LF
  size_t consumed = 0;
  char lastByte = 0;
};
