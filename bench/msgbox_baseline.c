/* The smallest GUI program that shows one message box: the memory a Wine
 * process needs for that alone, to set beside the tool's peak. Built by
 * bench/wine_bench.py with x86_64-w64-mingw32-gcc -O2 -static -mwindows. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;
  /* "TAVO" in the title: the harness finds boxes by that word. */
  MessageBoxA(NULL, "baseline", "TAVO bench baseline", MB_OK);
  return 0;
}
