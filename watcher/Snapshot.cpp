#include "Snapshot.h"

#include "Exceptions.h"
#include "StringList.h"

void LoadSnapshot(TTextChannel& channel, const std::string& readPath, TStringList& snapshot) {
  BindPath(channel, readPath);
  try {
    OpenForReading(channel);
    CheckPendingResult();
  } catch (Exception* failure) {
    // Only a missing file is made anew: emptying one that is there but cannot
    // be read now (held open by a backup, say) would lose every accepted entry.
    const auto* error = dynamic_cast<EInOutError*>(failure);
    if (error == nullptr || error->ioCode != ERROR_FILE_NOT_FOUND) throw;
    ReleaseException(failure);
    CreateForWriting(channel);
    CheckPendingResult();
    CloseChannel(channel);
    CheckPendingResult();
    OpenForReading(channel);
    CheckPendingResult();
  }
  for (;;) {
    const bool atEnd = AtEndOfData(channel);
    CheckPendingResult();
    if (atEnd) break;
    std::string line = ReadLineText(channel);
    SkipToNextLine(channel);
    CheckPendingResult();
    if (!line.empty()) snapshot.AppendEntry(line);
  }
  CloseChannel(channel);
  CheckPendingResult();
}

// The channel writes the old content and the line to a new file that its
// close puts in the snapshot's place: after a failed write the close gives it
// up, so the snapshot gains the whole line or nothing.
void AppendSnapshotLine(TTextChannel& channel, const std::string& text) {
  OpenForAppending(channel);
  CheckPendingResult();
  WriteText(channel, text);
  WriteLineEnd(channel);
  const int32_t failure = TakePendingResult();
  CloseChannel(channel);
  if (failure != 0) SetPendingResult(failure);
  CheckPendingResult();
}

void RewriteSnapshot(const std::string& rewritePath, const TStringList& snapshot) {
  snapshot.WriteAllToFile(rewritePath);
}
