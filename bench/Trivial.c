/* The baseline of the Windows timings: a program that imports the same four
   DLLs as KeyVigil.exe (msvcrt through the C runtime), starts and ends. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  RegCloseKey(NULL);
  return GetSystemMetrics(SM_CXSCREEN) < 0;
}
