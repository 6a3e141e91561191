#include "registry/java_home.h"

#include "log/log.h"
#include "registry/reg_key.h"
#include "registry/reg_value.h"
#include "text/text.h"

// Reads one text value of an open key into field and closes the key. The
// "[GetRegValue] <name>" text is left open for the outcome to complete.
static int ReadAndClose(HKEY key, const char* name, char* field, DWORD width) {
  WriteLog("[GetRegValue] %s", name);
  DWORD lastError = 0;
  LONG result = ReadTextValue(key, name, field, width, "", &lastError);
  OsRegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    WriteLog("\r\n ERROR: Ret=%ld, LastError=0x%08X\r\n", (long)result, (unsigned)lastError);
    return 0;
  }
  WriteLog("=%s\r\n", field);
  return 1;
}

int GetJavaHome(const char* keyPath, REGSAM view, char* javaHome) {
  HKEY key;
  if (!OpenKeyForReading(keyPath, view, &key)) return 0;
  char currentVersion[kJavaVersionSize];
  if (!ReadAndClose(key, "CurrentVersion", currentVersion, sizeof currentVersion)) return 0;

  char versionKey[kKeyNameSize];
  if (!FormatText(versionKey, sizeof versionKey, "%s\\%s", keyPath, currentVersion)) {
    // Only a caller's over-long key gets here; a cut path would name
    // another key.
    WriteLog("[OpenRegKey] %s\\%s\\%s\r\n ERROR: Path Too Long\r\n", TAVO_HKLM_NAME, keyPath,
             currentVersion);
    return 0;
  }
  if (!OpenKeyForReading(versionKey, view, &key)) return 0;
  return ReadAndClose(key, "JavaHome", javaHome, kJavaHomeSize);
}
