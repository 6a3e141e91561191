// The registry below HKEY_LOCAL_MACHINE, with the 32-bit view of a 64-bit
// machine redirected to SOFTWARE\Wow6432Node.
#include <algorithm>
#include <cstring>

#include "platform/sim/sim_internal.h"

using namespace sim::detail;

namespace {

const LONG kKeyDeleted = 1018;        // ERROR_KEY_DELETED
const LONG kInvalidParameter = 87;    // ERROR_INVALID_PARAMETER
const REGSAM kAllAccess = 0xF003F;    // what the predefined key grants

bool Is64() {
  WORD a = St().nativeArch;
  return a == PROCESSOR_ARCHITECTURE_AMD64 || a == PROCESSOR_ARCHITECTURE_ARM64;
}

bool KeyExists(const std::string& key) { return key.empty() || St().keys.count(key) != 0; }

// The open handle behind `key`, or NULL with the error a call on it gets.
const RegHandle* FindHandle(HKEY key, LONG* rc) {
  static RegHandle root;
  root = RegHandle{"", "", 0, kAllAccess, true};
  *rc = ERROR_SUCCESS;
  if (key == HKEY_LOCAL_MACHINE) return &root;
  auto it = St().handles.find(reinterpret_cast<uintptr_t>(key));
  if (it == St().handles.end() || !it->second.open) {
    *rc = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  const RegHandle& h = it->second;
  auto k = St().keys.find(h.key);
  if (!h.key.empty() && (k == St().keys.end() || k->second.id != h.id)) *rc = kKeyDeleted;
  return &h;
}

// The physical key `parent` + `subKey` names. `view` holds the KEY_WOW64_*
// bits; they matter only below HKEY_LOCAL_MACHINE on a 64-bit machine.
// `*valid` is false for a malformed subKey (an empty component).
LONG Resolve(HKEY parent, const char* subKey, REGSAM view, std::vector<std::string>* parts,
             bool* valid) {
  LONG rc;
  const RegHandle* h = FindHandle(parent, &rc);
  if (rc != ERROR_SUCCESS) return rc;
  parts->clear();
  if (!h->path.empty()) *parts = Split(h->path);
  std::vector<std::string> rel;
  if (subKey && *subKey) rel = Split(subKey);
  if (rel.size() > 1 && rel.back().empty()) rel.pop_back();  // one trailing backslash
  *valid = true;
  for (const std::string& p : rel) *valid = *valid && !p.empty();
  // A 32-bit process's default view is the 32-bit one.
  if (parent == HKEY_LOCAL_MACHINE && Is64() && !(view & KEY_WOW64_64KEY) && rel.size() > 1 &&
      Fold(rel[0]) == "SOFTWARE" && Fold(rel[1]) != "WOW6432NODE") {
    rel.insert(rel.begin() + 1, "Wow6432Node");
  }
  parts->insert(parts->end(), rel.begin(), rel.end());
  return ERROR_SUCCESS;
}

// Display names of the direct subkeys of `key`, in the order Windows gives
// them: by upper-cased name.
// The first `limit` children of a key, in enumeration order. Enumerating at
// index 0 or asking whether any child is left needs only the first, which
// keeps deleting a very wide key linear.
std::vector<std::string> Children(const std::string& key, size_t limit = SIZE_MAX) {
  std::vector<std::string> names;
  std::string prefix = key.empty() ? "" : key + "\\";
  const auto& keys = St().keys;
  auto it = keys.lower_bound(prefix);
  while (names.size() < limit && it != keys.end() &&
         it->first.compare(0, prefix.size(), prefix) == 0) {
    std::vector<std::string> rest = Split(it->first.substr(prefix.size()));
    if (rest.size() == 1) {
      names.push_back(Split(it->second.path).back());
      ++it;
    } else {
      // The first key below a child: skip the rest of that child's subtree,
      // which sorts before "child]" (']' follows '\'). Siblings such as
      // "child1" sort before "child\" and were seen already.
      it = keys.lower_bound(prefix + rest[0] + "]");
    }
  }
  return names;
}

void Record(const char* op, const std::string& path, const char* arg, DWORD access, LONG rc) {
  St().regCalls.push_back(sim::RegCall{op, path, arg ? arg : "", access, rc});
}

}  // namespace

LONG OsRegOpenKey(HKEY parent, const char* subKey, REGSAM access, HKEY* out) {
  State& s = St();
  std::vector<std::string> parts;
  bool valid = false;
  LONG rc = Resolve(parent, subKey, access, &parts, &valid);
  std::string path = StoredCase(s.keys, parts);
  std::string key = Fold(path);
  auto fail = s.failOpen.find(key);
  if (rc != ERROR_SUCCESS) {
  } else if (!out) {
    rc = kInvalidParameter;
  } else if (fail != s.failOpen.end()) {
    rc = fail->second.code;
    s.lastError = fail->second.lastError;
  } else if (!valid || !KeyExists(key)) {
    rc = ERROR_FILE_NOT_FOUND;
  } else {
    uintptr_t value = s.nextHandle++;
    unsigned id = key.empty() ? 0 : s.keys[key].id;
    s.handles[value] = RegHandle{key, path, id, access, true};
    *out = reinterpret_cast<HKEY>(value);
  }
  if (rc != ERROR_SUCCESS && out) *out = nullptr;
  Record("open", path, subKey, access, rc);
  return rc;
}

LONG OsRegEnumKey(HKEY key, DWORD index, char* name, DWORD* nameLen) {
  LONG rc;
  const RegHandle* h = FindHandle(key, &rc);
  std::string path = h ? h->path : "";
  if (rc != ERROR_SUCCESS) {
  } else if (!(h->access & KEY_ENUMERATE_SUB_KEYS)) {
    rc = ERROR_ACCESS_DENIED;
  } else if (St().failEnum.count(h->key)) {
    rc = St().failEnum[h->key].code;
  } else if (!name || !nameLen) {
    rc = kInvalidParameter;
  } else {
    std::vector<std::string> names = Children(h->key, (size_t)index + 1);
    if (index >= names.size()) {
      rc = ERROR_NO_MORE_ITEMS;
    } else if (names[index].size() + 1 > *nameLen) {
      rc = ERROR_MORE_DATA;
    } else {
      std::memcpy(name, names[index].c_str(), names[index].size() + 1);
      *nameLen = static_cast<DWORD>(names[index].size());
    }
  }
  Record("enum", path, "", index, rc);
  return rc;
}

LONG OsRegQueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
  LONG rc;
  const RegHandle* h = FindHandle(key, &rc);
  std::string path = h ? h->path : "";
  DWORD given = size ? *size : 0;
  if (rc != ERROR_SUCCESS) {
  } else if (!(h->access & KEY_QUERY_VALUE)) {
    rc = ERROR_ACCESS_DENIED;
  } else if (data && !size) {
    rc = kInvalidParameter;
  } else {
    const RegValue* v = nullptr;
    auto k = St().keys.find(h->key);
    if (k != St().keys.end()) {
      auto it = k->second.values.find(Fold(name ? name : ""));
      if (it != k->second.values.end()) v = &it->second;
    }
    if (!v) {
      rc = ERROR_FILE_NOT_FOUND;
    } else if (data && v->bytes.size() > *size) {
      // Windows leaves the buffer undefined: fill it so that code reading
      // it anyway fails its tests.
      std::memset(data, 0xCD, *size);
      *size = static_cast<DWORD>(v->bytes.size());
      rc = ERROR_MORE_DATA;
    } else {
      if (data) std::memcpy(data, v->bytes.data(), v->bytes.size());
      if (size) *size = static_cast<DWORD>(v->bytes.size());
      if (type) *type = v->type;
    }
  }
  Record("query", path, name, given, rc);
  return rc;
}

