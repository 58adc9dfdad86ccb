// Any snapshot file loads through the real channel; a line appended to it
// loads back as a line of its own, merged with none; and what a rewrite of
// the loaded list writes loads back as the same list.
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzMachine.h"
#include "Snapshot.h"
#include "StringList.h"

namespace {

const char kPath[] = "C:\\fuzz.dat";
const char kAppended[] = "C:\\appended.exe";

bool Load(TTextChannel& channel, TStringList& lines) {
  try {
    LoadSnapshot(channel, kPath, lines);
    return true;
  } catch (Exception* failure) {
    ReleaseException(failure);
    return false;
  }
}

void ExpectSame(const TStringList& expected, TStringList& loaded, TTextChannel& channel) {
  if (!Load(channel, loaded) || loaded.EntryCount() != expected.EntryCount()) abort();
  for (int32_t position = 0; position < expected.EntryCount(); ++position) {
    if (loaded.EntryAt(position) != expected.EntryAt(position)) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  WriteMachineFile("drive_c/fuzz.dat", input);
  TTextChannel channel{};
  TStringList first;
  if (!Load(channel, first)) return 0;
  for (int32_t position = 0; position < first.EntryCount(); ++position) {
    if (first.EntryAt(position).empty()) abort();
  }
  AppendSnapshotLine(channel, kAppended);
  // An end mark before the last 128 bytes stays, and hides what follows it.
  const size_t mark = input.find('\x1A');
  if (mark == std::string::npos || mark + 128 >= size) first.AppendEntry(kAppended);
  TStringList appended;
  ExpectSame(first, appended, channel);
  RewriteSnapshot(kPath, first);
  TStringList rewritten;
  ExpectSame(first, rewritten, channel);
  return 0;
}
