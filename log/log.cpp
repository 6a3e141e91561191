#include "log/log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/os.h"

char logFilePath[kLogPathSize];

static const char kLogFileName[] = "TAVOSweeper.log";
static const char kLogFolder[] = "\\TAVO\\";

void InitLogFile(void) {
  memset(logFilePath, 0, sizeof logFilePath);
  if (OsGetSpecialFolderPath(logFilePath, CSIDL_PROFILE) &&
      AppendText(logFilePath, sizeof logFilePath, "%s", kLogFolder)) {
    DWORD attributes = OsGetFileAttributes(logFilePath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        AppendText(logFilePath, sizeof logFilePath, "%s", kLogFileName)) {
      return;
    }
  }
  // No profile, no TAVO folder in it, or a path too long to hold the file
  // name whole: the current directory it is. A cut path would name some
  // other file.
  memset(logFilePath, 0, sizeof logFilePath);
  CopyText(logFilePath, sizeof logFilePath, kLogFileName);
}

// Appends bytes to the log file: one open, one write, one close.
static void AppendToLog(const char* message) {
  OsFile* file = OsOpenAppendExclusive(logFilePath);
  if (file == NULL) return;
  size_t length = strlen(message);
  if (length > 0) OsWriteFile(file, message, length);
  OsCloseFile(file);
}

// Formats a log message like vsnprintf, bounded by kLogMessageSize, except
// that every text coming in through %s has its control characters replaced
// (CopyPrintable). Registry values, key names and environment values may hold
// CR or LF; written as they are, they would end the line and make whatever
// follows read as a line of the tool's own. The tool's formats handle
// d, i, u, x, X, c, s and %%, with flags, width, precision and l.
static void FormatLogMessage(char* message, const char* format, va_list args) {
  message[0] = '\0';
  const char* at = format;
  while (*at != '\0') {
    if (*at != '%') {
      const char* end = strchr(at, '%');
      size_t run = end ? (size_t)(end - at) : strlen(at);
      size_t used = strlen(message);
      size_t room = kLogMessageSize - 1 - used;
      if (run > room) run = room;
      memcpy(message + used, at, run);
      message[used + run] = '\0';
      at += run;
      if (run == room) return;
      continue;
    }
    // One conversion: copy its spec, then format its argument alone.
    char spec[16];
    size_t n = 0;
    spec[n++] = *at++;
    while (*at != '\0' && strchr("-+ #0123456789.", *at) && n < sizeof spec - 3) spec[n++] = *at++;
    int isLong = 0;
    while (*at == 'l') {
      isLong = 1;
      ++at;
    }
    char conversion = *at;
    if (conversion == '\0') return;
    ++at;
    // Numbers are all formatted as long, whatever came in.
    if (strchr("diuxX", conversion)) spec[n++] = 'l';
    spec[n++] = conversion;
    spec[n] = '\0';
    switch (conversion) {
      case 's': {
        char text[kLogMessageSize];
        CopyPrintable(text, sizeof text, va_arg(args, const char*));
        AppendText(message, kLogMessageSize, spec, text);
        break;
      }
      case 'd':
      case 'i': {
        long value = isLong ? va_arg(args, long) : (long)va_arg(args, int);
        AppendText(message, kLogMessageSize, spec, value);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        unsigned long value =
            isLong ? va_arg(args, unsigned long) : (unsigned long)va_arg(args, unsigned);
        AppendText(message, kLogMessageSize, spec, value);
        break;
      }
      case 'c':
        AppendText(message, kLogMessageSize, spec, va_arg(args, int));
        break;
      case '%':
        AppendText(message, kLogMessageSize, "%%");
        break;
      default:
        // Not a conversion the tool uses: the rest is not trusted.
        return;
    }
  }
}

void WriteLog(const char* format, ...) {
  char message[kLogMessageSize];
  va_list args;
  va_start(args, format);
  FormatLogMessage(message, format, args);
  va_end(args);
  AppendToLog(message);
}

enum {
  kBannerWidth = 128,  // asterisks before CR LF
  kBannerOffset = 10,  // where the banner text starts
  kBannerTextSize = 100,
};

void WriteLogHeader(const char* title) {
  char line[kBannerWidth + 3];
  memset(line, '*', kBannerWidth);
  line[kBannerWidth] = '\r';
  line[kBannerWidth + 1] = '\n';
  line[kBannerWidth + 2] = '\0';

  long long seconds = 0;
  int millis = 0;
  OsCalendar now;
  if (!OsNow(&seconds, &millis)) return;
  if (!OsLocalTime(seconds, &now)) return;

  // Formatted into a larger buffer first so that an over-long title is cut
  // between characters, never inside one.
  char text[kLogMessageSize];
  FormatText(text, sizeof text, " %s %04d/%02d/%02d %02d:%02d:%02d.%03d ", title, now.year,
             now.month, now.day, now.hour, now.minute, now.second, millis);
  size_t length = Cp932CutLength(text, kBannerTextSize - 1);
  memcpy(line + kBannerOffset, text, length);

  // Written as it stands: nothing in a title is ever taken for a
  // conversion, and the line's own CR LF stays.
  AppendToLog(line);
}
