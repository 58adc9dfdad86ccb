// One whole watch pass over a fuzzed hive and snapshot, each box answered
// from the input. Whatever is answered, the pass ends or fails with one of
// the program's own exceptions. When it ends and every box got Yes or No,
// every value left in the key is accepted: its text is a line of the
// snapshot file.
#include <cstdlib>
#include <vector>

#include "AnswerBox.h"
#include "ChangeCheck.h"
#include "Exceptions.h"
#include "FuzzInput.h"
#include "FuzzMachine.h"
#include "Registry.h"
#include "Snapshot.h"
#include "StringList.h"
#include "WatchRun.h"

namespace {

const char kKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kKeyLine[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kSnapshotPath = "C:\\KeyVigil.dat";

// The watched key's values and the snapshot, read as a watch pass reads them.
struct PassInput {
  TRegistry registry;
  TStringList values;
  TStringList snapshot;
  TTextChannel channel{};

  PassInput() {
    EnterWatchedKey(registry, kKeyPath, kKeyLine);
    registry.ListValueNames(values);
    LoadSnapshot(channel, kSnapshotPath, snapshot);
  }
};

// A line appended to this file comes back as that line: nothing in it cuts
// or hides what follows.
bool TakesAppendedLines(const std::string& file) {
  return file.find('\x1A') == std::string::npos &&
         (file.empty() || (file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0));
}

// The pass opened the key, so failing to open it now raises, and the
// uncaught exception ends the fuzzer as a crash.
void CheckValuesAccepted() {
  PassInput now;
  std::vector<std::string> texts;
  for (int32_t position = 0; position < now.values.EntryCount(); ++position) {
    texts.push_back(now.registry.ReadValueText(now.values.EntryAt(position)));
    // An end mark in accepted data hides every later line of the file.
    if (texts.back().find('\x1A') != std::string::npos) return;
  }
  for (const std::string& text : texts) {
    // Empty data and data with a line break cannot come back as one line.
    if (text.empty() || text.find('\r') != std::string::npos) continue;
    if (now.snapshot.FindEntry(text) < 0) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> pieces = FuzzPieces(data, size, 3);
  WriteMachineFile("HKLM.reg", pieces[0]);
  WriteMachineFile("drive_c/KeyVigil.dat", pieces[1]);
  SetBoxAnswers(pieces[2]);
  bool ended = false;
  try {
    PassInput pass;
    RunChangeCheck(
        {kKeyLine, pass.registry, pass.values, pass.snapshot, pass.channel, kSnapshotPath});
    ended = true;
  } catch (Exception* failure) {
    ReleaseException(failure);
  }
  if (ended && EveryBoxAnswered() && TakesAppendedLines(pieces[1])) CheckValuesAccepted();
  return 0;
}
