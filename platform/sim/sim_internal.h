// State of the simulated Windows shared by the sim_*.cpp files. Not for
// tests: they use sim.h.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

struct OsFile {
  std::string key;  // folded path of the file it writes
  bool open;
};

struct OsShellItem {
  std::string path;  // as stored in the file system
  bool released;
};

struct OsFileOp {
  DWORD flags;
  std::vector<std::string> queue;  // paths of the queued items
  std::vector<size_t> records;     // their entries in ShellOps()
  bool aborted;
  bool released;
};

namespace sim {
namespace detail {

struct RegValue {
  std::string name;
  DWORD type;
  std::string bytes;
};

struct RegKey {
  std::string path;  // display case
  unsigned id;       // a key deleted and made again is another key
  std::map<std::string, RegValue> values;  // by folded name
};

struct RegHandle {
  std::string key;   // folded path
  std::string path;  // display path
  unsigned id;
  REGSAM access;
  bool open;
};

struct RegFailure {
  LONG code;
  DWORD lastError;
};

struct FsEntry {
  std::string path;  // display case; a drive root is "C:"
  bool folder;
  std::string content;
  bool locked;
  bool readOnly;
  bool inUse;
};

struct ShellFailure {
  bool set;
  HRESULT hr;
  DWORD lastError;
};

struct EnvVar {
  std::string name;
  std::string value;
};

struct State {
  // machine
  WORD nativeArch;
  WORD processArch;
  bool hasNativeSystemInfo;
  DWORD lastError;
  bool dllRestricted, japanese, com;

  // registry; the root HKEY_LOCAL_MACHINE is the path ""
  std::map<std::string, RegKey> keys;  // by folded path
  unsigned nextKeyId;
  std::map<uintptr_t, RegHandle> handles;
  uintptr_t nextHandle;
  int regBadCloses;
  std::map<std::string, RegFailure> failOpen, failEnum, failDelete;
  std::vector<RegCall> regCalls;

  // file system
  std::map<std::string, FsEntry> fs;  // by folded path
  std::string cwd;                    // display path
  std::vector<std::unique_ptr<OsFile>> files;
  std::map<int, std::string> special;
  std::map<std::string, EnvVar> env;  // by folded name

  // clock
  long long seconds;
  int millis, utcOffset, stepMillis;
  bool nowFails, localTimeFails;

  // shell
  ShellFailure shellFail[kAnyAborted + 1];
  std::vector<ShellOp> shellOps;
  std::vector<std::unique_ptr<OsShellItem>> items;
  std::vector<std::unique_ptr<OsFileOp>> ops;
  int shellAlive, shellBadReleases;

  // message boxes
  std::vector<int> answers;
  size_t nextAnswer;
  std::vector<Box> boxes;
};

State& St();

// Code page 932 text helpers. A lead byte (0x81-0x9F, 0xE0-0xFC) is followed
// by a trail byte, which may look like an ASCII letter or a backslash.
bool IsLead(unsigned char c);
// ASCII letters upper-cased, trail bytes left alone: the key for lookups and
// the order Windows enumerates registry keys in.
std::string Fold(const std::string& s);
// Cuts at every backslash that is a character of its own.
std::vector<std::string> Split(const std::string& s);
std::string Join(const std::vector<std::string>& parts, size_t count);
// The parts joined, each leading part in the case stored in `m` when it is
// there, else as given.
template <class Map>
std::string StoredCase(const Map& m, const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string next = i == 0 ? parts[0] : out + "\\" + parts[i];
    auto it = m.find(Fold(next));
    out = it != m.end() ? it->second.path : next;
  }
  return out;
}
// Misuse of the simulation (by a test) or an operation a real program would
// crash on: message and abort.
[[noreturn]] void Die(const std::string& what);

// The file system entry `path` names, resolved as Windows resolves it
// (relative paths, a leading "\", a trailing "\"). False when the text is
// no path at all; `parts` then is empty.
bool ResolveFs(const std::string& path, std::vector<std::string>* parts);
void RemoveFsTree(const std::string& key);

}  // namespace detail
}  // namespace sim
