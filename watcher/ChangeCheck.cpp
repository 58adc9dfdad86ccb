#include "ChangeCheck.h"

#include "Messages.h"
#include "Registry.h"
#include "Snapshot.h"
#include "StringList.h"
#include "Win32.h"

namespace {

std::string PromptHead(const std::string& keyLine) {
  return LoadMessage(SPromptWarning) + "\r\r" + LoadMessage(SPromptKeyChanged) + "\r" + keyLine +
         "\r\r";
}

int Ask(const std::string& text) {
  return MessageBoxA(nullptr, text.c_str(), LoadMessage(SPromptCaption).c_str(),
                     MB_YESNO | MB_ICONEXCLAMATION);
}

// The first decimal name that no value of the key has.
std::string FreeValueName(TRegistry& registry) {
  for (uint32_t number = 0;; ++number) {
    std::string name = std::to_string(number);
    if (!registry.HasValue(name)) return name;
  }
}

void CheckAdded(const WatchPass& pass) {
  for (int32_t position = 0; position < pass.values.EntryCount(); ++position) {
    const std::string name = pass.values.EntryAt(position);
    if (pass.snapshot.FindEntry(pass.registry.ReadValueText(name)) >= 0) continue;
    const int answer = Ask(AddedPromptText(pass.keyLine, name, pass.registry.ReadValueText(name)));
    if (answer == IDYES) {
      pass.registry.RemoveValue(name);
    } else if (answer == IDNO) {
      const std::string data = pass.registry.ReadValueText(name);
      AppendSnapshotLine(pass.channel, data);
      // Kept in the list too, so that a rewrite later in this pass keeps it.
      if (!data.empty()) pass.snapshot.AppendEntry(data);
    }
  }
}

void CheckRemoved(const WatchPass& pass) {
  for (int32_t position = 0; position < pass.values.EntryCount(); ++position) {
    const std::string name = pass.values.EntryAt(position);
    pass.values.ReplaceEntry(position, pass.registry.ReadValueText(name));
  }
  int32_t position = 0;
  while (position < pass.snapshot.EntryCount()) {
    const std::string line = pass.snapshot.EntryAt(position);
    if (pass.values.FindEntry(line) >= 0) {
      ++position;
      continue;
    }
    const int answer = Ask(RemovedPromptText(pass.keyLine, line));
    if (answer == IDNO) {
      pass.snapshot.RemoveEntryAt(position);
      RewriteSnapshot(pass.rewritePath, pass.snapshot);
      continue;
    }
    if (answer == IDYES) pass.registry.WriteValueText(FreeValueName(pass.registry), line);
    ++position;
  }
}

}  // namespace

std::string AddedPromptText(const std::string& keyLine, const std::string& name,
                            const std::string& data) {
  return PromptHead(keyLine) + LoadMessage(SPromptEntryAdded) + "\r" + name + "\r\r" +
         LoadMessage(SPromptWithValue) + "\r" + data + "\r\r\r" + LoadMessage(SPromptRemoveAgain);
}

std::string RemovedPromptText(const std::string& keyLine, const std::string& line) {
  return PromptHead(keyLine) + LoadMessage(SPromptEntryRemoved) + "\r\r" +
         LoadMessage(SPromptWithValue) + "\r" + line + "\r\r\r" + LoadMessage(SPromptAddAgain);
}

// Both checks run in every pass: comparing only the counts would miss a
// value whose data was replaced, the commonest way to hijack an entry.
void RunChangeCheck(const WatchPass& pass) {
  CheckAdded(pass);
  CheckRemoved(pass);
}
