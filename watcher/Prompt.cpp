#include "Prompt.h"

#include <vector>

#include "Exceptions.h"
#include "Messages.h"
#include "Process.h"
#include "Template.h"

namespace {

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The escaped and broken text, with where each of the value's characters
// starts in it (a line break belongs to the character after it), so that
// shortening never cuts an escape in two.
struct Pieces {
  std::string text;
  std::vector<size_t> starts;
};

Pieces EscapedAndBroken(std::string_view value) {
  static const char kHex[] = "0123456789ABCDEF";
  Pieces pieces;
  pieces.starts.reserve(value.size());
  size_t run = 0;
  for (const unsigned char byte : value) {
    const size_t width = IsControl(byte) ? 4 : 1;
    pieces.starts.push_back(pieces.text.size());
    if (byte == ' ') {
      run = 0;
    } else if ((run += width) > kShownRunWidth) {
      pieces.text += '\r';
      run = width;
    }
    if (width == 1) {
      pieces.text += static_cast<char>(byte);
    } else {
      pieces.text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return pieces;
}

std::string Shortened(const Pieces& pieces, size_t fullLength) {
  const std::vector<size_t>& starts = pieces.starts;
  size_t headEnd = 0;
  for (size_t i = 1; i < starts.size() && starts[i] <= kShownPartLength; ++i) headEnd = starts[i];
  size_t tailStart = pieces.text.size();
  for (size_t i = starts.size(); i-- > 0 && pieces.text.size() - starts[i] <= kShownPartLength;)
    tailStart = starts[i];
  if (pieces.text[tailStart] == '\r') ++tailStart;
  const std::string marker =
      FillTemplate(LoadMessage(SShortenedText), {static_cast<uint32_t>(fullLength)});
  return pieces.text.substr(0, headEnd) + "\r" + marker + "\r" + pieces.text.substr(tailStart);
}

std::string PromptHead(const std::string& keyLine) {
  return LoadMessage(SPromptWarning) + "\r\r" + LoadMessage(SPromptKeyChanged) + "\r" + keyLine +
         "\r\r";
}

}  // namespace

ShownText ShowText(std::string_view value) {
  Pieces pieces = EscapedAndBroken(value);
  if (pieces.text.size() <= kShownLengthLimit) return {std::move(pieces.text), true};
  return {Shortened(pieces, value.size()), false};
}

PromptText AddedPromptText(const std::string& keyLine, const std::string& name,
                           const std::string& data) {
  const ShownText shownName = ShowText(name), shownData = ShowText(data);
  return {PromptHead(keyLine) + LoadMessage(SPromptEntryAdded) + "\r" + shownName.text + "\r\r" +
              LoadMessage(SPromptWithValue) + "\r" + shownData.text + "\r\r\r" +
              LoadMessage(SPromptRemoveAgain),
          shownName.whole && shownData.whole};
}

PromptText RemovedPromptText(const std::string& keyLine, const std::string& line) {
  const ShownText shownLine = ShowText(line);
  return {PromptHead(keyLine) + LoadMessage(SPromptEntryRemoved) + "\r\r" +
              LoadMessage(SPromptWithValue) + "\r" + shownLine.text + "\r\r\r" +
              LoadMessage(SPromptAddAgain),
          shownLine.whole};
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
