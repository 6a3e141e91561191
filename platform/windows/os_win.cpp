// The seam on Windows: each function is the one Win32 or msvcrt call it
// names in platform/os.h, nothing more.
#include "platform/os.h"

#include <errno.h>
#include <locale.h>
#include <objbase.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/timeb.h>
#include <time.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);

void OsRestrictDllSearch(void) {
  // SetDefaultDllDirectories came with Windows 8 (and KB2533623 for Vista
  // and 7), so it is looked up; without it, SetDllDirectoryA("") at least
  // takes the current directory out of the search.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesFn setDefault =
      kernel ? (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories")
             : NULL;
  if (setDefault == NULL || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
}

void OsSetJapaneseCtype(void) { setlocale(LC_CTYPE, "jpn"); }

void OsInitCom(void) { CoInitialize(NULL); }

LONG OsRegOpenKey(HKEY parent, const char* subKey, REGSAM access, HKEY* out) {
  return RegOpenKeyExA(parent, subKey, 0, access, out);
}

LONG OsRegEnumKey(HKEY key, DWORD index, char* name, DWORD* nameLen) {
  return RegEnumKeyExA(key, index, name, nameLen, NULL, NULL, NULL, NULL);
}

LONG OsRegQueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  return RegQueryValueExA(key, name, NULL, type, data, size);
}

LONG OsRegDeleteKey(HKEY parent, const char* subKey, REGSAM view) {
  return RegDeleteKeyExA(parent, subKey, view, 0);
}

void OsRegCloseKey(HKEY key) { RegCloseKey(key); }

DWORD OsGetLastError(void) { return GetLastError(); }

int OsMessageBox(const char* text, const char* title, UINT style) {
  return MessageBoxA(NULL, text, title, style);
}

int OsPathIsDirectory(const char* path) { return PathIsDirectoryA(path) != FALSE; }

int OsPathFileExists(const char* path) { return PathFileExistsA(path) != FALSE; }

DWORD OsGetFileAttributes(const char* path) { return GetFileAttributesA(path); }

int OsGetSpecialFolderPath(char* buf, int csidl) {
  return SHGetSpecialFolderPathA(NULL, buf, csidl, FALSE) != FALSE;
}

HRESULT OsCreateShellItem(const wchar_t* path, OsShellItem** item) {
  IShellItem* shellItem = NULL;
  HRESULT result = SHCreateItemFromParsingName(path, NULL, IID_IShellItem, (void**)&shellItem);
  *item = (OsShellItem*)shellItem;
  return result;
}

HRESULT OsCreateFileOperation(OsFileOp** op) {
  IFileOperation* operation = NULL;
  HRESULT result = CoCreateInstance(CLSID_FileOperation, NULL, CLSCTX_ALL, IID_IFileOperation,
                                    (void**)&operation);
  *op = (OsFileOp*)operation;
  return result;
}

HRESULT OsFileOpSetFlags(OsFileOp* op, DWORD flags) {
  return ((IFileOperation*)op)->SetOperationFlags(flags);
}

HRESULT OsFileOpDeleteItem(OsFileOp* op, OsShellItem* item) {
  return ((IFileOperation*)op)->DeleteItem((IShellItem*)item, NULL);
}

HRESULT OsFileOpPerform(OsFileOp* op) { return ((IFileOperation*)op)->PerformOperations(); }

HRESULT OsFileOpAnyAborted(OsFileOp* op, int* aborted) {
  BOOL any = FALSE;
  HRESULT result = ((IFileOperation*)op)->GetAnyOperationsAborted(&any);
  if (SUCCEEDED(result)) *aborted = any != FALSE;
  return result;
}

void OsFileOpRelease(OsFileOp* op) { ((IFileOperation*)op)->Release(); }

void OsShellItemRelease(OsShellItem* item) { ((IShellItem*)item)->Release(); }

OsSystemInfoFn OsFindNativeSystemInfo(void) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == NULL) return NULL;
  return (OsSystemInfoFn)(void*)GetProcAddress(kernel, "GetNativeSystemInfo");
}

void OsGetSystemInfo(SYSTEM_INFO* info) { GetSystemInfo(info); }

int OsGetEnv(char* buf, size_t size, const char* name) {
  size_t needed = 0;
  return getenv_s(&needed, buf, size, name);
}

int OsMbsToWcs(wchar_t* dst, size_t dstUnits, const char* src) {
  size_t converted = 0;
  return mbstowcs_s(&converted, dst, dstUnits, src, _TRUNCATE);
}

OsFile* OsOpenAppendExclusive(const char* path) {
  return (OsFile*)_fsopen(path, "ab", _SH_DENYRW);
}

void OsWriteFile(OsFile* file, const char* data, size_t len) {
  fwrite(data, 1, len, (FILE*)file);
}

void OsCloseFile(OsFile* file) { fclose((FILE*)file); }

int OsNow(long long* seconds, int* millis) {
  struct __timeb64 now;
  if (_ftime64_s(&now) != 0) return 0;
  *seconds = now.time;
  *millis = now.millitm;
  return 1;
}

int OsLocalTime(long long seconds, OsCalendar* out) {
  __time64_t time = seconds;
  struct tm local;
  if (_localtime64_s(&local, &time) != 0) return 0;
  out->year = local.tm_year + 1900;
  out->month = local.tm_mon + 1;
  out->day = local.tm_mday;
  out->hour = local.tm_hour;
  out->minute = local.tm_min;
  out->second = local.tm_sec;
  return 1;
}
