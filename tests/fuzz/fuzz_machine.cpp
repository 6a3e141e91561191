#include "tests/fuzz/fuzz_machine.h"

#include <string.h>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "tests/host/demo_machine.h"

namespace fuzz {

const char kGuid[] = "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}";
const char* const kArchives[5] = {"TAVOCryptJNI.jar", "TAVOCryptSignJNI.jar",
                                  "TAVOCryptAuthJNI.jar", "TAVOUserCertService.jar",
                                  "TAVOUserCertServiceMain.jar"};

namespace {

const char kStartMenu[] = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
const long long kDefaultSeconds = 1796710190LL;  // what sim::Reset sets

// Lengths around every fixed field of the tool: 16 (version, date), 32
// (name), 60 (the padded question line), 239 (the longest profile that still
// takes the log), 260 (paths), 1024 (a log message), 2048 (a dialog text).
const size_t kMadeLengths[32] = {0,   1,   2,   15,  16,   17,   31,   32,   33,   59,  60,
                                 61,  127, 128, 200, 238,  239,  240,  254,  255,  256, 258,
                                 259, 260, 261, 300, 1000, 1023, 1024, 2047, 2048, 4000};

const char* const kRegBases[8] = {
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}",
    "TAVO",
    "TAVO\\Version",
    "Microsoft\\Cryptography\\Defaults\\Provider\\TAVO Crypto Service Provider",
    "Microsoft\\Cryptography\\Defaults\\Provider\\TAVO Crypto Service Provider for Sign",
    "Microsoft\\Cryptography\\Defaults\\Provider\\TAVO Crypto Service Provider for Auth",
    "JavaSoft\\Java Runtime Environment",
    "Microsoft\\Cryptography\\Defaults\\Provider",
};

const char* const kValueNames[12] = {"DisplayName", "DisplayVersion", "InstallLocation",
                                     "InstallDate", "InstallPath",    "Major",
                                     "Minor",       "Revision",       "CurrentVersion",
                                     "JavaHome",    "",               "Image Path"};

const DWORD kValueTypes[8] = {REG_SZ,    REG_EXPAND_SZ, REG_DWORD, REG_BINARY,
                              REG_QWORD, REG_MULTI_SZ,  REG_NONE,  REG_SZ};

const int kAnswers[16] = {IDYES, IDNO, IDCANCEL, IDOK,  0,     3,    4,    5,
                          10,    11,   -1,       32000, IDYES, IDNO, IDOK, IDCANCEL};

// 1018 ERROR_KEY_DELETED, 87 ERROR_INVALID_PARAMETER, 1450 ERROR_NO_SYSTEM_RESOURCES.
const LONG kRegErrors[8] = {ERROR_ACCESS_DENIED,  ERROR_FILE_NOT_FOUND, 1018, ERROR_MORE_DATA,
                            ERROR_INVALID_HANDLE, 87,                   1450, ERROR_NO_MORE_ITEMS};

// E_FAIL, access denied, sharing violation, cancelled, E_POINTER, not found,
// E_NOTIMPL, E_UNEXPECTED.
const HRESULT kShellErrors[8] = {E_FAIL,
                                 (HRESULT)0x80070005u, (HRESULT)0x80070020u, (HRESULT)0x800704C7u,
                                 (HRESULT)0x80004003u, (HRESULT)0x80070002u, E_NOTIMPL,
                                 (HRESULT)0x8000FFFFu};

// Subkey names for trees: conversions, trail bytes that are 0x5C ("ソ",
// "表", "能"), dots, a long name, and the tool's own names.
const std::string kTreeNames[12] = {"a",  "Sub", "%s%n%x", "%%",   "ソ",      "表能",
                                    "..", " .",  kGuid,    "TAVO", "Version", std::string(246, 'k')};

// Bounds that keep one run to a few milliseconds.
enum {
  kMaxKeys = 200,
  kMaxKeyName = 255,
  kMaxSubpathParts = 8,
  kMaxKeyPath = 1024,
  kMaxFsPath = 400,
  kMaxSpecial = 259,
};

using sim::detail::Fold;  // the simulation's own, so both sides fold names alike
using sim::detail::IsLead;

bool HasDrive(const std::string& s) {
  return s.size() >= 2 && s[1] == ':' &&
         ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

// The name with '_' for every character Windows refuses in a file name.
std::string FsSafe(std::string name) {
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = (unsigned char)name[i];
    if (IsLead(c)) {
      ++i;
    } else if (c < 0x20 || strchr("<>:\"/|?*", c)) {
      name[i] = '_';
    }
  }
  return name;
}

bool ValidFsName(const std::string& name) { return FsSafe(name) == name; }

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

// A name that, joined with others, still splits back into itself: no NUL
// (no A function takes one) and no lead byte left without its trail byte.
std::string WholeName(std::string name, size_t maxBytes) {
  for (char& c : name) {
    if (c == '\0') c = '_';
  }
  size_t i = 0;
  while (i < name.size() && i < maxBytes) {
    size_t step = IsLead((unsigned char)name[i]) ? 2 : 1;
    if (i + step > name.size() || i + step > maxBytes) break;
    i += step;
  }
  if (i < name.size()) name.resize(i);
  return name;
}

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Bytes(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= (uint32_t)Byte() << (8 * i);
    return v;
  }
  std::string Take(size_t n) {
    n = n < size_ - at_ ? n : size_ - at_;
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string Text() {
    uint8_t length = Byte();
    std::string text;
    if (length < 0xE0) {
      text = Take(length);
    } else {
      size_t made = kMadeLengths[length - 0xE0];
      std::string pattern = Take(Byte() % 17);
      if (pattern.empty()) pattern = "A";
      while (text.size() < made) text += pattern;
      text.resize(made);
    }
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class Builder {
 public:
  Builder(Reader* in, Planted* planted) : in_(*in), planted_(*planted) {}

  void Machine(uint8_t flags) {
    static const WORD kArch[4] = {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL,
                                  PROCESSOR_ARCHITECTURE_ARM64, PROCESSOR_ARCHITECTURE_IA64};
    WORD native = kArch[flags & 3];
    bool x86 = native == PROCESSOR_ARCHITECTURE_INTEL;
    bool amd64 = native == PROCESSOR_ARCHITECTURE_AMD64;
    // Every 64-bit Windows has GetNativeSystemInfo; a 64-bit process only
    // runs on x64 here.
    bool hasNative = !(x86 && (flags & 4));
    WORD process =
        amd64 && (flags & 8) ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
    planted_.nativeAmd64 = amd64;
    planted_.wowBranch = amd64 || native == PROCESSOR_ARCHITECTURE_ARM64;
    if (!planted_.wowBranch) demo::MakeMachine32();  // one Program Files; the views set below
    sim::SetArchitecture(native, process, hasNative);
    if (flags & 16) sim::FsAddFolder("C:\\Users\\user\\TAVO");
    sim::SetClockFailure(flags & 32, flags & 64);
    if (flags & 128) sim::SetClock(kDefaultSeconds, 123, 9 * 3600, 7);
  }

  void Operation(uint8_t op) {
    // In opcode order, as fuzz_machine.h lists them.
    static void (Builder::*const kOps[kOpCount])() = {
        &Builder::Key,       &Builder::Value,   &Builder::Tree,    &Builder::Folder,
        &Builder::File,      &Builder::Env,     &Builder::Special, &Builder::RegFail,
        &Builder::ShellFail, &Builder::FsFlag,  &Builder::Answer,  &Builder::CurrentDirectory,
        &Builder::Clock,     &Builder::LogFile, &Builder::Install, &Builder::StartMenu};
    (this->*kOps[op % kOpCount])();
  }

 private:
  // The operands are read one statement at a time: the order in which a
  // call's arguments are evaluated is the compiler's choice.
  std::string ReadRegPath() {
    uint8_t ref = in_.Byte();
    return RegPath(ref, in_.Text());
  }

  std::string ReadFsPath() {
    uint8_t place = in_.Byte();
    return FsPath(place, in_.Text());
  }

  // --- registry --------------------------------------------------------------

  std::string RegPath(uint8_t ref, const std::string& subpath) {
    std::vector<std::string> parts = SplitPath(ref & 1 ? "SOFTWARE\\Wow6432Node" : "SOFTWARE");
    for (const std::string& p : SplitPath(kRegBases[(ref >> 1) & 7])) parts.push_back(p);
    if (ref & 16) parts.pop_back();
    size_t added = 0;
    for (const std::string& p : SplitPath(subpath)) {
      std::string name = WholeName(p, kMaxKeyName);
      if (!name.empty() && added++ < kMaxSubpathParts) parts.push_back(name);
    }
    return Join(parts);
  }

  void Key() { AddKey(ReadRegPath()); }

  bool AddKey(const std::string& path) {
    if (keys_ >= kMaxKeys || path.size() > kMaxKeyPath) return false;
    ++keys_;
    sim::RegAddKey(path);
    return true;
  }

  void Value() {
    std::string key = ReadRegPath();
    uint8_t nameIndex = in_.Byte() & 15;
    std::string name = nameIndex < 12 ? kValueNames[nameIndex] : WholeName(in_.Text(), 16383);
    uint8_t type = in_.Byte();
    std::string data = in_.Text();
    if (type & 8) data.push_back('\0');
    if (!AddKey(key)) return;
    sim::RegSetValue(key, name, kValueTypes[type & 7], data);
    lastText_ = data.substr(0, data.find('\0'));
  }

  void Tree() {
    std::string root = ReadRegPath();
    uint8_t shape = in_.Byte();
    uint32_t seed = in_.Byte();
    Grow(root, 1 + (shape & 3) % 3, 1 + ((shape >> 2) & 3) % 3, &seed);
  }

  void Grow(const std::string& key, int depth, int width, uint32_t* seed) {
    if (!AddKey(key) || depth == 0) return;
    for (int i = 0; i < width; ++i) {
      *seed = *seed * 1103515245u + 12345u;
      std::string name = kTreeNames[(*seed >> 16) % 12];
      Grow(key + "\\" + name + (i ? std::to_string(i) : ""), depth - 1, width, seed);
    }
  }

  void RegFail() {
    uint8_t kind = in_.Byte() % 3;
    std::string key = ReadRegPath();
    LONG code = kRegErrors[in_.Byte() & 7];
    DWORD lastError = in_.Byte();
    if (kind == 0) sim::RegFailOpen(key, code, lastError);
    if (kind == 1) sim::RegFailEnum(key, code);
    if (kind == 2) sim::RegFailDelete(key, code, lastError);
  }

  // --- file system -----------------------------------------------------------

  void Folder() { AddFolder(ReadFsPath()); }
  void File() { AddFile(ReadFsPath(), ""); }

  // An absolute path below the place: every part a name Windows accepts,
  // "." and ".." left out. "" when nothing is left of it.
  std::string FsPath(uint8_t place, const std::string& subpath) {
    static const char* const kPlaces[7] = {
        "C:\\Program Files",
        "C:\\Program Files (x86)",
        kStartMenu,
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp",
        "C:\\Users\\user",
        "C:\\work",
        "C:",
    };
    std::string base = (place & 7) < 7 ? kPlaces[place & 7] : lastText_;
    std::vector<std::string> parts{HasDrive(base) ? base.substr(0, 2) : "C:"};
    if (HasDrive(base)) base = base.substr(2);
    for (const std::string& p : SplitPath(base + "\\" + subpath)) {
      std::string name = WholeName(p, kMaxKeyName);
      if (!name.empty() && name != "." && name != "..") parts.push_back(FsSafe(name));
    }
    std::string path = Join(parts);
    return parts.size() > 1 && path.size() <= kMaxFsPath ? path : "";
  }

  // True for an absolute path of names Windows accepts ("." and ".." left
  // out) where every folder above it is a folder or missing.
  static bool RoomFor(const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.size() < 2 || parts[0].size() != 2 || !HasDrive(parts[0])) return false;
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i].empty() || parts[i] == "." || parts[i] == ".." || !ValidFsName(parts[i]))
        return false;
    }
    std::string prefix = parts[0];
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
      prefix += "\\" + parts[i];
      if (sim::FsExists(prefix) && !sim::FsIsFolder(prefix)) return false;
    }
    return true;
  }

  static bool AddFolder(const std::string& path) {
    if (path.empty() || !RoomFor(path) || (sim::FsExists(path) && !sim::FsIsFolder(path))) {
      return false;
    }
    sim::FsAddFolder(path);
    return true;
  }

  static bool AddFile(const std::string& path, const std::string& content) {
    if (path.empty() || !RoomFor(path) || sim::FsIsFolder(path)) return false;
    sim::FsAddFile(path, content);
    return true;
  }

  void FsFlag() {
    uint8_t flag = in_.Byte() % 3;
    std::string path = ReadFsPath();
    if (path.empty() || !sim::FsExists(path)) return;
    std::string key = FsKey(path, planted_.cwd);
    if (flag == 0) sim::FsSetInUse(path, true);
    if (flag == 1) {
      sim::FsSetLocked(path, true);
      planted_.locked.insert(key);
    }
    if (flag == 2) {
      sim::FsSetReadOnly(path, true);
      planted_.readOnly.insert(key);
    }
  }

  void CurrentDirectory() {
    std::string path = ReadFsPath();
    if (path.empty() || !sim::FsIsFolder(path)) return;
    sim::SetCurrentDirectory(path);
    planted_.cwd = path;
  }

  void LogFile() {
    uint8_t flags = in_.Byte();
    std::string folder = planted_.cwd;
    if (flags & 1) {
      if (planted_.profile.empty()) return;
      folder = planted_.profile + "\\TAVO";
      if (!AddFolder(folder)) return;
    }
    std::string path = folder + "\\TAVOSweeper.log";
    bool made = flags & 8 ? AddFolder(path) : AddFile(path, flags & 4 ? "earlier run\r\n" : "");
    if (made && (flags & 2)) {
      sim::FsSetLocked(path, true);
      planted_.locked.insert(FsKey(path, planted_.cwd));
    }
  }

  // --- environment, special folders, clock, shell, answers --------------------

  void Env() {
    static const char* const kNames[3] = {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"};
    uint8_t which = in_.Byte();
    std::string value = in_.Text();
    const char* name = kNames[(which & 127) % 3];
    if (which & 128) {
      sim::UnsetEnv(name);
    } else {
      sim::SetEnv(name, WholeName(value, value.size()));
    }
  }

  void Special() {
    static const int kFolders[3] = {CSIDL_PROFILE, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP};
    uint8_t which = in_.Byte();
    std::string path = in_.Text();
    int csidl = kFolders[(which & 127) % 3];
    if (which & 128) {
      path = FsPath(6, path);  // below C:, as a real folder
      if (path.size() > kMaxSpecial || !AddFolder(path)) return;
    } else {
      path = WholeName(path, kMaxSpecial);
    }
    sim::SetSpecialFolder(csidl, path);
    if (csidl == CSIDL_PROFILE) planted_.profile = path;
  }

  void Clock() {
    long long seconds = (int32_t)in_.Bytes(4);
    int millis = (int)(in_.Bytes(2) % 1000);
    int step = in_.Byte();
    int offsetHours = (int8_t)in_.Byte();
    sim::SetClock(seconds, millis, offsetHours * 3600, step);
  }

  void ShellFail() {
    int stage = in_.Byte() % 6;
    HRESULT hr = kShellErrors[in_.Byte() & 7];
    sim::ShellFail((sim::ShellStage)stage, hr, in_.Byte());
  }

  void Answer() {
    uint8_t b = in_.Byte();
    for (int i = 0; i <= b >> 4; ++i) planted_.answers.push_back(kAnswers[b & 15]);
  }

  // --- whole parts of an install ---------------------------------------------

  void Install() {
    uint8_t flags = in_.Byte();
    // Each kind once: planting it again changes nothing but the time taken.
    if (installed_ & (1u << (flags & 3))) return;
    installed_ |= 1u << (flags & 3);
    const std::string branch = flags & 1 ? "SOFTWARE\\Wow6432Node" : "SOFTWARE";
    const std::string programFiles = flags & 1 ? "C:\\Program Files (x86)" : "C:\\Program Files";
    const std::string folder = programFiles + "\\TAVO";
    const std::string entry = branch + "\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kGuid;
    const std::string home = programFiles + "\\Java\\jre1.8.0_401";
    keys_ += 8;
    sim::RegSetString(entry, "DisplayName", "TAVO利用者ソフト");
    sim::RegSetString(entry, "DisplayVersion", "5.1.0");
    sim::RegSetString(entry, "InstallLocation", folder + "\\");
    sim::RegSetString(entry, "InstallDate", "20240401");
    sim::RegSetString(branch + "\\TAVO", "InstallPath", folder);
    sim::RegSetDword(branch + "\\TAVO\\Version", "Major", 5);
    sim::RegSetDword(branch + "\\TAVO\\Version", "Minor", 1);
    sim::RegSetDword(branch + "\\TAVO\\Version", "Revision", 0);
    for (int i = 3; i <= 5; ++i) {
      sim::RegSetDword(branch + "\\" + kRegBases[i], "Type", 1);
    }
    sim::RegSetString(branch + "\\JavaSoft\\Java Runtime Environment", "CurrentVersion", "1.8");
    sim::RegSetString(branch + "\\JavaSoft\\Java Runtime Environment\\1.8", "JavaHome", home);
    lastText_ = folder;
    if (flags & 2) return;
    AddFile(folder + "\\bin\\TAVOCrypt.dll", "MZ");
    AddFile(folder + "\\設定\\user.ini", "[user]");
    AddFile(programFiles + "\\InstallShield Installation Information\\" + kGuid + "\\setup.ini",
            "");
    for (const char* archive : kArchives) AddFile(home + "\\lib\\ext\\" + archive, "PK");
    AddFile(home + "\\lib\\ext\\other.jar", "PK");
  }

  void StartMenu() {
    uint8_t flags = in_.Byte() & ~startMenu_;
    startMenu_ |= flags;
    const std::string folder = std::string(kStartMenu) + "\\ミラネス";
    const std::string shortcut = std::string(kStartMenu) + "\\StartUp\\更新通知.lnk";
    if (flags & 1) AddFile(folder + "\\TAVO.lnk", "");
    if (flags & 2) AddFile(shortcut, "");
    if (flags & 4) AddFile(folder, "");
    if (flags & 8) AddFolder(shortcut);
  }

  Reader& in_;
  Planted& planted_;
  int keys_ = 0;
  unsigned installed_ = 0;
  uint8_t startMenu_ = 0;
  std::string lastText_;
};

}  // namespace

