#include "registry/install_info.h"

#include <stddef.h>

#include "log/log.h"
#include "registry/reg_value.h"
#include "text/text.h"

struct TextValue {
  const char* name;
  size_t offset;  // of the field in InstallInfo
  DWORD width;
  int marksPath;  // a successful read sets pathFound
};

static const TextValue kUninstallValues[] = {
    {"DisplayName", offsetof(InstallInfo, programName), kProgramNameSize, 0},
    {"DisplayVersion", offsetof(InstallInfo, version), kVersionSize, 0},
    {"InstallLocation", offsetof(InstallInfo, installPath), kInstallPathSize, 1},
    {"InstallDate", offsetof(InstallInfo, installDate), kInstallDateSize, 0},
};

void GetUninstallInfo(const char* keyPath, REGSAM view, InstallInfo* info) {
  info->keyFound = 0;
  info->pathFound = 0;
  CopyText(info->programName, kProgramNameSize, TAVO_UNKNOWN);
  CopyText(info->version, kVersionSize, TAVO_UNKNOWN);
  CopyText(info->installPath, kInstallPathSize, TAVO_UNKNOWN);
  CopyText(info->installDate, kInstallDateSize, TAVO_UNKNOWN);

  HKEY key;
  if (!OpenKeyForReading(keyPath, view, &key)) return;
  info->keyFound = 1;

  for (const TextValue& value : kUninstallValues) {
    char* field = (char*)info + value.offset;
    DWORD lastError = 0;
    LONG result = ReadTextValue(key, value.name, field, value.width, TAVO_UNKNOWN, &lastError);
    WriteLog("[GetRegValue] %s=%s\r\n", value.name, field);
    if (value.marksPath && result == ERROR_SUCCESS) info->pathFound = 1;
  }
  OsRegCloseKey(key);
}

// 0xFFFF marks a version number that was not read.
enum { kNumberNotRead = 65535 };

struct NumberValue {
  const char* name;
  const char* format;  // the line of a number that was read
};

static const NumberValue kVersionNumbers[] = {
    {"Major", "[GetRegValue] Major=%d\r\n"},
    {"Minor", "[GetRegValue] Minor=%02d\r\n"},
    {"Revision", "[GetRegValue] Revision=%03d\r\n"},
};

static void ReadVersion(const char* keyPath, REGSAM view, InstallInfo* info) {
  char versionKey[kInstallPathSize];
  if (!FormatText(versionKey, sizeof versionKey, "%s\\%s", keyPath, "Version")) return;
  HKEY key;
  if (!OpenKeyForReading(versionKey, view, &key)) return;

  DWORD numbers[3] = {kNumberNotRead, kNumberNotRead, kNumberNotRead};
  for (int i = 0; i < 3; ++i) {
    if (ReadNumberValue(key, kVersionNumbers[i].name, &numbers[i]) == ERROR_SUCCESS) {
      WriteLog(kVersionNumbers[i].format, (int)numbers[i]);
    } else {
      WriteLog("[GetRegValue] %s=%s\r\n", kVersionNumbers[i].name, TAVO_UNKNOWN);
    }
  }
  // A number stored as 65535 counts as not read. A text that does not fit
  // the field is not shown cut: the version stays unknown.
  if (numbers[0] != kNumberNotRead && numbers[1] != kNumberNotRead &&
      numbers[2] != kNumberNotRead) {
    char text[64];
    FormatText(text, sizeof text, "%d.%02d.%03d", (int)numbers[0], (int)numbers[1],
               (int)numbers[2]);
    if (TextLength(text, sizeof text) < kVersionSize) {
      CopyText(info->version, kVersionSize, text);
    }
  }
  OsRegCloseKey(key);
}

void GetManageInfo(const char* keyPath, REGSAM view, InstallInfo* info) {
  info->keyFound = 0;
  info->pathFound = 0;
  CopyText(info->programName, kProgramNameSize, TAVO_PRODUCT_NAME);
  CopyText(info->version, kVersionSize, TAVO_UNKNOWN);
  CopyText(info->installPath, kInstallPathSize, TAVO_UNKNOWN);

  HKEY key;
  if (!OpenKeyForReading(keyPath, view, &key)) return;
  info->keyFound = 1;
  DWORD lastError = 0;
  LONG result = ReadTextValue(key, "InstallPath", info->installPath, kInstallPathSize,
                              TAVO_UNKNOWN, &lastError);
  WriteLog("[GetRegValue] InstallPath=%s\r\n", info->installPath);
  if (result == ERROR_SUCCESS) info->pathFound = 1;
  OsRegCloseKey(key);

  ReadVersion(keyPath, view, info);
}
