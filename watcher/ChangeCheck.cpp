#include "ChangeCheck.h"

#include "Exceptions.h"
#include "MatchIndex.h"
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

std::string AddedPromptText(const std::string& keyLine, const std::string& name,
                            const std::string& data) {
  return PromptHead(keyLine) + LoadMessage(SPromptEntryAdded) + "\r" + name + "\r\r" +
         LoadMessage(SPromptWithValue) + "\r" + data + "\r\r\r" + LoadMessage(SPromptRemoveAgain);
}

std::string RemovedPromptText(const std::string& keyLine, const std::string& line) {
  return PromptHead(keyLine) + LoadMessage(SPromptEntryRemoved) + "\r\r" +
         LoadMessage(SPromptWithValue) + "\r" + line + "\r\r\r" + LoadMessage(SPromptAddAgain);
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

// A Yes that did not happen must not pass for one; a value that vanished by
// itself meanwhile is gone all the same.
void RemoveAsked(TRegistry& registry, const std::string& name) {
  if (!registry.RemoveValue(name) && registry.HasValue(name)) {
    Raise(new ERegistryException(SRegDeleteValueFailed, {name}));
  }
}

// Each value's data is read once: what the user accepts is what the prompt
// showed, even when another program changes the value while it is open.
void CheckAdded(const WatchPass& pass) {
  MatchIndex accepted(pass.snapshot);
  for (int32_t position = 0; position < pass.values.EntryCount(); ++position) {
    const std::string name = pass.values.EntryAt(position);
    const ValueText value = pass.registry.ReadValueText(name);
    if (!value.Carried()) {
      pass.uncarried.Note(value.problem, name);
      continue;
    }
    if (accepted.HasMatch(value.text)) continue;
    const int answer = Ask(AddedPromptText(pass.keyLine, name, value.text));
    if (answer == IDYES) {
      RemoveAsked(pass.registry, name);
    } else if (answer == IDNO) {
      AppendSnapshotLine(pass.channel, value.text);
      // Kept in the list too, so that a rewrite later in this pass keeps it.
      if (!value.text.empty()) pass.snapshot.AppendEntry(value.text);
    }
  }
}

// A value passed over holds the empty text, which no snapshot line is.
void CheckRemoved(const WatchPass& pass) {
  for (int32_t position = 0; position < pass.values.EntryCount(); ++position) {
    const std::string name = pass.values.EntryAt(position);
    const ValueText value = pass.registry.ReadValueText(name);
    if (!value.Carried()) pass.uncarried.Note(value.problem, name);
    pass.values.ReplaceEntry(position, value.text);
  }
  MatchIndex present(pass.values);
  int32_t position = 0;
  while (position < pass.snapshot.EntryCount()) {
    const std::string line = pass.snapshot.EntryAt(position);
    if (present.HasMatch(line)) {
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

// Both checks run in every pass: comparing only the counts would miss a
// value whose data was replaced, the commonest way to hijack an entry.
void RunChangeCheck(const WatchPass& pass) {
  for (const std::string& name : pass.registry.UncarriedNames()) {
    pass.uncarried.Note(SValueNotRepresentable, name);
  }
  CheckAdded(pass);
  CheckRemoved(pass);
}
