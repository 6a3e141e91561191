/* Test helper for the Wine scenarios: opens a file and keeps it open until it
   is killed. Without sharing, another process can then neither delete nor
   open it; with "shared", others may read and write it too, so that only an
   open that shares with nobody fails. Prints "held" once the file is open
   (or "failed N"), then waits. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && wcscmp(argv[2], L"shared") != 0)) {
    fprintf(stderr, "usage: tavo_hold_open PATH [shared]\n");
    return 2;
  }
  DWORD share = argc == 3 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, share, NULL, OPEN_EXISTING,
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
