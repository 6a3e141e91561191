/* Test helper for the Wine scenarios: opens a file without sharing and keeps
   it open until it is killed, so that another process cannot delete it.
   Prints "held" once the file is open (or "failed N"), then waits. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: tavo_hold_open PATH\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    printf("failed %lu\n", GetLastError());
    fflush(stdout);
    return 1;
  }
  printf("held\n");
  fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
