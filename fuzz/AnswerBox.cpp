// The message box of the in-process watch pass: linked in place of the
// terminal one, it takes its answers from the fuzzer's input.
#include "AnswerBox.h"

#include "Win32.h"

namespace {

std::string answers;
size_t nextAnswer = 0;

}  // namespace

void SetBoxAnswers(std::string text) {
  answers = std::move(text);
  nextAnswer = 0;
}

// Every box gets Yes or No, so that each pass ends with every change
// answered; once the input's answers are used up, No keeps what is there.
int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
  if (nextAnswer == answers.size()) return IDNO;
  return static_cast<unsigned char>(answers[nextAnswer++]) % 2 == 0 ? IDYES : IDNO;
}

// A station where the boxes above can always be answered.
HWINSTA GetProcessWindowStation() { return nullptr; }
BOOL GetUserObjectInformationA(HANDLE, int, PVOID info, DWORD, LPDWORD) {
  static_cast<USEROBJECTFLAGS*>(info)->dwFlags = WSF_VISIBLE;
  return TRUE;
}
