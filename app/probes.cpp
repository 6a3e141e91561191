#include "app/probes.h"

#include "log/log.h"
#include "platform/os.h"

int GetIs64BitOS(void) {
  SYSTEM_INFO info;
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  // A 32-bit process sees its own architecture in GetSystemInfo; only
  // GetNativeSystemInfo tells the machine's. Windows without it is 32-bit.
  OsSystemInfoFn native = OsFindNativeSystemInfo();
  if (native != NULL) {
    native(&info);
  } else {
    OsGetSystemInfo(&info);
  }
  int is64 = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  WriteLog(is64 ? "[GetIs64BitOS] OS=64bit\r\n" : "[GetIs64BitOS] OS=32bit\r\n");
  return is64;
}

struct FolderSource {
  const char* label;
  const char* variable;  // environment rows
  int csidl;             // special-folder rows
};

static const FolderSource kFolderSources[] = {
    {"[GetFolderPath] ProgramFiles Path", "ProgramFiles", 0},
    {"[GetFolderPath] ProgramFiles(x86) Path", "ProgramFiles(x86)", 0},
    {"[GetFolderPath] CSIDL_COMMON_PROGRAMS Path", NULL, CSIDL_COMMON_PROGRAMS},
    {"[GetFolderPath] CSIDL_COMMON_STARTUP Path", NULL, CSIDL_COMMON_STARTUP},
};

int GetFolderPath(FolderRow row, int is64, char* buffer) {
  const FolderSource* source = &kFolderSources[row];
  // The label stays open: the outcome completes the line.
  WriteLog("%s", source->label);

  if (source->variable != NULL) {
    const char* variable = source->variable;
    if (row == kFolderProgramFiles && is64) variable = "ProgramW6432";
    int result = OsGetEnv(buffer, kFolderPathSize, variable);
    DWORD lastError = OsGetLastError();
    if (result != 0) {
      WriteLog("\r\n ERROR : Ret=%d,  LastError=0x%08X\r\n", result, (unsigned)lastError);
      return 0;
    }
  } else if (!OsGetSpecialFolderPath(buffer, source->csidl)) {
    WriteLog("\r\n Not Found\r\n");
    return 0;
  }
  WriteLog("=%s\r\n", buffer);
  return 1;
}
