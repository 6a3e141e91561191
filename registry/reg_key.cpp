#include "registry/reg_key.h"

#include <string.h>

#include "log/log.h"
#include "registry/reg_value.h"
#include "text/text.h"

int OpenRegKey(const char* keyPath, REGSAM view) {
  HKEY key;
  if (!OpenKeyForReading(keyPath, view, &key)) return 0;
  OsRegCloseKey(key);
  return 1;
}

// The key's name as the log shows it. Deep trees can outgrow the buffer; the
// name is then cut between characters and ends in "..." so that a reader of
// the log sees it was shortened. Only the log uses it.
static void MakeDisplayName(char* name, const char* parentName, const char* subKey) {
  if (FormatText(name, kKeyNameSize, "%s\\%s", parentName, subKey)) return;
  static const char kEllipsis[] = "...";
  size_t keep = Cp932CutLength(name, kKeyNameSize - sizeof kEllipsis);
  memcpy(name + keep, kEllipsis, sizeof kEllipsis);
}

LONG DeleteRegKey(HKEY parent, const char* parentName, const char* subKey, REGSAM view) {
  char name[kKeyNameSize];
  MakeDisplayName(name, parentName, subKey);
  // Just what enumerating and deleting children takes.
  const REGSAM access = view | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS;

  char child[kKeyNameSize];
  // Empty and fully defined: no name compares equal to it.
  char previous[kKeyNameSize] = "";
  HKEY key;
  for (;;) {
    LONG result = OsRegOpenKey(parent, subKey, access, &key);
    if (result != ERROR_SUCCESS) {
      // Read before anything is logged: opening the log file changes it.
      DWORD lastError = OsGetLastError();
      WriteLog("[OpenRegKey] %s\r\n", name);
      WriteLog(" ERROR: Ret=%ld, LastError=0x%08X\r\n", (long)result, (unsigned)lastError);
      return result;
    }
    // Always index 0: the child deleted last time is gone, so index 0 is
    // the next one left.
    DWORD length = kKeyNameSize;
    if (OsRegEnumKey(key, 0, child, &length) != ERROR_SUCCESS) break;
    // A child reported deleted that is still there would be handed out
    // again for ever; stop, and let the delete below report the key.
    if (strcmp(child, previous) == 0) break;
    LONG childResult = DeleteRegKey(key, name, child, view);
    OsRegCloseKey(key);
    if (childResult != ERROR_SUCCESS) return childResult;
    memcpy(previous, child, sizeof previous);
  }
  OsRegCloseKey(key);

  WriteLog("[DeleteRegKey] %s\r\n", name);
  LONG result = OsRegDeleteKey(parent, subKey, view);
  if (result != ERROR_SUCCESS) {
    DWORD lastError = OsGetLastError();
    WriteLog(" ERROR: Ret=%ld, LastError=0x%08X\r\n", (long)result, (unsigned)lastError);
  }
  return result;
}
