// Control side of the simulated Windows that the host build links in place of
// the real one (platform/os.h is the side the tool sees). Tests build a
// machine with these calls, run the tool's code against it and read back what
// it did. All text is code page 932 bytes, as on Windows.
//
// Paths in this file name the *physical* place: registry paths are below
// HKEY_LOCAL_MACHINE as stored (a 32-bit key is planted at
// "SOFTWARE\\Wow6432Node\\..."), file paths are absolute ("C:\\...").
// Names are compared without regard to ASCII letter case, as Windows does.
#pragma once

#include <string>
#include <vector>

#include "platform/os.h"

namespace sim {

// A fresh machine: 64-bit (AMD64, GetNativeSystemInfo present), empty
// registry, drive C: with C:\Users\user (profile, no TAVO folder),
// C:\ProgramData\Microsoft\Windows\Start Menu\Programs and its StartUp
// folder, C:\Program Files, C:\Program Files (x86), C:\work as the current
// directory; ProgramFiles / ProgramW6432 / ProgramFiles(x86) set to match;
// clock at 2026-12-08 15:09:50.123 local (UTC+9) that does not move; no
// scripted answers; no failures; nothing recorded.
void Reset();

// --- machine ---------------------------------------------------------------
// nativeArch is what GetNativeSystemInfo reports, processArch what
// GetSystemInfo reports (a 32-bit process on 64-bit Windows sees INTEL).
// A machine is 64-bit for the registry when nativeArch is AMD64 or ARM64
// (both have the Wow6432Node branch); every other value gives one view.
void SetArchitecture(WORD nativeArch, WORD processArch, bool hasNativeSystemInfo);
void SetLastError(DWORD code);

// --- registry ----------------------------------------------------------------
void RegAddKey(const std::string& path);  // with every missing ancestor
void RegSetValue(const std::string& keyPath, const std::string& name, DWORD type,
                 const std::string& bytes);  // creates the key; bytes as stored
void RegSetString(const std::string& keyPath, const std::string& name,
                  const std::string& text);  // REG_SZ, with its NUL
void RegSetDword(const std::string& keyPath, const std::string& name, DWORD value);
bool RegKeyExists(const std::string& path);
std::vector<std::string> RegAllKeys();  // every key path, sorted
// Failures on one key (physical path). lastError is what the failing call
// leaves as the thread's last-error value.
void RegFailOpen(const std::string& path, LONG code, DWORD lastError = 0);
void RegFailEnum(const std::string& path, LONG code);
void RegFailDelete(const std::string& path, LONG code, DWORD lastError = 0);
int RegOpenHandles();  // handles opened and not yet closed
// RegCloseKey calls on a handle that is not open (never opened, or closed
// already); each is also in RegCalls() as a "close" with result
// ERROR_INVALID_HANDLE. RegOpenHandles() does not count them.
int RegBadCloses();

struct RegCall {
  std::string op;    // "open", "enum", "query", "delete", "close"
  std::string path;  // physical path the call reached (the key for enum/query/close)
  std::string arg;   // subkey or value name as passed
  DWORD access;      // open: access mask; delete: view bits; enum: index; query: buffer size
  LONG result;
};
const std::vector<RegCall>& RegCalls();

// --- file system -------------------------------------------------------------
void FsAddFolder(const std::string& path);  // with every missing ancestor
void FsAddFile(const std::string& path, const std::string& content = "");
bool FsExists(const std::string& path);
bool FsIsFolder(const std::string& path);
std::string FsRead(const std::string& path);  // a file's bytes ("" when missing)
void FsRemove(const std::string& path);       // with everything below it
// Another program holds the file open: every open of it fails (32).
void FsSetLocked(const std::string& path, bool locked);
// Nothing can be created in this folder.
void FsSetReadOnly(const std::string& path, bool readOnly);
// The shell skips this item when deleting a tree (file in use: the user
// answered Skip in the shell's own dialog). Its ancestors then stay too.
void FsSetInUse(const std::string& path, bool inUse);
void SetCurrentDirectory(const std::string& path);
std::vector<std::string> FsAll();  // every file and folder path, sorted (drive roots left out)
// Files opened with OsOpenAppendExclusive and not closed yet. Writing to or
// closing a file that is not open aborts the test program, as the CRT would
// crash.
int OpenFiles();

// --- special folders and environment -----------------------------------------
void SetSpecialFolder(int csidl, const std::string& path);  // "" = Windows has none
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// --- clock -------------------------------------------------------------------
// Local time = UTC + utcOffsetSeconds. stepMillis is added after every read.
void SetClock(long long utcSeconds, int millis, int utcOffsetSeconds, int stepMillis = 0);
void SetClockFailure(bool nowFails, bool localTimeFails);

// --- shell deletion ----------------------------------------------------------
enum ShellStage { kParse, kCreate, kSetFlags, kDeleteItem, kPerform, kAnyAborted };
// The call of that stage returns hr (a failure code) and leaves lastError,
// on every call of that stage until Reset().
void ShellFail(ShellStage stage, HRESULT hr, DWORD lastError = 0);
struct ShellOp {
  std::string path;      // the item handed to IFileOperation::DeleteItem
  DWORD flags;           // flags set before it (0 when none were set)
  bool performed;        // PerformOperations was called
};
const std::vector<ShellOp>& ShellOps();
int ShellObjectsAlive();  // shell items and file operations not yet released
// Releases of an object released already; each also counts down
// ShellObjectsAlive(), which may then go negative. Any other use of a
// released object aborts the test program.
int ShellBadReleases();
bool JapaneseLocaleSet();  // OsSetJapaneseCtype was called
bool ComInitialised();
bool DllSearchRestricted();

// --- message boxes -----------------------------------------------------------
// Answers given to the boxes in order; 0 makes that box fail. When the
// script runs out every further box fails (returns 0) and is still recorded.
void ScriptAnswers(const std::vector<int>& answers);
struct Box {
  std::string text;
  std::string title;
  UINT style;
  int result;
};
const std::vector<Box>& Boxes();

}  // namespace sim
