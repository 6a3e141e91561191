/* Cost of one log message written the way TAVOSweeper writes every message
 * (_fsopen "ab" with _SH_DENYRW, fwrite, fclose), against appending to a file
 * that stays open. Built by bench/log_cost.py:
 *
 *   x86_64-w64-mingw32-gcc -O2 -static -o logcost.exe bench/logcost.c
 *
 * Usage under Wine:  logcost.exe [N [DIR [ROUNDS]]]
 *   N       messages per measurement (default 10000)
 *   DIR     folder for the scratch log file (default: current directory)
 *   ROUNDS  measurements per mode, interleaved (default 5)
 *
 * Prints one line per measurement ("sample MODE ROUND us_per_message") and one
 * summary line per mode ("median MODE us_per_message"). Each measurement starts
 * from an empty file and checks the file ends with exactly N messages, so a
 * write that silently failed cannot pass for a fast one (exit 1 then).
 *
 * Modes:
 *   reopen      what the tool does for every message: open, append, close
 *   kept_open   one fopen, N fwrite, one fclose (the C runtime buffers)
 *   kept_flush  one fopen, N x (fwrite + fflush), one fclose: every message
 *               reaches the file at once, but the file stays open
 */
#include <windows.h>
#include <share.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A typical line of the log: the one written per deleted registry key. */
static const char kLine[] =
    "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\k00\\k00\\k00\r\n";

enum { kModes = 3, kMaxRounds = 50 };
static const char* const kModeNames[kModes] = {"reopen", "kept_open", "kept_flush"};

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER freq) {
  return (double)(to.QuadPart - from.QuadPart) / (double)freq.QuadPart;
}

/* One measurement; returns microseconds per message, or a negative number
 * when the file did not end up holding the N messages. */
static double Measure(int mode, long n, const char* path) {
  LARGE_INTEGER freq, t0, t1;
  size_t len = sizeof kLine - 1;
  FILE* f = NULL;
  remove(path);
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  if (mode == 0) {
    for (long i = 0; i < n; ++i) {
      f = _fsopen(path, "ab", _SH_DENYRW);
      if (f == NULL) return -1.0;
      fwrite(kLine, 1, len, f);
      fclose(f);
    }
  } else {
    f = fopen(path, "ab");
    if (f == NULL) return -1.0;
    for (long i = 0; i < n; ++i) {
      fwrite(kLine, 1, len, f);
      if (mode == 2) fflush(f);
    }
    fclose(f);
  }
  QueryPerformanceCounter(&t1);

  WIN32_FILE_ATTRIBUTE_DATA attr;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &attr)) return -2.0;
  unsigned long long size = ((unsigned long long)attr.nFileSizeHigh << 32) | attr.nFileSizeLow;
  if (size != (unsigned long long)n * len) return -3.0;
  return Seconds(t0, t1, freq) * 1e6 / (double)n;
}

static int Compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  long n = argc > 1 ? atol(argv[1]) : 10000;
  const char* dir = argc > 2 ? argv[2] : ".";
  int rounds = argc > 3 ? atoi(argv[3]) : 5;
  if (n <= 0 || rounds <= 0 || rounds > kMaxRounds) {
    fprintf(stderr, "usage: logcost.exe [N [DIR [ROUNDS<=%d]]]\n", kMaxRounds);
    return 2;
  }
  char path[MAX_PATH];
  size_t dirLen = strlen(dir);
  const char* sep = dirLen > 0 && dir[dirLen - 1] == '\\' ? "" : "\\";
  snprintf(path, sizeof path, "%s%slogcost.tmp", dir, sep);

  double samples[kModes][kMaxRounds];
  printf("messages %ld bytes_per_message %u file %s\n", n, (unsigned)(sizeof kLine - 1), path);
  /* Modes interleaved round by round, so a slow spell of the machine hits
   * them alike. */
  for (int r = 0; r < rounds; ++r) {
    for (int m = 0; m < kModes; ++m) {
      double us = Measure(m, n, path);
      if (us < 0) {
        printf("error %s round %d: code %.0f (open failed or wrong file size)\n", kModeNames[m], r, us);
        return 1;
      }
      samples[m][r] = us;
      printf("sample %s %d %.3f\n", kModeNames[m], r, us);
      fflush(stdout);
    }
  }
  remove(path);
  for (int m = 0; m < kModes; ++m) {
    qsort(samples[m], rounds, sizeof samples[m][0], Compare);
    double median = rounds % 2 ? samples[m][rounds / 2]
                               : (samples[m][rounds / 2 - 1] + samples[m][rounds / 2]) / 2;
    printf("median %s %.3f min %.3f max %.3f\n", kModeNames[m], median, samples[m][0],
           samples[m][rounds - 1]);
  }
  return 0;
}
