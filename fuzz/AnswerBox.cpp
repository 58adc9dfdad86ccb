// The message box of the in-process watch pass: linked in place of the
// terminal one, it takes its answers from the fuzzer's input.
#include "AnswerBox.h"

#include "Win32.h"

namespace {

std::string answers;
size_t nextAnswer = 0;
bool everyBoxAnswered = true;

}  // namespace

void SetBoxAnswers(std::string text) {
  answers = std::move(text);
  nextAnswer = 0;
  everyBoxAnswered = true;
}

bool EveryBoxAnswered() { return everyBoxAnswered; }

int MessageBoxA(HWND, LPCSTR, LPCSTR, UINT) {
  if (nextAnswer < answers.size()) {
    switch (static_cast<unsigned char>(answers[nextAnswer++]) % 3) {
      case 0:
        return IDYES;
      case 1:
        return IDNO;
    }
  }
  everyBoxAnswered = false;
  return 0;
}
