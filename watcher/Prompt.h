#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Win32.h"

// How a value's name or data is shown in a box. A value's own text must
// neither forge nor hide the question around it, nor push the box or its
// buttons off a 1024x768 screen (measured under Wine with its default
// font, the widest characters, and a name and data of the worst shape in
// the same box).
//
// Each control character (0x00-0x1F, 0x7F) is spelt out as \xNN. A run of
// more than kShownRunWidth characters without a blank is broken into lines
// (a box widens for a word it cannot break). A text whose shown form is
// longer than kShownLengthLimit shows its first and last kShownPartLength
// characters with "(N Zeichen, gekürzt)" between, N its full length.
constexpr size_t kShownRunWidth = 80;
constexpr size_t kShownLengthLimit = 280;
constexpr size_t kShownPartLength = 130;

struct ShownText {
  std::string text;
  bool whole = true;  // false when shortened
};
ShownText ShowText(std::string_view value);

// A value passed over: its key line, its name as the wide functions give it
// (zeros kept) and the message id of the reason.
struct PassedOver {
  std::string keyLine;
  std::basic_string<WCHAR> name;
  uint16_t reason;
};
// The text of the box at the run's end: at most kPassedOverShown entries,
// each the key line, then the reason naming the value (a character the ANSI
// code page cannot show spelt out as \uXXXX); then how many more.
constexpr size_t kPassedOverShown = 10;
std::string PassedOverText(const std::vector<PassedOver>& values);

// The change prompts; shownWhole is false when the name or data had to be
// shortened.
struct PromptText {
  std::string text;
  bool shownWhole = true;
};
PromptText AddedPromptText(const std::string& keyLine, const std::string& name,
                           const std::string& data);
std::string RemovedPromptText(const std::string& keyLine, const std::string& line);

// Shows a Yes/No change prompt and tells whether the answer was Yes. Any
// result but Yes or No ends the run (ENoAnswer naming the subject), and so
// does a window station where no box can be shown, before one is tried.
bool AnsweredYes(const std::string& text, const std::string& subject);
