// Tests of the fuzz harness itself: the seeds build the machines they are
// named after and pass, every invariant fires on a run broken in its way,
// and the path model agrees with the simulated Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/fuzz/fuzz_run.h"
#include "ui/texts.h"

namespace {

using fuzz::RunRecord;

std::string ReadSeed(const std::string& name) {
  std::ifstream in(std::string(TAVO_SEED_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing seed " << name;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

RunRecord RunSeed(const std::string& name) {
  std::string data = ReadSeed(name);
  return fuzz::RunMachine(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

int Questions(const RunRecord& run) {
  return (int)std::count_if(run.boxes.begin(), run.boxes.end(),
                            [](const sim::Box& b) { return b.style == MB_YESNOCANCEL; });
}

std::string Log(const RunRecord& run) {
  auto it = run.fsAfter.find(run.logKey);
  return it == run.fsAfter.end() ? "" : it->second.content;
}

bool Has(const std::vector<std::string>& all, const std::string& part) {
  return std::any_of(all.begin(), all.end(),
                     [&](const std::string& s) { return s.find(part) != std::string::npos; });
}

// Every FsKey but the log's.
std::vector<std::string> FsPaths(const RunRecord& run,
                                 const std::map<std::string, fuzz::FsEntry>& fs) {
  std::vector<std::string> paths;
  for (const auto& entry : fs) {
    if (entry.first != run.logKey) paths.push_back(entry.first);
  }
  return paths;
}

// --- seeds ---------------------------------------------------------------------

struct SeedCase {
  const char* name;
  int questions;
  bool closing;          // the closing dialog was shown
  const char* logHas;    // "" when the log must stay as it was
  const char* keyGone;   // a key the run removed ("" none)
  const char* keyStays;  // a key the run kept ("" none)
  const char* fsGone;    // FsKey the run removed ("" none)
  const char* fsStays;   // FsKey the run kept ("" none)
};

const char kOtherJar[] = "C:\\PROGRAM FILES\\JAVA\\JRE1.8.0_401\\LIB\\EXT\\OTHER.JAR";

const SeedCase kSeeds[] = {
    {"empty_64", 0, true, "[GetIs64BitOS] OS=64bit", "", "", "", ""},
    {"full_yes_64", 14, true, "[GetIs64BitOS] OS=64bit", "SOFTWARE\\Wow6432Node\\TAVO\\Version",
     "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8", "C:\\PROGRAM FILES (X86)\\TAVO",
     kOtherJar},
    {"full_no_64", 16, true, "[ConfirmDeleteItem] IDNO", "", "SOFTWARE\\TAVO", "", ""},
    {"abort_first_question", 1, false, "[ConfirmDeleteItem] IDCANCEL", "", "SOFTWARE\\TAVO", "",
     ""},
    {"full_yes_32", 8, true, "[GetIs64BitOS] OS=32bit", "SOFTWARE\\TAVO", "",
     "C:\\PROGRAM FILES\\TAVO", kOtherJar},
    // Shell and registry failures leave everything; a locked log gets nothing.
    {"failures", 6, false, "", "", "SOFTWARE\\TAVO\\Sub", "", ""},
    // The folder stays with the file in use; the key with the subkey that
    // does not open. The folder is then asked about a second time.
    {"partial_removals", 15, true, "GetAnyOperationsAborted ERROR", "Uninstall\\{",
     "SOFTWARE\\TAVO\\Version", "C:\\PROGRAM FILES\\TAVO\\設定",
     "C:\\PROGRAM FILES\\TAVO\\BIN\\TAVOCRYPT.DLL"},
    {"odd_values", 4, true, "ERROR : Path Too Long", "SOFTWARE\\TAVO", "",
     "C:\\PROGRAM FILES\\TAVO\\設定ソ表", ""},
    // Line breaks in machine texts show as '?' and add no line.
    {"line_break_in_value", 1, true, "[GetRegValue] InstallLocation=C:\\TAVO??forged\r\n", "",
     "Uninstall\\{5E2B9C41", "", ""},
    {"line_break_forged_removal", 1, true,
     "C:\\TAVO??[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\r\n", "",
     "SOFTWARE\\Microsoft\\Windows", "", ""},
    {"line_break_in_key_name", 1, true,
     "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\line??break\r\n", "SOFTWARE\\TAVO", "", "",
     ""},
    {"line_break_in_environment", 0, true, "Path=C:\\Program Files??x\r\n", "", "", "", ""},
    {"arm64", 8, true, "[GetIs64BitOS] OS=32bit", "SOFTWARE\\Wow6432Node\\TAVO", "",
     "C:\\PROGRAM FILES (X86)\\TAVO", ""},
    // A DEL in a path asked about and deleted shows as '?' in the log.
    {"del_in_asked_folder", 2, true, "[DeleteItem] C:\\Pr?gram Files\\TAVO\\設定ソ表\r\n", "",
     "Uninstall\\{5E2B9C41", "C:\\PR\x7fGRAM FILES\\TAVO\\設定ソ表", "C:\\PR\x7fGRAM FILES\\TAVO"},
    {"del_in_java_home", 1, true, "[DeleteItem] C:\\Java?\\lib\\ext\\TAVOCryptJNI.jar\r\n", "", "",
     "C:\\JAVA\x7f\\LIB\\EXT\\TAVOCRYPTJNI.JAR", "C:\\JAVA\x7f\\LIB\\EXT\\OTHER.JAR"},
    {"del_in_start_menu", 2, true, "[DeleteItem] C:\\Start?Menu\\StartUp\\更新通知.lnk\r\n", "", "",
     "C:\\START\x7fMENU\\ミラネス", "C:\\START\x7fMENU\\STARTUP"},
    // A lead byte before LF and before '?': both logged as the lead byte
    // and '?'; the conversion for the shell refuses the path.
    {"control_after_lead_byte", 2, true, "[DeleteItem] C:\\TAVO\\\x83?\x83?\r\n mbstowcs ERROR", "",
     "Uninstall\\{5E2B9C41", "", ""},
};

TEST(Seeds, BuildTheirMachinesAndPass) {
  for (const SeedCase& c : kSeeds) {
    SCOPED_TRACE(c.name);
    RunRecord run = RunSeed(c.name);
    EXPECT_EQ(fuzz::CheckRun(run), std::vector<std::string>());
    EXPECT_EQ(Questions(run), c.questions);
    EXPECT_EQ(run.boxes.back().style == MB_OK, c.closing);
    if (*c.logHas) {
      EXPECT_NE(Log(run).find(c.logHas), std::string::npos) << Log(run);
    } else {
      EXPECT_EQ(run.fsBefore.at(run.logKey).content, Log(run));
    }
    if (*c.keyGone) {
      EXPECT_TRUE(Has(run.keysBefore, c.keyGone));
      EXPECT_FALSE(Has(run.keysAfter, c.keyGone));
    }
    if (*c.keyStays) EXPECT_TRUE(Has(run.keysAfter, c.keyStays));
    if (*c.fsGone) {
      EXPECT_TRUE(Has(FsPaths(run, run.fsBefore), c.fsGone));
      EXPECT_FALSE(Has(FsPaths(run, run.fsAfter), c.fsGone));
    }
    if (*c.fsStays) EXPECT_TRUE(Has(FsPaths(run, run.fsAfter), c.fsStays));
    if (!*c.keyGone) EXPECT_EQ(run.keysBefore, run.keysAfter);
    if (!*c.fsGone) EXPECT_EQ(FsPaths(run, run.fsBefore), FsPaths(run, run.fsAfter));
  }
}

// --- invariants ----------------------------------------------------------------

// The index of the first box whose text holds `part`.
size_t BoxWith(const RunRecord& run, const std::string& part) {
  for (size_t i = 0; i < run.boxes.size(); ++i) {
    if (run.boxes[i].text.find(part) != std::string::npos) return i;
  }
  ADD_FAILURE() << "no dialog with " << part;
  return 0;
}

// The abort confirmation, answered `result`; `end` follows the padded text.
sim::Box AbortBox(int result, const char* end = "\n") {
  char text[64];
  snprintf(text, sizeof text, "%-60s%s", TAVO_ASK_ABORT, end);
  return sim::Box{text, TAVO_DIALOG_TITLE, MB_OKCANCEL, result};
}

const char kFolderAsked[] = "C:\\Program Files\\TAVO\\\n";
const char kEntryAsked[] = "Uninstall\\{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}\n";

struct Breakage {
  const char* message;  // a part of the failure it must cause
  std::function<void(RunRecord*)> apply;
};

// The question whose text holds `part` answered No.
std::function<void(RunRecord*)> AnsweredNo(const std::string& part) {
  return [part](RunRecord* r) { r->boxes[BoxWith(*r, part)].result = IDNO; };
}

// The first question answered `result`, and `box` shown after it.
std::function<void(RunRecord*)> ThenBox(int result, const sim::Box& box) {
  return [result, box](RunRecord* r) {
    r->boxes[1].result = result;
    r->boxes.insert(r->boxes.begin() + 2, box);
  };
}

// In the question whose text holds `part`, `from` replaced by `to`.
std::function<void(RunRecord*)> Edited(const std::string& part, const std::string& from,
                                       const std::string& to) {
  return [=](RunRecord* r) {
    std::string& text = r->boxes[BoxWith(*r, part)].text;
    size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
  };
}

// `text` added to the log.
std::function<void(RunRecord*)> Logged(const std::string& text) {
  return [text](RunRecord* r) { r->fsAfter[r->logKey].content += text; };
}

const Breakage kBreakages[] = {
    {"WinMain returned 1", [](RunRecord* r) { r->returned = 1; }},
    {"registry handles left open", [](RunRecord* r) { r->regOpenHandles = 1; }},
    {"bad RegCloseKey", [](RunRecord* r) { r->regBadCloses = 2; }},
    {"shell objects not released", [](RunRecord* r) { r->shellAlive = 1; }},
    {"released twice", [](RunRecord* r) { r->shellBadReleases = 1; }},
    {"files left open", [](RunRecord* r) { r->openFiles = 1; }},
    {"dialog title", [](RunRecord* r) { r->boxes[3].title += " "; }},
    {"first dialog is not the start dialog", [](RunRecord* r) { r->boxes[0].style = MB_OK; }},
    {"question of unknown layout", [](RunRecord* r) { r->boxes[1].text = "?\n"; }},
    {"question text of 2", [](RunRecord* r) { r->boxes[1].text += std::string(2000, 'x') + "\n"; }},
    // Deletions no Yes covered.
    {"removed unasked: C:\\PROGRAM FILES\\TAVO", AnsweredNo(kFolderAsked)},
    {"shell deletion unasked of C:\\Program Files\\TAVO", AnsweredNo(kFolderAsked)},
    {"registry key removed unasked: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{",
     AnsweredNo(std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\") + kEntryAsked)},
    {"RegDeleteKeyEx unasked on SOFTWARE\\JavaSoft",
     [](RunRecord* r) {
       r->regCalls.push_back(sim::RegCall{"delete", "SOFTWARE\\JavaSoft", "", 0, 5});
     }},
    {"registry key created: SOFTWARE\\New",
     [](RunRecord* r) { r->keysAfter.push_back("SOFTWARE\\New"); }},
    {"created: C:\\NEW", [](RunRecord* r) { r->fsAfter["C:\\NEW"] = fuzz::FsEntry{false, ""}; }},
    {"file changed: C:\\PROGRAM FILES\\JAVA\\JRE1.8.0_401\\LIB\\EXT\\OTHER.JAR",
     [](RunRecord* r) { r->fsAfter[kOtherJar].content = "x"; }},
    {"file became folder", [](RunRecord* r) { r->fsAfter[kOtherJar].folder = true; }},
    // Dialog order.
    {"neither ended at a question nor showed the closing dialog",
     [](RunRecord* r) { r->boxes.pop_back(); }},
    {"dialogs after the closing dialog", [](RunRecord* r) { r->boxes.push_back(r->boxes.back()); }},
    {"no abort confirmation", [](RunRecord* r) { r->boxes[1].result = IDCANCEL; }},
    {"question not asked again", ThenBox(IDCANCEL, AbortBox(IDCANCEL))},
    {"dialogs after the run was ended", ThenBox(IDCANCEL, AbortBox(IDOK))},
    {"abort confirmation", ThenBox(0, AbortBox(IDOK, ""))},
    // Question contents.
    {"archive question names no lib\\ext", Edited("\\lib\\ext\n", "\\lib\\ext\n", "\\lib\n")},
    {"provider question names",
     Edited("\\Defaults\\Provider\n", "SOFTWARE\\Microsoft", "SYSTEM\\Microsoft")},
    {"key question's record is malformed", Edited(kEntryAsked, TAVO_LABEL_DATE, "date: ")},
    {"key question's record is malformed", Edited(kEntryAsked, "5.1.0", std::string(16, '5'))},
    // The log.
    {"log line of unknown shape: garbage", Logged("garbage\r\n")},
    {"log line of unknown shape: ", Logged("\r\n")},
    {"log line of 1115 bytes", Logged("[OpenRegKey] " + std::string(1100, 'x') + "\r\n")},
    {"log reports a removal not asked for: [DeleteRegKey]",
     Logged("[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\r\n")},
    {"log reports a removal not asked for: [DeleteItem]", Logged("[DeleteItem] C:\\Windows\r\n")},
    // A '?' in a logged path stands for a DEL, not for any character.
    {"log reports a removal not asked for: [DeleteItem] C:\\Program Files\\TAVO?",
     Logged("[DeleteItem] C:\\Program Files\\TAVO?\r\n")},
    {"log reports a removal not asked for: [DeleteItem] C:\\Program Files\\TAV?\\bin",
     Logged("[DeleteItem] C:\\Program Files\\TAV?\\bin\r\n")},
    {"log line with a lone CR or LF", Logged("[OpenRegKey] a\nb\r\n")},
    {"log does not end with CR LF", Logged("[OpenRegKey] a")},
    {"log rewritten",
     [](RunRecord* r) { r->fsBefore[r->logKey] = fuzz::FsEntry{false, "earlier\r\n"}; }},
    {"nothing logged though the log could be written",
     [](RunRecord* r) { r->fsAfter[r->logKey].content = ""; }},
    {"nothing logged though the log could be written",
     [](RunRecord* r) { r->fsAfter.erase(r->logKey); }},
    {"log written though", [](RunRecord* r) { r->logWritable = false; }},
};

TEST(Invariants, EachFiresOnItsBreakage) {
  const RunRecord sound = RunSeed("full_yes_64");
  for (const Breakage& b : kBreakages) {
    SCOPED_TRACE(b.message);
    RunRecord broken = sound;
    b.apply(&broken);
    std::vector<std::string> failures = fuzz::CheckRun(broken);
    EXPECT_TRUE(Has(failures, b.message)) << ::testing::PrintToString(failures);
  }
}

TEST(Invariants, TheThirtyTwoBitViewNamesCountOnlyWhereTheToolSeesNoSixtyFourBit) {
  RunRecord run = RunSeed("arm64");
  EXPECT_EQ(fuzz::CheckRun(run), std::vector<std::string>());
  run.planted.nativeAmd64 = true;  // on x64 the same dialogs name other keys
  EXPECT_TRUE(
      Has(fuzz::CheckRun(run), "registry key removed unasked: SOFTWARE\\Wow6432Node\\TAVO"));
}

// --- the input layout ----------------------------------------------------------

// Input bytes as fuzz_machine.h lays them out.
struct Input {
  std::string bytes;
  Input& Bytes(std::initializer_list<int> bs) {
    for (int b : bs) bytes.push_back((char)b);
    return *this;
  }
  Input& Text(const std::string& t) {
    bytes.push_back((char)t.size());
    bytes += t;
    return *this;
  }
};

// The bytes a value holds, read through the tool's side of the simulation.
std::string Stored(const std::string& key, const char* name) {
  HKEY handle;
  if (OsRegOpenKey(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ | KEY_WOW64_64KEY, &handle) != 0)
    return "(no key)";
  BYTE data[8192];
  DWORD size = sizeof data;
  LONG result = OsRegQueryValue(handle, name, NULL, data, &size);
  OsRegCloseKey(handle);
  return result == 0 ? std::string((const char*)data, size) : "(no value)";
}

struct LayoutCase {
  const char* what;
  Input input;
  std::function<bool(const fuzz::Planted&)> holds;
};

const std::string kEntry =
    std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + fuzz::kGuid;

const LayoutCase kLayout[] = {
    {"a made text: 260 bytes of the pattern",
     Input().Bytes({0, 1, 0}).Text("").Bytes({2, 1, 0xE0 + 23, 2, 'a', 'b'}),
     [](const fuzz::Planted&) {
       std::string v = Stored(kEntry, "InstallLocation");
       return v.size() == 260 && v.compare(0, 4, "abab") == 0;
     }},
    {"texts keep every byte, line breaks too",
     Input().Bytes({0, 1, 0}).Text("").Bytes({0, 0}).Text(std::string("a\r\n\0b", 5)),
     [](const fuzz::Planted&) { return Stored(kEntry, "DisplayName") == std::string("a\r\n\0b", 5); }},
    {"the Wow6432Node branch, a NUL appended",
     Input().Bytes({0, 1, (2 << 1) | 1}).Text("").Bytes({5, 2 | 8}).Text("5"),
     [](const fuzz::Planted&) {
       return Stored("SOFTWARE\\Wow6432Node\\TAVO\\Version", "Major") == std::string("5", 2);
     }},
    {"the base key's parent, empty parts dropped, at most 8 parts added",
     Input().Bytes({0, 0, 16}).Text("a\\\\b\\").Bytes({0, 0}).Text("1\\2\\3\\4\\5\\6\\7\\8\\9"),
     [](const fuzz::Planted&) {
       return sim::RegKeyExists("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\a\\b") &&
              sim::RegKeyExists(kEntry + "\\1\\2\\3\\4\\5\\6\\7\\8") &&
              !sim::RegKeyExists(kEntry + "\\1\\2\\3\\4\\5\\6\\7\\8\\9");
     }},
    {"file names made ones Windows takes; a lone lead byte dropped",
     Input().Bytes({0, 4, 4}).Text("a<b\\..\\c").Bytes({3, 5}).Text("x\x83"),
     [](const fuzz::Planted&) {
       return sim::FsExists("C:\\Users\\user\\a_b\\c") && sim::FsIsFolder("C:\\work\\x");
     }},
    {"no folder over a file",
     Input().Bytes({0, 4, 5}).Text("f").Bytes({3, 5}).Text("f\\g"),
     [](const fuzz::Planted&) {
       return sim::FsExists("C:\\work\\f") && !sim::FsIsFolder("C:\\work\\f");
     }},
    {"answers with repeat counts", Input().Bytes({0, 10, 0x31, 10, 10}),
     [](const fuzz::Planted& p) { return p.answers == std::vector<int>{IDNO, IDNO, IDNO, IDNO, -1}; }},
    {"an unset variable, a special folder made",
     Input().Bytes({0, 5, 0x80}).Text("").Bytes({6, 0x80}).Text("T"),
     [](const fuzz::Planted& p) {
       char buf[260] = "x";
       return OsGetEnv(buf, sizeof buf, "ProgramW6432") == 0 && buf[0] == 0 &&
              p.profile == "C:\\T" && sim::FsIsFolder("C:\\T");
     }},
    {"x86 without GetNativeSystemInfo; x64 always has it", Input().Bytes({1 | 4}),
     [](const fuzz::Planted& p) {
       return OsFindNativeSystemInfo() == NULL && !p.wowBranch && !p.nativeAmd64;
     }},
    {"x64 always has GetNativeSystemInfo", Input().Bytes({0 | 4}),
     [](const fuzz::Planted& p) { return OsFindNativeSystemInfo() != NULL && p.nativeAmd64; }},
    {"trees stay within the key budget",
     [] {
       Input in = Input().Bytes({0});
       for (int i = 0; i < 30; ++i) in.Bytes({2, 0}).Text(std::to_string(i)).Bytes({0x0F, i});
       return in;
     }(),
     [](const fuzz::Planted&) { return sim::RegAllKeys().size() <= 200 + 8; }},
};

TEST(Layout, PlantsWhatTheBytesSay) {
  for (const LayoutCase& c : kLayout) {
    SCOPED_TRACE(c.what);
    fuzz::Planted planted;
    fuzz::Plant(reinterpret_cast<const uint8_t*>(c.input.bytes.data()), c.input.bytes.size(),
                &planted);
    EXPECT_TRUE(c.holds(planted));
    EXPECT_EQ(sim::RegOpenHandles(), 0);
  }
}

// --- the path model ------------------------------------------------------------

struct PathCase {
  const char* path;
  const char* key;
};

const PathCase kPaths[] = {
    {"C:\\Program Files\\TAVO\\", "C:\\PROGRAM FILES\\TAVO"},
    {"c:\\program files\\tavo", "C:\\PROGRAM FILES\\TAVO"},
    {"C:\\Program Files\\TAVO\\..\\..\\work", "C:\\WORK"},
    {"C:\\..\\..\\Program Files", "C:\\PROGRAM FILES"},
    {"C:\\Program Files\\.\\TAVO", "C:\\PROGRAM FILES\\TAVO"},
    {"TAVO", "C:\\WORK\\TAVO"},
    {".\\TAVO\\", "C:\\WORK\\TAVO"},
    {"\\Program Files", "C:\\PROGRAM FILES"},
    {"C:TAVO", "C:\\WORK\\TAVO"},
    {"D:TAVO", "D:\\TAVO"},
    {"C:\\ソ表\\x", "C:\\ソ表\\X"},
    {"C:\\ソ", "C:\\ソ"},
    {"c:\\pr\x7fgram files\\", "C:\\PR\x7fGRAM FILES"},
    {"C:\\Program Files\\\\TAVO", ""},
    {"C:\\Program Files\\TAVO\\\\", ""},
    {"\\\\server\\share", ""},
    {"C:\\a|b", ""},
    {"C:\\a\x1f", ""},
    {"", ""},
};

TEST(PathModel, ResolvesAsTheSimulatedWindows) {
  sim::Reset();
  sim::FsAddFolder("C:\\Program Files\\TAVO");
  sim::FsAddFolder("C:\\work\\TAVO");
  sim::FsAddFolder("C:\\ソ表\\x");
  sim::FsAddFolder("C:\\ソ");
  sim::FsAddFolder("C:\\Pr\x7fgram Files");
  std::vector<std::string> keys;
  for (const std::string& path : sim::FsAll()) keys.push_back(fuzz::FsKey(path, "C:\\work"));
  for (const PathCase& c : kPaths) {
    SCOPED_TRACE(c.path);
    std::string key = fuzz::FsKey(c.path, "C:\\work");
    EXPECT_EQ(key, c.key);
    bool known = std::find(keys.begin(), keys.end(), key) != keys.end();
    EXPECT_EQ(sim::FsExists(c.path), known);
  }
}

}  // namespace
