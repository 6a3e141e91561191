#include "files/files.h"

#include "log/log.h"
#include "platform/os.h"

int ExistsFolder(const char* path) {
  WriteLog("[ExistsFolder] %s\r\n", path);
  if (OsPathIsDirectory(path)) return 1;
  WriteLog(" Not Found\r\n");
  return 0;
}

int ExistsFile(const char* path) {
  WriteLog("[ExistsFile] %s\r\n", path);
  if (OsPathFileExists(path) && !OsPathIsDirectory(path)) return 1;
  WriteLog(" Not Found\r\n");
  return 0;
}
