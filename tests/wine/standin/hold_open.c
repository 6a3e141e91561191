/* Test helper for the Wine scenarios: opens a file and keeps it open until it
   is killed. Without sharing, another process can then neither delete nor
   open it; with "shared", others may read and write it too, so that only an
   open that shares with nobody fails; "reading" and "writing" share so too
   but only read or only write, so that an open that lets others read (or
   write) succeeds. Prints "held" once the file is open (or "failed N"), then
   waits. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
  static const wchar_t* const kModes[] = {L"shared", L"reading", L"writing"};
  static const DWORD kAccess[] = {GENERIC_READ | GENERIC_WRITE, GENERIC_READ, GENERIC_WRITE};
  int mode = argc == 2 ? 0 : -1;
  for (int i = 0; argc == 3 && i < 3; i++) mode = wcscmp(argv[2], kModes[i]) == 0 ? i : mode;
  if (argc < 2 || argc > 3 || mode < 0) {
    fprintf(stderr, "usage: tavo_hold_open PATH [shared|reading|writing]\n");
    return 2;
  }
  DWORD share = argc == 3 ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE file = CreateFileW(argv[1], kAccess[mode], share, NULL, OPEN_EXISTING,
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
