// The one seam between the tool and the operating system.
//
// Every Windows call and every C runtime call whose behaviour differs between
// Windows and the host goes through these functions. platform/windows/ maps
// each of them onto the one Win32 or msvcrt call named beside it; the host
// build links platform/sim/, a simulated Windows that keeps the same contract.
// The functions do nothing beyond the call they stand for: logging, fallbacks
// and decisions all stay in the product code.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>  // CSIDL_*
#else
#include "platform/sim/wintypes.h"
#endif

#include <stddef.h>

// --- process set-up -------------------------------------------------------

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where the system has
// it, else SetDllDirectoryA(""): keeps DLLs planted beside the exe or in the
// current directory from ever being loaded.
void OsRestrictDllSearch(void);
// setlocale(LC_CTYPE, "jpn"); the result is ignored.
void OsSetJapaneseCtype(void);
// CoInitialize(NULL); the result is ignored, COM is never uninitialised.
void OsInitCom(void);

// --- registry (advapi32) --------------------------------------------------

// RegOpenKeyExA(parent, subKey, 0, access, out)
LONG OsRegOpenKey(HKEY parent, const char* subKey, REGSAM access, HKEY* out);
// RegEnumKeyExA(key, index, name, nameLen, NULL, NULL, NULL, NULL)
LONG OsRegEnumKey(HKEY key, DWORD index, char* name, DWORD* nameLen);
// RegQueryValueExA(key, name, NULL, type, data, size); type may be NULL
LONG OsRegQueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
// RegDeleteKeyExA(parent, subKey, view, 0)
LONG OsRegDeleteKey(HKEY parent, const char* subKey, REGSAM view);
// RegCloseKey(key); the result is ignored.
void OsRegCloseKey(HKEY key);

// GetLastError()
DWORD OsGetLastError(void);

// --- user interface (user32) ----------------------------------------------

// MessageBoxA(NULL, text, title, style)
int OsMessageBox(const char* text, const char* title, UINT style);

// --- file system (shlwapi, shell32, kernel32) -----------------------------

// PathIsDirectoryA(path) != 0
int OsPathIsDirectory(const char* path);
// PathFileExistsA(path) != 0
int OsPathFileExists(const char* path);
// GetFileAttributesA(path)
DWORD OsGetFileAttributes(const char* path);
// SHGetSpecialFolderPathA(NULL, buf, csidl, FALSE) != 0; buf holds 260 bytes
int OsGetSpecialFolderPath(char* buf, int csidl);

// --- shell deletion (shell32, ole32) --------------------------------------

typedef struct OsShellItem OsShellItem;  // an IShellItem
typedef struct OsFileOp OsFileOp;        // an IFileOperation

// SHCreateItemFromParsingName(path, NULL, IID_IShellItem, item)
HRESULT OsCreateShellItem(const wchar_t* path, OsShellItem** item);
// CoCreateInstance(CLSID_FileOperation, NULL, CLSCTX_ALL, IID_IFileOperation, op)
HRESULT OsCreateFileOperation(OsFileOp** op);
// IFileOperation::SetOperationFlags(flags)
HRESULT OsFileOpSetFlags(OsFileOp* op, DWORD flags);
// IFileOperation::DeleteItem(item, NULL)
HRESULT OsFileOpDeleteItem(OsFileOp* op, OsShellItem* item);
// IFileOperation::PerformOperations()
HRESULT OsFileOpPerform(OsFileOp* op);
// IFileOperation::GetAnyOperationsAborted(&aborted)
HRESULT OsFileOpAnyAborted(OsFileOp* op, int* aborted);
// IFileOperation::Release() / IShellItem::Release()
void OsFileOpRelease(OsFileOp* op);
void OsShellItemRelease(OsShellItem* item);

// --- machine (kernel32) ---------------------------------------------------

#ifdef _WIN32
typedef void(WINAPI* OsSystemInfoFn)(LPSYSTEM_INFO);
#else
typedef void (*OsSystemInfoFn)(SYSTEM_INFO*);
#endif
// GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo")
OsSystemInfoFn OsFindNativeSystemInfo(void);
// GetSystemInfo(info)
void OsGetSystemInfo(SYSTEM_INFO* info);

// --- C runtime --------------------------------------------------------------

// getenv_s(&needed, buf, size, name): 0, or 34 when the value does not fit.
int OsGetEnv(char* buf, size_t size, const char* name);
// mbstowcs_s(&converted, dst, dstUnits, src, _TRUNCATE) under the LC_CTYPE
// locale: 0, 42 (EILSEQ) for a sequence that is not code page 932, or 80
// (STRUNCATE) when the text was cut to fit.
int OsMbsToWcs(wchar_t* dst, size_t dstUnits, const char* src);

typedef struct OsFile OsFile;
// _fsopen(path, "ab", _SH_DENYRW): NULL when the file cannot be opened.
OsFile* OsOpenAppendExclusive(const char* path);
// fwrite(data, 1, len, file)
void OsWriteFile(OsFile* file, const char* data, size_t len);
// fclose(file)
void OsCloseFile(OsFile* file);

typedef struct OsCalendar {
  int year;  // full year
  int month;  // 1 to 12
  int day;
  int hour;  // 0 to 23
  int minute;
  int second;
} OsCalendar;
// _ftime64_s: seconds since 1970 UTC and milliseconds. 1 on success.
int OsNow(long long* seconds, int* millis);
// _localtime64_s: the local calendar time. 1 on success.
int OsLocalTime(long long seconds, OsCalendar* out);
