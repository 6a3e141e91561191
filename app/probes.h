// Machine probes: 64-bit Windows, and the four folders the steps look in.
#pragma once

enum { kFolderPathSize = 260 };

// The folders GetFolderPath knows, one row each.
enum FolderRow {
  kFolderProgramFiles,     // "ProgramW6432" on 64-bit Windows, else "ProgramFiles"
  kFolderProgramFilesX86,  // "ProgramFiles(x86)"
  kFolderCommonPrograms,   // CSIDL_COMMON_PROGRAMS
  kFolderCommonStartup,    // CSIDL_COMMON_STARTUP
};

// 1 when Windows runs on x64 (AMD64), else 0. Logs its finding.
int GetIs64BitOS(void);

// Looks the row's folder up into buffer (kFolderPathSize bytes); is64 matters
// for kFolderProgramFiles only. 1 on success, 0 when the folder is not to be
// had (the buffer is then not to be used). Logs the outcome.
int GetFolderPath(FolderRow row, int is64, char* buffer);
