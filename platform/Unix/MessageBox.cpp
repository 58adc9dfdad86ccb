// The message box as a question on the controlling terminal. Without one it
// cannot be shown: the text goes to standard error and a Yes/No box answers 0.
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "Win32.h"

namespace {

// The Windows-1252 bytes 0x80 to 0x9F that are not Latin-1 controls.
const char16_t kHighControls[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool TerminalWantsUtf8() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", nullptr);
  if (!locale) return false;
  const bool utf8 = strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
  freelocale(locale);
  return utf8;
}

// A registry value name or data may hold any byte. A Windows box shows a
// control byte as a glyph at worst, but a terminal obeys it: an escape
// sequence could clear the prompt or repaint it with an innocent text. So
// every control byte but the line breaks and the tab is shown as \xNN.
bool IsTerminalControl(unsigned char byte, bool utf8) {
  return (byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F ||
         (!utf8 && byte >= 0x80 && byte < 0xA0);
}

// The text as the terminal shows it: every CR, LF or CR LF a line break.
std::string ForTerminal(const char* text) {
  const bool utf8 = TerminalWantsUtf8();
  std::string out;
  for (const char* p = text; *p; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte == '\r') {
      out += '\n';
      if (p[1] == '\n') ++p;
    } else if (IsTerminalControl(byte, utf8)) {
      char shown[5];
      snprintf(shown, sizeof(shown), "\\x%02X", byte);
      out += shown;
    } else if (!utf8 || byte < 0x80) {
      out += *p;
    } else if (byte < 0xA0) {
      AppendUtf8(out, kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : 0xFFFD);
    } else {
      AppendUtf8(out, byte);
    }
  }
  return out;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count <= 0) return;
    done += static_cast<size_t>(count);
  }
}

// One line of input; false at the end of input.
bool ReadLine(int fd, std::string& line) {
  line.clear();
  char c;
  for (;;) {
    const ssize_t count = read(fd, &c, 1);
    if (count <= 0) return !line.empty();
    if (c == '\n') return true;
    line += c;
  }
}

int AskOnTerminal(int terminal, bool yesNo) {
  std::string line;
  for (;;) {
    WriteAll(terminal, yesNo ? "[J]a/[N]ein? " : "[OK] ");
    const bool answered = ReadLine(terminal, line);
    if (!yesNo) return IDOK;
    if (!answered) return 0;
    const char first = line.empty() ? 0 : line[0];
    if (strchr("jJyY", first) && first) return IDYES;
    if (first == 'n' || first == 'N') return IDNO;
  }
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
  const std::string shown = "\n" + ForTerminal(caption ? caption : "Error") + "\n\n" +
                            ForTerminal(text ? text : "") + "\n";
  const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) {
    WriteAll(STDERR_FILENO, shown);
    return yesNo ? 0 : IDOK;
  }
  WriteAll(terminal, shown);
  const int answer = AskOnTerminal(terminal, yesNo);
  close(terminal);
  return answer;
}
