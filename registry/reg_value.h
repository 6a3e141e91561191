// Reading registry values into fixed fields, and the lines shared by every
// reader that opens a key.
#pragma once

#include "platform/os.h"

// Returned for a value that was read but is not what the field takes: a
// text that is not a string type, a string that leaves no room for its NUL,
// or a number that is not a 4-byte REG_DWORD.
enum { kValueNotUsable = 13 /* ERROR_INVALID_DATA */ };

// Reads a string value into field (width bytes). On ERROR_SUCCESS the field
// holds the value's text, NUL-terminated within width (a value stored without
// its NUL gets one). On any other result the field holds `fallback`, never
// what a failed read may have left there. *lastError receives the thread's
// last-error value right after the read.
LONG ReadTextValue(HKEY key, const char* name, char* field, DWORD width, const char* fallback,
                   DWORD* lastError);

// Reads a REG_DWORD value. *number changes only on ERROR_SUCCESS.
LONG ReadNumberValue(HKEY key, const char* name, DWORD* number);

// Writes the "[OpenRegKey]" line for keyPath below HKEY_LOCAL_MACHINE and
// opens it with KEY_READ | view; on failure writes the follow-up line and
// returns 0.
int OpenKeyForReading(const char* keyPath, REGSAM view, HKEY* key);

// The follow-up line after an "[OpenRegKey]" line whose open failed:
// " Not Found" for a missing key, else the error line.
void LogOpenFailure(LONG result, DWORD lastError);
