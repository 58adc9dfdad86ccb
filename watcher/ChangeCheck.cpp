#include "ChangeCheck.h"

#include "Exceptions.h"
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
    Raise(new ERegistryException(SRegDeleteValueFailed, {name}));
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

// What the user accepts is what the prompt showed: the text of the one
// listing of the pass, even when another program changes the value while
// the prompt is open.
void CheckAdded(const WatchPass& pass) {
  for (const WatchedView& view : pass.views) {
    for (const RegistryValue& value : view.values) {
      if (!value.Carried()) {
        pass.passedOver.push_back({view.keyLine, value.wideName, value.problem});
        continue;
      }
      if (pass.snapshot.FindEntry(value.text) >= 0) continue;
      const int answer = Ask(AddedPromptText(view.keyLine, value.name, value.text));
      if (answer == IDYES) {
        RemoveAsked(*view.registry, value.name);
      } else if (answer == IDNO) {
        AppendSnapshotLine(pass.channel, value.text);
        // Kept in the list too, so that a rewrite later in this pass keeps it.
        if (!value.text.empty()) pass.snapshot.AppendEntry(value.text);
      }
    }
  }
}

// A line is vanished only when no value of any view holds it.
void CheckRemoved(const WatchPass& pass) {
  TStringList texts;
  for (const WatchedView& view : pass.views) {
    for (const RegistryValue& value : view.values) {
      if (value.Carried()) texts.AppendEntry(value.text);
    }
  }
  int32_t position = 0;
  while (position < pass.snapshot.EntryCount()) {
    const std::string line = pass.snapshot.EntryAt(position);
    if (texts.FindEntry(line) >= 0) {
      ++position;
      continue;
    }
    const int answer = Ask(RemovedPromptText(pass.views.front().keyLine, line));
    if (answer == IDNO) {
      pass.snapshot.RemoveEntryAt(position);
      RewriteSnapshot(pass.rewritePath, pass.snapshot);
      continue;
    }
    if (answer == IDYES) WriteBack(pass, line);
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
