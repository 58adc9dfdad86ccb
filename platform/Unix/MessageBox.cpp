// The message box as a question on the controlling terminal. Without one it
// cannot be shown: the text goes to standard error and a Yes/No box answers 0,
// and the window station counts as not interactive.
// The error boxes come when memory is exhausted and from signal handlers, so
// a box allocates nothing and calls nothing but write(2) and read(2): which
// terminal and which character set is decided at start-up.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <initializer_list>

#include "Cp1252.h"
#include "Win32.h"

namespace {

int terminal = -1;
bool utf8 = false;

// As the C library decides it: the codeset of the first of LC_ALL, LC_CTYPE
// and LANG that is set and not empty. A static program cannot load the
// locale's data to ask it.
bool LocaleIsUtf8() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* locale = getenv(name);
    if (!locale || !*locale) continue;
    const char* dot = strchr(locale, '.');
    if (!dot) return false;
    const char* codeset = dot + 1;
    const size_t length = strcspn(codeset, "@");
    return (length == 5 && strncasecmp(codeset, "UTF-8", 5) == 0) ||
           (length == 4 && strncasecmp(codeset, "utf8", 4) == 0);
  }
  return false;
}

[[gnu::constructor]] void ChooseTerminal() {
  terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  utf8 = LocaleIsUtf8();
}

// Gathers a box in a fixed buffer and writes it out in pieces: a value name
// alone may be 10,000 bytes long.
class Output {
 public:
  explicit Output(int fd) : fd(fd) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() { Flush(); }

  void Put(char byte) {
    if (used == sizeof(buffer)) Flush();
    buffer[used++] = byte;
  }
  void Put(const char* bytes) {
    while (*bytes) Put(*bytes++);
  }
  void Flush() {
    for (size_t done = 0; done < used;) {
      const ssize_t count = write(fd, buffer + done, used - done);
      if (count <= 0) break;
      done += static_cast<size_t>(count);
    }
    used = 0;
  }

 private:
  int fd;
  char buffer[512];
  size_t used = 0;
};

// The program spells out the control characters of names and data itself;
// this is the last guard for any text that reaches a box. A terminal obeys
// a control byte where a Windows box would draw a glyph: an escape sequence
// could clear the prompt or repaint it with an innocent text. So every
// control character but the line feed and the tab is shown as \xNN, the C1
// controls too (0x80-0x9F on a terminal that is not UTF-8, Windows-1252's
// five undefined bytes on one that is). A backslash is not escaped, so text
// the program has escaped already is shown as it is.
void PutShown(Output& out, unsigned char byte) {
  const char16_t unit = utf8 ? UnicodeOfCp1252(byte) : byte;
  if ((unit < 0x20 && unit != '\n' && unit != '\t') || (unit >= 0x7F && unit < 0xA0)) {
    static const char kHex[] = "0123456789ABCDEF";
    out.Put('\\');
    out.Put('x');
    out.Put(kHex[byte >> 4]);
    out.Put(kHex[byte & 0xF]);
  } else if (!utf8 || unit < 0x80) {
    out.Put(static_cast<char>(byte));
  } else if (unit < 0x800) {
    out.Put(static_cast<char>(0xC0 | (unit >> 6)));
    out.Put(static_cast<char>(0x80 | (unit & 0x3F)));
  } else {
    out.Put(static_cast<char>(0xE0 | (unit >> 12)));
    out.Put(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (unit & 0x3F)));
  }
}

// Every CR, LF or CR LF of the text is a line break.
void PutText(Output& out, const char* text) {
  for (const char* p = text; *p; ++p) {
    if (*p == '\r') {
      out.Put('\n');
      if (p[1] == '\n') ++p;
    } else {
      PutShown(out, static_cast<unsigned char>(*p));
    }
  }
}

// Reads one line and keeps its first byte; false at the end of input before
// any byte of a line.
bool ReadAnswer(char& first) {
  first = 0;
  bool any = false;
  char byte;
  while (read(terminal, &byte, 1) == 1) {
    if (byte == '\n') return true;
    if (!any) first = byte;
    any = true;
  }
  return any;
}

}  // namespace

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  const bool yesNo = (type & MB_TYPEMASK) == MB_YESNO;
  Output out(terminal >= 0 ? terminal : STDERR_FILENO);
  out.Put('\n');
  PutText(out, caption ? caption : "Error");
  out.Put("\n\n");
  PutText(out, text ? text : "");
  out.Put('\n');
  if (terminal < 0) return yesNo ? 0 : IDOK;
  for (;;) {
    // Only keys typed once the question is on the screen answer it: not a
    // line typed ahead, pasted or left over from an earlier box.
    out.Flush();
    tcflush(terminal, TCIFLUSH);
    out.Put(yesNo ? "[J]a/[N]ein? " : "[OK] ");
    out.Flush();
    char first;
    const bool answered = ReadAnswer(first);
    if (!yesNo) return IDOK;
    if (!answered) return 0;
    if (first && strchr("jJyY", first)) return IDYES;
    if (first == 'n' || first == 'N') return IDNO;
  }
}

HWINSTA GetProcessWindowStation() { return reinterpret_cast<HWINSTA>(&terminal); }

// The station is interactive when a box can be answered: when there is a
// controlling terminal.
BOOL GetUserObjectInformationA(HANDLE object, int index, PVOID info, DWORD length, LPDWORD needed) {
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  if (object != &terminal || index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) return FALSE;
  *static_cast<USEROBJECTFLAGS*>(info) = {FALSE, FALSE,
                                          static_cast<DWORD>(terminal >= 0 ? WSF_VISIBLE : 0)};
  return TRUE;
}
