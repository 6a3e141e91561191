// The installation record: what the product's Uninstall entry or management
// key says about the installed product. The readers in registry/ fill it,
// the key question in ui/ shows it and the run state in app/ holds it; it
// lives apart from all three so that ui/ and registry/ need not include each
// other.
#pragma once

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
