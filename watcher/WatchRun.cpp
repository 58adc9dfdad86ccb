#include "WatchRun.h"

#include <memory>

#include "ChangeCheck.h"
#include "CommandLine.h"
#include "Exceptions.h"
#include "MessageIds.h"
#include "Process.h"
#include "Registry.h"
#include "Snapshot.h"
#include "StringList.h"

namespace {

struct PassPlan {
  const char* watchedKey;
  const char* keyLine;
  const char* defaultReadPath;
  const char* defaultRewritePath;
  const char* argumentSuffix;
};

const PassPlan kPasses[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "C:\\KeyVigil.dat",
     "C:\\keyvigil.dat", ""},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "C:\\KeyVigil.dat2", "C:\\keyvigil.dat2", "2"},
};

constexpr int32_t kPresetSlots = 200;

// The run's objects, freed in the order they were made, also when a failure
// ends the run early.
struct WatchObjects {
  std::unique_ptr<TRegistry> registry = std::make_unique<TRegistry>();
  std::unique_ptr<TStringList> values = std::make_unique<TStringList>();
  std::unique_ptr<TStringList> snapshot = std::make_unique<TStringList>();
  TTextChannel channel{};

  ~WatchObjects() {
    registry.reset();
    values.reset();
    snapshot.reset();
  }
};

void WatchOnePass(WatchObjects& run, const PassPlan& plan) {
  run.values->RemoveAllEntries();
  run.snapshot->RemoveAllEntries();
  EnterWatchedKey(*run.registry, plan.watchedKey, plan.keyLine);
  run.registry->ListValueNames(*run.values);

  std::string readPath = plan.defaultReadPath;
  std::string rewritePath = plan.defaultRewritePath;
  if (ArgumentCount() == 1) {
    readPath = ArgumentText(1) + plan.argumentSuffix;
    rewritePath = readPath;
  }
  LoadSnapshot(run.channel, readPath, *run.snapshot);
  RunChangeCheck(
      {plan.keyLine, *run.registry, *run.values, *run.snapshot, run.channel, rewritePath});
}

}  // namespace

// A key that exists but cannot be opened must not look emptied, or every
// accepted entry would be reported as deleted.
void EnterWatchedKey(TRegistry& registry, const char* watchedKey, const char* keyLine) {
  registry.SelectRoot(HKEY_LOCAL_MACHINE);
  registry.LeaveKey();
  if (!registry.EnterKey(watchedKey, false) && registry.LastOpenResult() != ERROR_FILE_NOT_FOUND) {
    Raise(new ERegistryException(SRegOpenKeyFailed, {keyLine}));
  }
}

void WatchRun() {
  {
    WatchObjects run;
    run.values->ResizeStorage(kPresetSlots);
    run.snapshot->ResizeStorage(kPresetSlots);
    for (const PassPlan& plan : kPasses) WatchOnePass(run, plan);
  }
  ShutDownProcess();
}
