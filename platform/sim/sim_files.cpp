// The file system: drives, folders and files, the log file's exclusive
// append, special folders and the current directory.
#include <algorithm>
#include <cstring>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const DWORD kPathNotFound = 3;  // ERROR_PATH_NOT_FOUND

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A name Windows accepts for a file or folder.
bool ValidName(const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (IsLead(c)) {
      ++i;
    } else if (c < 0x20 || std::strchr("<>:\"/|?*", c)) {
      return false;
    }
  }
  return true;
}

std::string KeyOf(const std::vector<std::string>& parts, size_t count) {
  return Fold(Join(parts, count));
}

// The entry `path` names, or NULL.
FsEntry* Lookup(const char* path) {
  std::vector<std::string> parts;
  if (!path || !ResolveFs(path, &parts)) return nullptr;
  auto it = St().fs.find(KeyOf(parts, parts.size()));
  return it == St().fs.end() ? nullptr : &it->second;
}

FsEntry& Existing(const std::string& path, const char* caller) {
  FsEntry* e = Lookup(path.c_str());
  if (!e) Die(std::string(caller) + ": no such file or folder \"" + path + "\"");
  return *e;
}

// Makes the first `count` parts folders where they are missing.
void AddFolders(const std::vector<std::string>& parts, size_t count) {
  for (size_t i = 1; i <= count; ++i) {
    std::string key = KeyOf(parts, i);
    auto it = St().fs.find(key);
    if (it == St().fs.end()) {
      std::string parent = i == 1 ? "" : St().fs[KeyOf(parts, i - 1)].path + "\\";
      St().fs[key] = FsEntry{parent + parts[i - 1], true, "", false, false, false};
    } else if (!it->second.folder) {
      Die("a file stands where a folder is wanted: \"" + it->second.path + "\"");
    }
  }
}

std::vector<std::string> Parts(const std::string& path, const char* caller) {
  std::vector<std::string> parts;
  if (!ResolveFs(path, &parts)) Die(std::string(caller) + ": not a path: \"" + path + "\"");
  return parts;
}

bool OpenHere(const std::string& key) {
  for (const auto& f : St().files) {
    if (f->open && f->key == key) return true;
  }
  return false;
}

}  // namespace

namespace sim {
namespace detail {

bool ResolveFs(const std::string& path, std::vector<std::string>* parts) {
  parts->clear();
  if (path.empty()) return false;
  std::vector<std::string> cwd = Split(St().cwd);
  std::vector<std::string> base = cwd;
  std::string rest = path;
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':') {
    std::string drive = std::string(1, path[0]) + ":";
    drive = Fold(drive);
    rest = path.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "D:x" is relative to that drive's current folder: only C:'s is known.
      if (Fold(cwd[0]) != drive) base = {drive};
    } else {
      base = {drive};
      rest = rest.substr(1);
    }
  } else if (path[0] == '\\') {
    if (path.size() > 1 && path[1] == '\\') return false;  // no network paths here
    base = {cwd[0]};
    rest = path.substr(1);
  }
  if (!rest.empty()) {
    std::vector<std::string> rel = Split(rest);
    if (rel.size() > 1 && rel.back().empty()) rel.pop_back();  // one trailing backslash
    for (const std::string& p : rel) {
      if (p.empty() || !ValidName(p)) return false;
      if (p == "..") {
        if (base.size() > 1) base.pop_back();
      } else if (p != ".") {
        base.push_back(p);
      }
    }
  }
  *parts = base;
  return true;
}

void RemoveFsTree(const std::string& key) {
  auto& fs = St().fs;
  std::string prefix = key + "\\";
  for (auto it = fs.lower_bound(prefix); it != fs.end() && it->first.compare(0, prefix.size(), prefix) == 0;) {
    it = fs.erase(it);
  }
  if (Split(key).size() > 1) fs.erase(key);  // a drive root stays
}

}  // namespace detail
}  // namespace sim

int OsPathIsDirectory(const char* path) {
  FsEntry* e = Lookup(path);
  return e && e->folder ? 1 : 0;
}

int OsPathFileExists(const char* path) { return Lookup(path) ? 1 : 0; }

