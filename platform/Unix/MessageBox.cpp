// The message box as a question on the controlling terminal. Without one it
// cannot be shown: the text goes to standard error and a Yes/No box answers 0.
// The error boxes come when memory is exhausted and from signal handlers, so
// a box allocates nothing and calls nothing but write(2) and read(2): which
// terminal and which character set is decided at start-up.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
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

// A registry value name or data may hold any byte. A Windows box shows a
// control byte as a glyph at worst, but a terminal obeys it: an escape
// sequence could clear the prompt or repaint it with an innocent text. So
// every control character but the line feed and the tab is shown as \xNN,
// on a UTF-8 terminal the C1 controls that Windows-1252's five undefined
// bytes stand for too.
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
