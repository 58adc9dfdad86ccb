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
    Raise(new ERegistryException(SRegDeleteValueFailed, {ShowText(name).text}));
  }
}

// A line of the snapshot ends at a CR and the file at a 0x1A, and an empty
// line is no entry: such data, stored, would come back as something else.
bool SnapshotCanHold(const std::string& data) {
  return !data.empty() && data.find_first_of("\r\x1A") == std::string::npos;
}

// A No accepts only what the user saw whole and what the snapshot can
// hold; anything else is asked about again in the next run.
//
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
    const PromptText prompt = AddedPromptText(pass.keyLine, name, value.text);
    if (AnsweredYes(prompt.text, name)) {
      RemoveAsked(pass.registry, name);
    } else if (prompt.shownWhole && SnapshotCanHold(value.text)) {
      AppendSnapshotLine(pass.channel, value.text);
      // Kept in the list too, so that a rewrite later in this pass keeps it.
      pass.snapshot.AppendEntry(value.text);
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
    if (!AnsweredYes(RemovedPromptText(pass.keyLine, line), line)) {
      pass.snapshot.RemoveEntryAt(position);
      RewriteSnapshot(pass.rewritePath, pass.snapshot);
      continue;
    }
    pass.registry.WriteValueText(FreeValueName(pass.registry), line);
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
