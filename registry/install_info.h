// The record readers: fill the installation record from the product's
// Uninstall entry or management key.
#pragma once

#include "platform/os.h"
#include "record/install_info.h"

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
