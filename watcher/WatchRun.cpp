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

void WatchOnePass(WatchObjects& run, const PassPlan& plan, FirstUncarried& uncarried) {
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
  RunChangeCheck({plan.keyLine, *run.registry, *run.values, *run.snapshot, run.channel, rewritePath,
                  uncarried});
}

std::basic_string<WCHAR> Widened(const std::string& text) {
  std::basic_string<WCHAR> wide(text.size(), 0);
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                      static_cast<int>(wide.size()));
  return wide;
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
    MachineLock lock;
    WatchObjects run;
    run.values->ResizeStorage(kPresetSlots);
    run.snapshot->ResizeStorage(kPresetSlots);
    FirstUncarried uncarried;
    const char* uncarriedKeyLine = nullptr;
    for (const PassPlan& plan : kPasses) {
      WatchOnePass(run, plan, uncarried);
      if (uncarried.problem != 0 && !uncarriedKeyLine) uncarriedKeyLine = plan.keyLine;
    }
    if (uncarried.problem != 0) {
      Raise(new ERegistryException(
          PassedOverText({{uncarriedKeyLine, Widened(uncarried.name), uncarried.problem}})));
    }
  }
  ShutDownProcess();
}
