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
    if (child == 0) {
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
      std::vector<char*> argv;
      for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
  }
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;
  ~TerminalSession() {
    if (child > 0 && !reaped) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    if (master >= 0) close(master);
  }

  // Waits for the next box. False when the program ended (or took more than
  // the time-out) without showing one; everything it wrote is in Output().
  bool NextBox(TerminalBox& box, int timeoutMs = kHangBoundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (TakeBox(box)) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
  }

  void Answer(const std::string& line) {
    const std::string text = line + "\n";
    (void)!write(master, text.data(), text.size());
  }

  // Waits for the program's end and returns its exit code: -1 when a signal
  // ended it, -2 when it was still running (waiting for an answer, say)
  // after the bound for a hang, and was killed.
  int ExitCode() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangBoundMs);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        reaped = true;
        return -2;
      }
      ReadSome(100);
    }
    while (ReadSome(0)) {
    }
    reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void Kill() {
    kill(child, SIGKILL);
    ExitCode();
  }

  const std::string& Output() const { return output; }

 private:
  bool ReadSome(int timeoutMs) {
    pollfd descriptor{master, POLLIN, 0};
    if (poll(&descriptor, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t count = read(master, buffer, sizeof(buffer));
    if (count <= 0) return false;
    output.append(buffer, static_cast<size_t>(count));
    return true;
  }

  // A box is an empty line, the caption, an empty line, the text and the
  // line of buttons.
  bool TakeBox(TerminalBox& box) {
    static const std::string kYesNo = "[J]a/[N]ein? ";
    static const std::string kOk = "[OK] ";
    const std::string pending = Normalized(output.substr(consumed));
    size_t buttons = pending.rfind(kYesNo);
    box.yesNo = buttons != std::string::npos;
    if (!box.yesNo) buttons = pending.rfind(kOk);
    if (buttons == std::string::npos ||
        buttons + (box.yesNo ? kYesNo : kOk).size() != pending.size()) {
      return false;
    }
    consumed = output.size();
    const size_t captionStart = pending.find_first_not_of('\n');
    const size_t captionEnd = pending.find('\n', captionStart);
    box.caption = pending.substr(captionStart, captionEnd - captionStart);
    size_t textEnd = buttons;
    if (textEnd > 0 && pending[textEnd - 1] == '\n') --textEnd;
    box.text = pending.substr(captionEnd + 2, textEnd - captionEnd - 2);
    return true;
  }

  static std::string Normalized(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r') {
        result += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      } else {
        result += text[i];
      }
    }
    return result;
  }

  int master = -1;
  pid_t child = -1;
  bool reaped = false;
  std::string output;
  size_t consumed = 0;
};
