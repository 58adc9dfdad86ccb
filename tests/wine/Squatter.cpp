// Holds the name of KeyVigil's run-at-a-time lock, as any program without
// special rights may, for the Wine end-to-end run.
//
//   squatter <mutex|event> <name> <seconds>
//
// Makes a mutex it owns, or an event, of that name and keeps it for that
// long. Exit codes: 0 done, 3 bad arguments, 4 the object was not made.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) return 3;
  const bool mutex = std::strcmp(argv[1], "mutex") == 0;
  const HANDLE object = mutex ? CreateMutexA(nullptr, TRUE, argv[2])
                              : CreateEventA(nullptr, TRUE, FALSE, argv[2]);
  if (object == nullptr) return 4;
  Sleep(static_cast<DWORD>(std::atoi(argv[3])) * 1000);
  CloseHandle(object);
  return 0;
}
