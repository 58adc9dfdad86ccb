#include "Prompt.h"

#include <vector>

#include "Exceptions.h"
#include "Messages.h"
#include "Process.h"
#include "Template.h"
#include "Win32.h"

namespace {

// How long a text may be shown whole, how much of either end a shortened
// one keeps, and what stands around the note. In the box at the run's end
// each of up to ten names gets a line or so, the note within it.
struct Form {
  size_t limit;
  size_t partLength;
  const char* aroundNote;
};
constexpr Form kInPrompt = {kShownLengthLimit, kShownPartLength, "\r"};
constexpr Form kInList = {20, 8, " "};

const char kHex[] = "0123456789ABCDEF";

bool IsControl(char16_t unit) { return unit < 0x20 || unit == 0x7F; }

// \xNN for a control character, \uXXXX for one the code page lacks.
std::string Escaped(char16_t unit, char form, int digits) {
  std::string escaped = {'\\', form};
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) escaped += kHex[(unit >> shift) & 0xF];
  return escaped;
}

std::string ShownUnit(char byte) {
  const auto unit = static_cast<unsigned char>(byte);
  return IsControl(unit) ? Escaped(unit, 'x', 2) : std::string(1, byte);
}

std::string ShownUnit(WCHAR unit) {
  if (IsControl(unit)) return Escaped(unit, 'x', 2);
  char byte = 0;
  BOOL lossy = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &unit, 1, &byte, 1, nullptr, &lossy) != 1 ||
      lossy) {
    return Escaped(unit, 'u', 4);
  }
  return std::string(1, byte);
}

// The escaped and broken text, with where each of the value's characters
// starts in it (a line break belongs to the character after it), so that
// shortening never cuts an escape in two.
struct Pieces {
  std::string text;
  std::vector<size_t> starts;
};

template <typename Text>
Pieces EscapedAndBroken(const Text& value) {
  Pieces pieces;
  pieces.starts.reserve(value.size());
  size_t run = 0;
  for (const auto unit : value) {
    const std::string piece = ShownUnit(unit);
    pieces.starts.push_back(pieces.text.size());
    if (piece == " ") {
      run = 0;
    } else if ((run += piece.size()) > kShownRunWidth) {
      pieces.text += '\r';
      run = piece.size();
    }
    pieces.text += piece;
  }
  return pieces;
}

std::string Shortened(const Pieces& pieces, size_t fullLength, const Form& form) {
  const std::vector<size_t>& starts = pieces.starts;
  size_t headEnd = 0;
  for (size_t i = 1; i < starts.size() && starts[i] <= form.partLength; ++i) headEnd = starts[i];
  size_t tailStart = pieces.text.size();
  for (size_t i = starts.size(); i-- > 0 && pieces.text.size() - starts[i] <= form.partLength;)
    tailStart = starts[i];
  if (pieces.text[tailStart] == '\r') ++tailStart;
  const std::string marker =
      FillTemplate(LoadMessage(SShortenedText), {static_cast<uint32_t>(fullLength)});
  return pieces.text.substr(0, headEnd) + form.aroundNote + marker + form.aroundNote +
         pieces.text.substr(tailStart);
}

std::string PromptHead(const std::string& keyLine) {
  return LoadMessage(SPromptWarning) + "\r\r" + LoadMessage(SPromptKeyChanged) + "\r" + keyLine +
         "\r\r";
}

template <typename Text>
ShownText Shown(const Text& value, const Form& form) {
  Pieces pieces = EscapedAndBroken(value);
  if (pieces.text.size() <= form.limit) return {std::move(pieces.text), true};
  return {Shortened(pieces, value.size(), form), false};
}

}  // namespace

ShownText ShowText(std::string_view value) { return Shown(value, kInPrompt); }

std::string PassedOverText(const std::vector<PassedOver>& values) {
  std::string text;
  for (size_t i = 0; i < values.size() && i < kPassedOverShown; ++i) {
    const std::string name = Shown(values[i].name, kInList).text;
    text += (i ? "\r" : "") + values[i].keyLine + "\r" +
            FillTemplate(LoadMessage(values[i].reason), {name}) + ".";
  }
  if (values.size() > kPassedOverShown) {
    text += "\r" + FillTemplate(LoadMessage(SMorePassedOver),
                                {static_cast<uint32_t>(values.size() - kPassedOverShown)});
  }
  return text;
}

PromptText AddedPromptText(const std::string& keyLine, const std::string& name,
                           const std::string& data) {
  const ShownText shownName = ShowText(name), shownData = ShowText(data);
  return {PromptHead(keyLine) + LoadMessage(SPromptEntryAdded) + "\r" + shownName.text + "\r\r" +
              LoadMessage(SPromptWithValue) + "\r" + shownData.text + "\r\r\r" +
              LoadMessage(SPromptRemoveAgain),
          shownName.whole && shownData.whole};
}

std::string RemovedPromptText(const std::string& keyLine, const std::string& line) {
  return PromptHead(keyLine) + LoadMessage(SPromptEntryRemoved) + "\r\r" +
         LoadMessage(SPromptWithValue) + "\r" + ShowText(line).text + "\r\r\r" +
         LoadMessage(SPromptAddAgain);
}

bool AnsweredYes(const std::string& text, const std::string& subject) {
  if (!BoxesCanBeShown()) Raise(new ENoAnswer(SNotInteractive, {}));
  const int answer = MessageBoxA(nullptr, text.c_str(), LoadMessage(SPromptCaption).c_str(),
                                 MB_YESNO | MB_ICONEXCLAMATION);
  if (answer != IDYES && answer != IDNO) {
    Raise(new ENoAnswer(SNoAnswer, {ShowText(subject).text}));
  }
  return answer == IDYES;
}
