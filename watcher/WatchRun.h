#pragma once

// The program's whole behaviour: both watch passes, then the normal end of
// the process (it does not return).
[[noreturn]] void WatchRun();