DWORD OsGetFileAttributes(const char* path) {
  FsEntry* e = Lookup(path);
  if (!e) {
    St().lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_FILE_ATTRIBUTES;
  }
  return e->folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

int OsGetSpecialFolderPath(char* buf, int csidl) {
  auto it = St().special.find(csidl);
  if (it == St().special.end() || it->second.empty()) return 0;
  if (it->second.size() > 259) Die("special folder path longer than Windows returns");
  std::memcpy(buf, it->second.c_str(), it->second.size() + 1);
  return 1;
}

OsFile* OsOpenAppendExclusive(const char* path) {
  State& s = St();
  std::vector<std::string> parts;
  if (!path || !ResolveFs(path, &parts)) {
    s.lastError = kPathNotFound;
    return nullptr;
  }
  std::string key = KeyOf(parts, parts.size());
  auto parent = s.fs.find(KeyOf(parts, parts.size() - 1));
  auto file = s.fs.find(key);
  DWORD error = 0;
  if (parts.size() < 2 || parent == s.fs.end() || !parent->second.folder) {
    error = parts.size() < 2 ? ERROR_ACCESS_DENIED : kPathNotFound;
  } else if (file != s.fs.end() && file->second.folder) {
    error = ERROR_ACCESS_DENIED;
  } else if (file != s.fs.end() && (file->second.locked || OpenHere(key))) {
    error = ERROR_SHARING_VIOLATION;
  } else if (file == s.fs.end() && parent->second.readOnly) {
    error = ERROR_ACCESS_DENIED;
  }
  if (error) {
    s.lastError = error;
    return nullptr;
  }
  // CreateFile with OPEN_ALWAYS reports whether the file was there.
  s.lastError = file != s.fs.end() ? ERROR_ALREADY_EXISTS : 0;
  if (file == s.fs.end()) {
    s.fs[key] = FsEntry{parent->second.path + "\\" + parts.back(), false, "", false, false, false};
  }
  s.files.push_back(std::unique_ptr<OsFile>(new OsFile{key, true}));
  return s.files.back().get();
}

void OsWriteFile(OsFile* file, const char* data, size_t len) {
  if (!file || !file->open) Die("OsWriteFile on a file that is not open");
  auto it = St().fs.find(file->key);
  if (it == St().fs.end()) Die("OsWriteFile: the open file was removed");
  it->second.content.append(data, len);
}

void OsCloseFile(OsFile* file) {
  if (!file || !file->open) Die("OsCloseFile on a file that is not open");
  file->open = false;
}

namespace sim {

void FsAddFolder(const std::string& path) {
  std::vector<std::string> parts = Parts(path, "FsAddFolder");
  AddFolders(parts, parts.size());
}

void FsAddFile(const std::string& path, const std::string& content) {
  std::vector<std::string> parts = Parts(path, "FsAddFile");
  if (parts.size() < 2) Die("FsAddFile: a drive is no file");
  AddFolders(parts, parts.size() - 1);
  std::string key = KeyOf(parts, parts.size());
  auto it = St().fs.find(key);
  if (it == St().fs.end()) {
    std::string display = St().fs[KeyOf(parts, parts.size() - 1)].path + "\\" + parts.back();
    St().fs[key] = FsEntry{display, false, content, false, false, false};
  } else if (it->second.folder) {
    Die("FsAddFile: a folder stands there: \"" + path + "\"");
  } else {
    it->second.content = content;
  }
}

bool FsExists(const std::string& path) { return Lookup(path.c_str()) != nullptr; }

bool FsIsFolder(const std::string& path) {
  FsEntry* e = Lookup(path.c_str());
  return e && e->folder;
}

std::string FsRead(const std::string& path) {
  FsEntry* e = Lookup(path.c_str());
  return e && !e->folder ? e->content : "";
}

void FsRemove(const std::string& path) {
  std::vector<std::string> parts = Parts(path, "FsRemove");
  RemoveFsTree(KeyOf(parts, parts.size()));
}

void FsSetLocked(const std::string& path, bool locked) { Existing(path, "FsSetLocked").locked = locked; }

void FsSetReadOnly(const std::string& path, bool readOnly) {
  Existing(path, "FsSetReadOnly").readOnly = readOnly;
}

void FsSetInUse(const std::string& path, bool inUse) { Existing(path, "FsSetInUse").inUse = inUse; }

void SetCurrentDirectory(const std::string& path) {
  std::vector<std::string> parts = Parts(path, "SetCurrentDirectory");
  St().cwd = StoredCase(St().fs, parts);
}

std::vector<std::string> FsAll() {
  std::vector<std::string> all;
  for (const auto& e : St().fs) {
    if (Split(e.first).size() > 1) all.push_back(e.second.path);  // drive roots are implied
  }
  std::sort(all.begin(), all.end());
  return all;
}

int OpenFiles() {
  int n = 0;
  for (const auto& f : St().files) n += f->open ? 1 : 0;
  return n;
}

void SetSpecialFolder(int csidl, const std::string& path) {
  if (path.size() > 259) Die("SetSpecialFolder: Windows never returns more than 259 bytes");
  St().special[csidl] = path;
}

}  // namespace sim
