#include "Process.h"
#include "WatchRun.h"

int main() { RunProgram(WatchRun); }
