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

void WriteLog(const char* format, ...) {
  OsFile* file = OsOpenAppendExclusive(logFilePath);
  if (file == NULL) return;

  char message[kLogMessageSize];
  va_list args;
  va_start(args, format);
  // A message that does not fit is cut: the last byte is forced to NUL.
  (void)vsnprintf(message, sizeof message, format, args);
  va_end(args);
  message[kLogMessageSize - 1] = '\0';

  size_t length = strlen(message);
  if (length > 0) OsWriteFile(file, message, length);
  OsCloseFile(file);
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

  // The line goes in as an argument, so nothing in a title is ever taken
  // for a conversion.
  WriteLog("%s", line);
}