LONG OsRegDeleteKey(HKEY parent, const char* subKey, REGSAM view) {
  State& s = St();
  std::vector<std::string> parts;
  bool valid = false;
  LONG rc = Resolve(parent, subKey, view, &parts, &valid);
  std::string path = StoredCase(s.keys, parts);
  std::string key = Fold(path);
  auto fail = s.failDelete.find(key);
  if (rc != ERROR_SUCCESS) {
  } else if (fail != s.failDelete.end()) {
    rc = fail->second.code;
    s.lastError = fail->second.lastError;
  } else if (!valid || !KeyExists(key)) {
    rc = ERROR_FILE_NOT_FOUND;
  } else if (key.empty() || !Children(key, 1).empty()) {
    rc = ERROR_ACCESS_DENIED;
  } else {
    s.keys.erase(key);
  }
  Record("delete", path, subKey, view, rc);
  return rc;
}

void OsRegCloseKey(HKEY key) {
  State& s = St();
  if (key == HKEY_LOCAL_MACHINE) {  // closing a predefined key does nothing
    Record("close", "", "", 0, ERROR_SUCCESS);
    return;
  }
  auto it = s.handles.find(reinterpret_cast<uintptr_t>(key));
  if (it == s.handles.end() || !it->second.open) {
    ++s.regBadCloses;
    Record("close", it == s.handles.end() ? "" : it->second.path, "", 0, ERROR_INVALID_HANDLE);
    return;
  }
  it->second.open = false;
  Record("close", it->second.path, "", 0, ERROR_SUCCESS);
}

namespace sim {

void RegAddKey(const std::string& path) {
  State& s = St();
  std::vector<std::string> parts = Split(path);
  std::string display;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].empty()) Die("RegAddKey: malformed key path \"" + path + "\"");
    display = i ? display + "\\" + parts[i] : parts[i];
    auto it = s.keys.find(Fold(display));
    if (it == s.keys.end()) {
      s.keys[Fold(display)] = RegKey{display, s.nextKeyId++, {}};
    } else {
      display = it->second.path;
    }
  }
}

void RegSetValue(const std::string& keyPath, const std::string& name, DWORD type,
                 const std::string& bytes) {
  RegAddKey(keyPath);
  St().keys[Fold(keyPath)].values[Fold(name)] = RegValue{name, type, bytes};
}

void RegSetString(const std::string& keyPath, const std::string& name, const std::string& text) {
  RegSetValue(keyPath, name, REG_SZ, text + std::string(1, '\0'));
}

void RegSetDword(const std::string& keyPath, const std::string& name, DWORD value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  RegSetValue(keyPath, name, REG_DWORD, bytes);
}

bool RegKeyExists(const std::string& path) { return KeyExists(Fold(path)); }

std::vector<std::string> RegAllKeys() {
  std::vector<std::string> all;
  for (const auto& k : St().keys) all.push_back(k.second.path);
  std::sort(all.begin(), all.end());
  return all;
}

void RegFailOpen(const std::string& path, LONG code, DWORD lastError) {
  St().failOpen[Fold(path)] = RegFailure{code, lastError};
}

void RegFailEnum(const std::string& path, LONG code) {
  St().failEnum[Fold(path)] = RegFailure{code, 0};
}

void RegFailDelete(const std::string& path, LONG code, DWORD lastError) {
  St().failDelete[Fold(path)] = RegFailure{code, lastError};
}

int RegOpenHandles() {
  int n = 0;
  for (const auto& h : St().handles) n += h.second.open ? 1 : 0;
  return n;
}

int RegBadCloses() { return St().regBadCloses; }

const std::vector<RegCall>& RegCalls() { return St().regCalls; }

}  // namespace sim
