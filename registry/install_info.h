// The installation record: what the product's Uninstall entry or management
// key says about the installed product.
#pragma once

#include "platform/os.h"

enum {
  kProgramNameSize = 32,
  kVersionSize = 16,
  kInstallPathSize = 260,
  kInstallDateSize = 16,
};

// Every text field always holds a NUL-terminated text within its width.
struct InstallInfo {
  int keyFound;   // the reader could open its key
  int pathFound;  // installPath holds the install-path value as stored
  char programName[kProgramNameSize];
  char version[kVersionSize];
  char installPath[kInstallPathSize];
  char installDate[kInstallDateSize];
};

// Text shown for a value that was not read.
#define TAVO_UNKNOWN "(不明)"
// The product's name, shown for the management key.
#define TAVO_PRODUCT_NAME "TAVO利用者ソフト"

// Reads the product's Uninstall entry (keyPath below HKEY_LOCAL_MACHINE) in
// the given view; resets the whole record first.
void GetUninstallInfo(const char* keyPath, REGSAM view, InstallInfo* info);

// Reads the product's management key and its "Version" subkey; resets all
// but installDate first.
void GetManageInfo(const char* keyPath, REGSAM view, InstallInfo* info);
