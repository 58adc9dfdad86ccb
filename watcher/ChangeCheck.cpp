#include "ChangeCheck.h"

#include "Exceptions.h"
#include "MatchIndex.h"
#include "Messages.h"
#include "Prompt.h"
#include "Registry.h"
#include "Snapshot.h"
#include "StringList.h"
#include "Win32.h"

namespace {

// The first decimal name that no value of the key has. A name that cannot
// be told free is not taken: writing it might replace another value.
std::string FreeValueName(TRegistry& registry) {
  for (uint32_t number = 0;; ++number) {
    std::string name = std::to_string(number);
    const Presence presence = registry.HasValue(name);
    if (presence == Presence::Unknown) Raise(new ERegistryException(SRegGetDataFailed, {name}));
    if (presence == Presence::Absent) return name;
  }
}

// A Yes that did not happen must not pass for one; a value that vanished by
// itself meanwhile is gone all the same.
void RemoveAsked(TRegistry& registry, const std::string& name) {
  if (!registry.RemoveValue(name) && registry.HasValue(name) != Presence::Absent) {
    Raise(new ERegistryException(SRegDeleteValueFailed, {ShowText(name).text}));
  }
}

// Into the native view, making the key when it was deleted: the user asked
// for the line back.
void WriteBack(const WatchPass& pass, const std::string& line) {
  const WatchedView& native = pass.views.front();
  native.registry->LeaveKey();
  if (!native.registry->EnterKey(pass.watchedKey, true)) {
    Raise(new ERegistryException(SRegOpenKeyFailed, {native.keyLine}));
  }
  native.registry->WriteValueText(FreeValueName(*native.registry), line);
}

// A line of the snapshot ends at a CR and the file at a 0x1A, and an empty
// line is no entry: such data, stored, would come back as something else.
bool SnapshotCanHold(const std::string& data) {
  return !data.empty() && data.find_first_of("\r\x1A") == std::string::npos;
}

// What the user accepts is what the prompt showed: the text of the one
// listing of the pass, even when another program changes the value while
// the prompt is open. A No accepts only what the user saw whole and what
// the snapshot can hold; anything else is asked about again in the next run.
void CheckAdded(const WatchPass& pass) {
  MatchIndex accepted(pass.snapshot);
  for (const WatchedView& view : pass.views) {
    for (const RegistryValue& value : view.values) {
      if (!value.Carried()) {
        pass.passedOver.push_back({view.keyLine, value.wideName, value.problem});
        continue;
      }
      if (accepted.HasMatch(value.text)) continue;
      const PromptText prompt = AddedPromptText(view.keyLine, value.name, value.text);
      if (AnsweredYes(prompt.text, value.name)) {
        RemoveAsked(*view.registry, value.name);
      } else if (prompt.shownWhole && SnapshotCanHold(value.text)) {
        AppendSnapshotLine(pass.channel, value.text);
        // Kept in the list too, so that a rewrite later in this pass keeps it.
        pass.snapshot.AppendEntry(value.text);
      }
    }
  }
}

// A line is vanished only when no value of any view holds it. The values'
// texts go over into one list, each freed as it is copied: nothing later
// needs them, and two copies of a large key would double the run's memory.
void CheckRemoved(const WatchPass& pass) {
  TStringList texts;
  for (WatchedView& view : pass.views) {
    for (RegistryValue& value : view.values) {
      if (value.Carried()) texts.AppendEntry(value.text);
      std::string().swap(value.text);
    }
  }
  MatchIndex present(texts);
  int32_t position = 0;
  while (position < pass.snapshot.EntryCount()) {
    const std::string line = pass.snapshot.EntryAt(position);
    if (present.HasMatch(line)) {
      ++position;
      continue;
    }
    if (!AnsweredYes(RemovedPromptText(pass.views.front().keyLine, line), line)) {
      pass.snapshot.RemoveEntryAt(position);
      RewriteSnapshot(pass.rewritePath, pass.snapshot);
      continue;
    }
    WriteBack(pass, line);
    ++position;
  }
}

}  // namespace

// Both checks run in every pass: comparing only the counts would miss a
// value whose data was replaced, the commonest way to hijack an entry.
void RunChangeCheck(const WatchPass& pass) {
  CheckAdded(pass);
  CheckRemoved(pass);
}
