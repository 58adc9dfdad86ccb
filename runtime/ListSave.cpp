#include "Streams.h"
#include "StringList.h"

std::string TStrings::JoinedText() const {
  const int32_t count = EntryCount();
  size_t size = 0;
  for (int32_t position = 0; position < count; ++position) size += EntryAt(position).size() + 2;
  std::string text;
  text.reserve(size);
  for (int32_t position = 0; position < count; ++position) {
    text += EntryAt(position);
    text += "\r\n";
  }
  return text;
}

void TStrings::WriteAllToStream(TStream& stream) const {
  const std::string text = JoinedText();
  stream.WriteExactly(text.data(), static_cast<int32_t>(text.size()));
}

void TStrings::WriteAllToFile(const std::string& path) const {
  TFileStream stream(path, StreamModeCreate);
  WriteAllToStream(stream);
  stream.Commit();
}
