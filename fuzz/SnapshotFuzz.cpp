// Any snapshot file loads through the real channel, and what a rewrite of
// the loaded list writes loads back as the same list.
#include <cstdlib>

#include "Exceptions.h"
#include "FuzzMachine.h"
#include "Snapshot.h"
#include "StringList.h"

namespace {

bool Load(TStringList& lines) {
  TTextChannel channel{};
  try {
    LoadSnapshot(channel, "C:\\fuzz.dat", lines);
    return true;
  } catch (Exception* failure) {
    ReleaseException(failure);
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteMachineFile("drive_c/fuzz.dat", std::string(reinterpret_cast<const char*>(data), size));
  TStringList first;
  if (!Load(first)) return 0;
  for (int32_t position = 0; position < first.EntryCount(); ++position) {
    if (first.EntryAt(position).empty()) abort();
  }
  RewriteSnapshot("C:\\fuzz.dat", first);
  TStringList second;
  if (!Load(second) || second.EntryCount() != first.EntryCount()) abort();
  for (int32_t position = 0; position < first.EntryCount(); ++position) {
    if (second.EntryAt(position) != first.EntryAt(position)) abort();
  }
  return 0;
}
