// Answers one message box of the program under test, from inside the same
// Wine prefix: a box's text read through X (xdotool, window titles) loses
// bytes, while GetDlgItemTextW gets the static control's text whole.
//
//   robot <caption> <text file or -> <yes|no|ok|none> [time-out in ms]
//
// Waits for a visible dialog with that caption, writes its text to the file
// as Windows-1252 bytes, clicks the button and waits until the box is gone
// ("none" leaves it open, for a screenshot or an answer through X input).
// Exit codes: 0 done, 2 no box in time, 3 bad arguments, 4 text not
// written, 5 no such button, 6 box still open after the click.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

namespace {

constexpr int kTextControlId = 0xFFFF;
constexpr DWORD kPollMs = 50;

// The dialog class, so that a console or another window with that title is
// never taken for the box.
HWND WaitForBox(const wchar_t* caption, DWORD timeoutMs) {
  for (DWORD waited = 0;; waited += kPollMs) {
    HWND box = FindWindowW(L"#32770", caption);
    if (box != nullptr && IsWindowVisible(box)) return box;
    if (waited >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitUntilGone(HWND box, DWORD timeoutMs) {
  for (DWORD waited = 0; IsWindow(box); waited += kPollMs) {
    if (waited >= timeoutMs) return false;
    Sleep(kPollMs);
  }
  return true;
}

std::wstring BoxText(HWND box) {
  HWND control = GetDlgItem(box, kTextControlId);
  int length = control != nullptr ? GetWindowTextLengthW(control) : 0;
  std::wstring text(length + 1, L'\0');
  text.resize(GetDlgItemTextW(box, kTextControlId, text.data(), length + 1));
  return text;
}

// Fails on a character that Windows-1252 cannot hold instead of writing a
// substitute that might happen to match the expected bytes.
bool WriteAnsiText(const std::wstring& text, const wchar_t* path) {
  BOOL lossy = FALSE;
  int size = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()),
                                 nullptr, 0, nullptr, &lossy);
  std::string bytes(size, '\0');
  WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, text.data(), int(text.size()), bytes.data(),
                      size, nullptr, &lossy);
  if (lossy) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path, L"wb"), fclose);
  return file && fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

int ButtonId(const wchar_t* answer) {
  if (wcscmp(answer, L"yes") == 0) return IDYES;
  if (wcscmp(answer, L"no") == 0) return IDNO;
  if (wcscmp(answer, L"ok") == 0) return IDOK;
  if (wcscmp(answer, L"none") == 0) return 0;
  return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc > 5) return 3;
  int button = ButtonId(argv[3]);
  DWORD timeoutMs = argc == 5 ? wcstoul(argv[4], nullptr, 10) : 10000;
  if (button < 0 || timeoutMs == 0) return 3;

  HWND box = WaitForBox(argv[1], timeoutMs);
  if (box == nullptr) return 2;
  if (wcscmp(argv[2], L"-") != 0 && !WriteAnsiText(BoxText(box), argv[2])) return 4;
  if (button == 0) return 0;
  HWND control = GetDlgItem(box, button);
  if (control == nullptr) return 5;
  SendMessageW(control, BM_CLICK, 0, 0);
  return WaitUntilGone(box, timeoutMs) ? 0 : 6;
}