std::vector<std::string> SplitPath(const std::string& path) {
  // The simulation's own splitter, so both sides cut paths the same way.
  return sim::detail::Split(path);
}

std::string FsKey(const std::string& path, const std::string& cwd) {
  if (path.empty()) return "";
  std::vector<std::string> at = SplitPath(cwd);
  std::string rest = path;
  if (HasDrive(path)) {
    std::string letter = Fold(path.substr(0, 2));
    rest = path.substr(2);
    if (!rest.empty() && rest[0] == '\\') {
      at = {letter};
      rest = rest.substr(1);
    } else if (Fold(at[0]) != letter) {
      at = {letter};  // another drive's current folder: its root here
    }
  } else if (path[0] == '\\') {
    if (path.size() > 1 && path[1] == '\\') return "";  // a network path
    at.resize(1);
    rest = path.substr(1);
  }
  if (!rest.empty()) {
    std::vector<std::string> parts = SplitPath(rest);
    if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
    for (const std::string& p : parts) {
      if (p.empty() || !ValidFsName(p)) return "";
      if (p == "..") {
        if (at.size() > 1) at.pop_back();
      } else if (p != ".") {
        at.push_back(p);
      }
    }
  }
  return Fold(Join(at));
}

std::string RegKey(const std::string& path) { return Fold(path); }

void Plant(const uint8_t* data, size_t size, Planted* planted) {
  sim::Reset();
  *planted = Planted();
  planted->profile = "C:\\Users\\user";
  planted->cwd = "C:\\work";
  Reader in(data, size);
  Builder builder(&in, planted);
  builder.Machine(in.Byte());
  while (!in.AtEnd()) builder.Operation(in.Byte());
}

}  // namespace fuzz
