#include "registry/reg_value.h"

#include <string.h>

#include "log/log.h"
#include "registry/reg_key.h"
#include "text/text.h"

LONG ReadTextValue(HKEY key, const char* name, char* field, DWORD width, const char* fallback,
                   DWORD* lastError) {
  DWORD type = REG_NONE;
  DWORD size = width;
  LONG result = OsRegQueryValue(key, name, &type, (BYTE*)field, &size);
  *lastError = OsGetLastError();

  if (result == ERROR_SUCCESS) {
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > width) {
      // Bytes of a number or a binary blob are no path or name, even when
      // they happen to look like one.
      result = kValueNotUsable;
    } else if (memchr(field, '\0', size) == NULL) {
      // Stored without its NUL: the text is exactly the stored bytes, if
      // there is room to end it; otherwise it is not the whole value.
      if (size < width) {
        field[size] = '\0';
      } else {
        result = kValueNotUsable;
      }
    }
  }
  if (result != ERROR_SUCCESS) {
    // A failed read may leave anything in the field (ERROR_MORE_DATA leaves
    // it undefined): put the fallback back.
    CopyText(field, width, fallback);
  }
  return result;
}

LONG ReadNumberValue(HKEY key, const char* name, DWORD* number) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  LONG result = OsRegQueryValue(key, name, &type, (BYTE*)&value, &size);
  if (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) {
    result = kValueNotUsable;
  }
  if (result == ERROR_SUCCESS) *number = value;
  return result;
}

void LogOpenFailure(LONG result, DWORD lastError) {
  if (result == ERROR_FILE_NOT_FOUND) {
    WriteLog(" Not Found\r\n");
  } else {
    WriteLog(" ERROR: Ret=%ld, LastError=0x%08X\r\n", (long)result, (unsigned)lastError);
  }
}

int OpenKeyForReading(const char* keyPath, REGSAM view, HKEY* key) {
  WriteLog("[OpenRegKey] %s\\%s\r\n", TAVO_HKLM_NAME, keyPath);
  LONG result = OsRegOpenKey(HKEY_LOCAL_MACHINE, keyPath, KEY_READ | view, key);
  if (result != ERROR_SUCCESS) {
    LogOpenFailure(result, OsGetLastError());
    return 0;
  }
  return 1;
}
