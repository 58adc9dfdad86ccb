// One whole watch pass over a fuzzed hive and snapshot, each box answered
// from the input. Only a hive that cannot be read may keep the pass from
// starting, and nothing from ending. A pass that ends leaves the snapshot
// file and the key in agreement: each value KeyVigil carries, showed whole
// and can keep is a line, each line a value.
// Anything else ends the target as a crash, in the fuzzer and in the replays
// alike.
#include <cstdlib>

#include "AnswerBox.h"
#include "ChangeCheck.h"
#include "Exceptions.h"
#include "FuzzInput.h"
#include "FuzzMachine.h"
#include "Prompt.h"
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

// A zero byte ends a value's data, and a byte beyond ASCII may not come back
// through the wide functions: such a line may be restored and still differ.
bool MayBeStoredAsIs(const std::string& line) {
  for (const char c : line) {
    if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Both ways a pass ends agreeing with the key: every value KeyVigil carries
// is a line of the snapshot file (when appends to the file show), and every
// line of the file is the data of a value.
void CheckSnapshotMatchesKey(bool appendsShow) {
  PassInput now;
  if (!now.Open()) abort();
  TStringList data;
  for (const RegistryValue& value : now.views.front().values) {
    if (value.text.empty()) continue;
    data.AppendEntry(value.text);
    // A line break or an end mark cannot come back as one line, and what a
    // prompt showed shortened is never accepted.
    if (value.text.find_first_of("\r\x1A") != std::string::npos) continue;
    if (!AddedPromptText(kKeyLine, value.name, value.text).shownWhole) continue;
    if (appendsShow && now.snapshot.FindEntry(value.text) < 0) abort();
  }
  for (int32_t position = 0; position < now.snapshot.EntryCount(); ++position) {
    const std::string line = now.snapshot.EntryAt(position);
    if (MayBeStoredAsIs(line) && data.FindEntry(line) < 0) abort();
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
  CheckSnapshotMatchesKey(TakesAppendedLines(pieces[1]));
  return 0;
}
