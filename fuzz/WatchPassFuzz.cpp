// One whole watch pass over a fuzzed hive and snapshot, each box answered
// from the input. Only a hive that cannot be read may keep the pass from
// starting, and nothing from ending. A pass leaves every value of the key that
// KeyVigil carries accepted: its text is a line of the snapshot file.
// Anything else ends the target as a crash, in the fuzzer and in the replays
// alike.
#include <cstdlib>

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

// The watched key's values in the native view and the snapshot, read as a
// watch pass reads them.
struct PassInput {
  std::vector<WatchedView> views;
  TStringList snapshot;
  TTextChannel channel{};

  // False for a hive that cannot be read, the one reason a pass may not start.
  bool Open() {
    views.push_back({kKeyLine, std::make_unique<TRegistry>(), {}});
    TRegistry& registry = *views.front().registry;
    registry.SelectView(KEY_WOW64_64KEY);
    try {
      EnterWatchedKey(registry, kKeyPath, kKeyLine);
    } catch (Exception* failure) {
      ReleaseException(failure);
      return false;
    }
    if (registry.ListValues(views.front().values) != ListResult::Listed) return false;
    LoadSnapshot(channel, kSnapshotPath, snapshot);
    return true;
  }
};

// A line appended to this file comes back as that line: no end mark in it
// hides what follows (an append starts a line of its own after any text).
bool TakesAppendedLines(const std::string& file) { return file.find('\x1A') == std::string::npos; }

void CheckValuesAccepted() {
  PassInput now;
  if (!now.Open()) abort();
  const std::vector<RegistryValue>& values = now.views.front().values;
  // An end mark in accepted data hides every later line of the file.
  for (const RegistryValue& value : values) {
    if (value.text.find('\x1A') != std::string::npos) return;
  }
  for (const RegistryValue& value : values) {
    // Empty data and data with a line break cannot come back as one line.
    if (value.text.empty() || value.text.find('\r') != std::string::npos) continue;
    if (now.snapshot.FindEntry(value.text) < 0) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> pieces = FuzzPieces(data, size, 3);
  WriteMachineFile("HKLM.reg", pieces[0]);
  WriteMachineFile("drive_c/KeyVigil.dat", pieces[1]);
  SetBoxAnswers(pieces[2]);
  PassInput pass;
  if (!pass.Open()) return 0;
  std::vector<PassedOver> passedOver;
  RunChangeCheck({kKeyPath, pass.views, pass.snapshot, pass.channel, kSnapshotPath, passedOver});
  if (TakesAppendedLines(pieces[1])) CheckValuesAccepted();
  return 0;
}
