#include "WatchRun.h"

#include <memory>

#include "ChangeCheck.h"
#include "CommandLine.h"
#include "Exceptions.h"
#include "MessageIds.h"
#include "Process.h"
#include "Prompt.h"
#include "Registry.h"
#include "Snapshot.h"
#include "StringList.h"

namespace {

struct PassPlan {
  const char* watchedKey;
  const char* keyLine;
  const char* wowKeyLine;  // the 32-bit view's on 64-bit Windows
  const char* defaultReadPath;
  const char* defaultRewritePath;
  const char* argumentSuffix;
};

const PassPlan kPasses[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
     "C:\\KeyVigil.dat", "C:\\keyvigil.dat", ""},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "C:\\KeyVigil.dat2", "C:\\keyvigil.dat2", "2"},
};

constexpr int32_t kPresetSlots = 200;

// One run at a time on the machine: two runs from stale lists would erase
// each other's accepted lines and restore two values under one free number.
// The mutex lives in the global namespace, so that it holds across logon
// sessions; one whose holder died unreleased counts as free. Any program may
// make an object of that name first, so the run never waits in silence: a
// lock not had within a minute, or not to be had at all, ends it with a box
// that says so.
class MachineLock {
 public:
  MachineLock() : mutex(CreateMutexA(nullptr, FALSE, kLockName)) {
    const DWORD waited = mutex == nullptr ? WAIT_FAILED : WaitForSingleObject(mutex, kWaitMs);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return;
    if (mutex != nullptr) CloseHandle(mutex);
    Raise(new EInOutError(SLockHeld, {kLockName}));
  }
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;
  ~MachineLock() {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }

 private:
  static constexpr char kLockName[] = "Global\\KeyVigil";
  static constexpr DWORD kWaitMs = 60000;

  HANDLE mutex;
};

// The run's objects, freed in the order they were made, also when a failure
// ends the run early.
struct WatchObjects {
  std::vector<WatchedView> views;
  std::unique_ptr<TStringList> snapshot = std::make_unique<TStringList>();
  TTextChannel channel{};

  ~WatchObjects() {
    views.clear();
    snapshot.reset();
  }
};

void ListWatchedView(WatchedView& view, const char* watchedKey) {
  EnterWatchedKey(*view.registry, watchedKey, view.keyLine);
  const ListResult listed = view.registry->ListValues(view.values);
  if (listed == ListResult::Failed) {
    Raise(new ERegistryException(SRegGetDataFailed, {view.keyLine}));
  }
  if (listed == ListResult::KeptChanging) {
    Raise(new ERegistryException(SRegKeyKeepsChanging, {view.keyLine}));
  }
}

void WatchOnePass(WatchObjects& run, const PassPlan& plan, std::vector<PassedOver>& passedOver) {
  run.snapshot->RemoveAllEntries();
  run.views.clear();
  for (const REGSAM view : RegistryViews()) {
    const char* keyLine = view == KEY_WOW64_32KEY ? plan.wowKeyLine : plan.keyLine;
    run.views.push_back({keyLine, std::make_unique<TRegistry>(), {}});
    run.views.back().registry->SelectView(view);
    ListWatchedView(run.views.back(), plan.watchedKey);
  }

  std::string readPath = plan.defaultReadPath;
  std::string rewritePath = plan.defaultRewritePath;
  if (ArgumentCount() == 1) {
    readPath = ArgumentText(1) + plan.argumentSuffix;
    rewritePath = readPath;
  }
  LoadSnapshot(run.channel, readPath, *run.snapshot);
  RunChangeCheck({plan.watchedKey, run.views, *run.snapshot, run.channel, rewritePath, passedOver});
}

}  // namespace

// A key that exists but cannot be opened must not look emptied, or every
// accepted entry would be reported as deleted.
void EnterWatchedKey(TRegistry& registry, const char* watchedKey, const std::string& keyLine) {
  registry.SelectRoot(HKEY_LOCAL_MACHINE);
  registry.LeaveKey();
  if (!registry.EnterKey(watchedKey, false) && registry.LastOpenResult() != ERROR_FILE_NOT_FOUND) {
    Raise(new ERegistryException(SRegOpenKeyFailed, {keyLine}));
  }
}

void WatchRun() {
  {
    MachineLock lock;
    WatchObjects run;
    run.snapshot->ResizeStorage(kPresetSlots);
    std::vector<PassedOver> passedOver;
    for (const PassPlan& plan : kPasses) WatchOnePass(run, plan, passedOver);
    if (!passedOver.empty()) Raise(new ERegistryException(PassedOverText(passedOver)));
  }
  ShutDownProcess();
}
