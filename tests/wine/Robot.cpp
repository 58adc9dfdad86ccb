// Answers one message box of the program under test, from inside the same
// Wine prefix: a box's text read through X (xdotool, window titles) loses
// bytes, while GetDlgItemTextW gets the static control's text whole.
//
//   robot <caption> <text file or -> <yes|no|ok|none> <time-out in ms> [<rectangles file>]
//
// Waits for a visible dialog with that caption, writes its text to the file
// as Windows-1252 bytes, clicks the button and waits until the box is gone
// ("none" leaves it open, for a screenshot or an answer through X input).
// The rectangles file gets the screen and the screen rectangles of the box
// and of each of its buttons, one "name left top right bottom" a line.
// Exit codes: 0 done, 2 no box in time, 3 bad arguments, 4 text not
// written, 5 no such button, 6 box still open after the click, 7 a box with
// another caption came (its text written to the file all the same).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kTextControlId = 0xFFFF;

template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  for (DWORD waited = 0; !condition(); waited += 50) {
    if (waited >= timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

// Fails on a character that Windows-1252 cannot hold instead of writing a
// substitute that might happen to match the expected bytes.
bool WriteBoxText(HWND box, const wchar_t* path) {
  std::wstring text(GetWindowTextLengthW(GetDlgItem(box, kTextControlId)) + 1, L'\0');
  text.resize(GetDlgItemTextW(box, kTextControlId, text.data(), text.size()));
  BOOL lossy = FALSE;
  std::string bytes(text.size(), '\0');
  bytes.resize(WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.data(), text.size(),
                                   bytes.data(), bytes.size(), nullptr, &lossy));
  std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path, L"wb"), fclose);
  return !lossy && file && fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

bool WriteRectangles(HWND box, const wchar_t* path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path, L"w"), fclose);
  if (!file) return false;
  fprintf(file.get(), "screen 0 0 %d %d\n", GetSystemMetrics(SM_CXSCREEN),
          GetSystemMetrics(SM_CYSCREEN));
  const std::pair<const char*, HWND> windows[] = {{"box", box},
                                                  {"yes", GetDlgItem(box, IDYES)},
                                                  {"no", GetDlgItem(box, IDNO)},
                                                  {"ok", GetDlgItem(box, IDOK)}};
  for (const auto& [name, window] : windows) {
    RECT rect;
    if (window && GetWindowRect(window, &rect))
      fprintf(file.get(), "%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right,
              rect.bottom);
  }
  return true;
}

// The dialog class, so that a console or another window is never taken for
// a box. The program shows one box at a time, so any box is the one to read.
HWND VisibleBox() {
  HWND box = nullptr;
  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) && !IsWindowVisible(box)) {
  }
  return box;
}

bool HasCaption(HWND box, const wchar_t* caption) {
  std::wstring shown(GetWindowTextLengthW(box) + 1, L'\0');
  shown.resize(GetWindowTextW(box, shown.data(), shown.size()));
  return shown == caption;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::map<std::wstring, int> buttons = {
      {L"none", 0}, {L"yes", IDYES}, {L"no", IDNO}, {L"ok", IDOK}};
  const DWORD timeoutMs = argc == 5 || argc == 6 ? wcstoul(argv[4], nullptr, 10) : 0;
  if (timeoutMs == 0 || !buttons.contains(argv[3])) return 3;
  HWND box = nullptr;
  if (!WaitFor([&] { return (box = VisibleBox()) != nullptr; }, timeoutMs)) return 2;
  if (wcscmp(argv[2], L"-") != 0 && !WriteBoxText(box, argv[2])) return 4;
  if (argc == 6 && !WriteRectangles(box, argv[5])) return 4;
  if (!HasCaption(box, argv[1])) return 7;
  if (buttons.at(argv[3]) == 0) return 0;
  HWND control = GetDlgItem(box, buttons.at(argv[3]));
  if (control == nullptr) return 5;
  SendMessageW(control, BM_CLICK, 0, 0);
  return WaitFor([&] { return !IsWindow(box); }, timeoutMs) ? 0 : 6;
}
