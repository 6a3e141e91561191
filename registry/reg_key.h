// Probing and recursively deleting keys below HKEY_LOCAL_MACHINE.
#pragma once

#include "platform/os.h"

enum { kKeyNameSize = 260 };

// The root's name in the log lines of every key opened or deleted.
#define TAVO_HKLM_NAME "HKEY_LOCAL_MACHINE"

// 1 when keyPath below HKEY_LOCAL_MACHINE opens for reading in the view.
int OpenRegKey(const char* keyPath, REGSAM view);

// Deletes subKey below parent with everything under it, depth first.
// parentName is parent's display name for the log ("HKEY_LOCAL_MACHINE" for
// the root). Returns 0 when the key is gone, else the first error met.
LONG DeleteRegKey(HKEY parent, const char* parentName, const char* subKey, REGSAM view);
