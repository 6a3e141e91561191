// The run log: one append-only file, opened and closed for every message.
#pragma once

#include "text/text.h"

enum { kLogPathSize = 260, kLogMessageSize = 1024 };

// The log file's path: empty until InitLogFile fills it, then fixed for the
// rest of the process.
extern char logFilePath[kLogPathSize];

// Chooses the log file: "TAVOSweeper.log" in the profile's "TAVO" folder
// when that folder exists, else in the current directory.
void InitLogFile(void);

// Appends one printf-style message (at most 1023 bytes once formatted).
// Before InitLogFile, or when the file cannot be opened, the message is lost.
void WriteLog(const char* format, ...) TAVO_PRINTF(1, 2);

// Appends the 130-byte banner line that opens a numbered step.
void WriteLogHeader(const char* title);
