#include "files/files.h"

#include "log/log.h"
#include "platform/os.h"

enum { kWidePathUnits = 260 };

// Every stage's error line: the failing call, its HRESULT, and the thread's
// last-error value as that call left it.
static void LogShellError(const char* call, HRESULT result, DWORD lastError) {
  WriteLog(" %s ERROR : Ret=0x%08X,  LastError=0x%08X\r\n", call, (unsigned)result,
           (unsigned)lastError);
}

// Runs the queued deletion on an existing file operation; 1 when it was
// carried out whole.
static int PerformDeletion(OsFileOp* operation, OsShellItem* item) {
  HRESULT result = OsFileOpSetFlags(operation, kDeleteFlags);
  if (FAILED(result)) {
    LogShellError("IFileOperation::SetOperationFlags", result, OsGetLastError());
    return 0;
  }
  result = OsFileOpDeleteItem(operation, item);
  if (FAILED(result)) {
    LogShellError("IFileOperation::DeleteItem", result, OsGetLastError());
    return 0;
  }
  result = OsFileOpPerform(operation);
  if (FAILED(result)) {
    LogShellError("IFileOperation::PerformOperations", result, OsGetLastError());
    return 0;
  }
  // PerformOperations succeeds even when the user skipped an item or
  // cancelled in the shell's own error dialog; only this tells.
  int aborted = 0;
  result = OsFileOpAnyAborted(operation, &aborted);
  DWORD lastError = OsGetLastError();
  if (FAILED(result)) {
    LogShellError("IFileOperation::GetAnyOperationsAborted", result, lastError);
    return 0;
  }
  if (aborted) {
    LogShellError("IFileOperation::GetAnyOperationsAborted",
                  HRESULT_FROM_WIN32(ERROR_CANCELLED), lastError);
    return 0;
  }
  return 1;
}

int DeleteItem(const char* path) {
  WriteLog("[DeleteItem] %s\r\n", path);

  wchar_t widePath[kWidePathUnits];
  int converted = OsMbsToWcs(widePath, kWidePathUnits, path);
  if (converted != 0) {
    WriteLog(" mbstowcs ERROR : Ret=%d,  LastError=0x%08X\r\n", converted,
             (unsigned)OsGetLastError());
    return 0;
  }

  OsShellItem* item = NULL;
  HRESULT result = OsCreateShellItem(widePath, &item);
  if (FAILED(result)) {
    LogShellError("SHCreateItemFromParsingName", result, OsGetLastError());
    return 0;
  }

  int deleted = 0;
  OsFileOp* operation = NULL;
  result = OsCreateFileOperation(&operation);
  if (FAILED(result)) {
    LogShellError("CoCreateInstance", result, OsGetLastError());
  } else {
    deleted = PerformDeletion(operation, item);
    OsFileOpRelease(operation);
  }
  OsShellItemRelease(item);
  return deleted;
}
