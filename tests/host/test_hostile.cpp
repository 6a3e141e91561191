// Hostile machine states: whatever the registry, the file system, the
// environment or the dialogs hold, a run must not crash, must close every
// handle, must write only well-formed log lines and dialog texts that fit,
// and must delete nothing that no answered question covered.
#include <functional>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "invariants.h"
#include "sim_test.h"

namespace {

const std::string kManage = "SOFTWARE\\TAVO";
const std::string kJre = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const std::string kProviders = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";

std::string Raw(const char* bytes, size_t n) { return std::string(bytes, n); }

struct HostileCase {
  const char* name;
  bool is64;
  std::function<void()> plant;
  std::vector<int> answers;  // empty: OK, then Yes to everything
  std::function<void()> expect;  // case-specific outcome, after the run
  std::vector<std::string> logged = {};  // texts the log must hold
};

std::vector<HostileCase> Cases() {
  return {
      // Values of the wrong type are never taken as text or numbers.
      {"values of the wrong type", true,
       [] {
         sim::FsAddFolder("C:\\");
         sim::RegSetValue(kEntry, "InstallLocation", REG_DWORD, Raw("C:\\\0", 4));
         sim::RegSetValue(kEntry, "DisplayName", REG_BINARY, "TAVO");
         sim::RegSetValue(kManage, "InstallPath", REG_MULTI_SZ, Raw("C:\\\0\0", 5));
         sim::RegSetValue(kJre, "CurrentVersion", REG_QWORD, Raw("1.8\0\0\0\0\0", 8));
       },
       {},
       [] {
         EXPECT_TRUE(sim::FsExists("C:\\Program Files"));
         EXPECT_FALSE(SimTest::Logged("[ExistsFolder] C:\\\r\n"));
       }},
      {"texts without NUL, of exactly the field width, and one byte over", true,
       [] {
         sim::RegSetValue(kEntry, "DisplayName", REG_SZ, std::string(32, 'N'));
         sim::RegSetValue(kEntry, "DisplayVersion", REG_SZ, std::string(16, 'V'));
         sim::RegSetValue(kEntry, "InstallDate", REG_SZ, std::string(15, 'D'));
         sim::RegSetValue(kEntry, "InstallLocation", REG_SZ, "C:\\" + std::string(257, 'L'));
         sim::RegSetString(kWowEntry, "InstallLocation", "C:\\" + std::string(257, 'L'));
         sim::RegSetString(kManage, "InstallPath", "C:\\" + std::string(256, 'P'));
         sim::FsAddFolder("C:\\" + std::string(256, 'P'));
       },
       {},
       // The 259-byte path that fits was offered and deleted; the others were not.
       [] { EXPECT_FALSE(sim::FsExists("C:\\" + std::string(256, 'P'))); },
       {"[GetRegValue] InstallDate=DDDDDDDDDDDDDDD\r\n"}},
      {"empty values", true,
       [] {
         for (const char* name : {"DisplayName", "DisplayVersion", "InstallLocation", "InstallDate"}) {
           sim::RegSetValue(kEntry, name, REG_SZ, "");
         }
         sim::RegSetValue(kManage, "InstallPath", REG_SZ, std::string(1, '\0'));
         sim::RegSetValue(kJre, "CurrentVersion", REG_SZ, "");
       },
       {}, nullptr},
      {"version numbers of 0, 2 and 8 bytes and as strings", true,
       [] {
         sim::RegSetValue(kManage + "\\Version", "Major", REG_DWORD, "");
         sim::RegSetValue(kManage + "\\Version", "Minor", REG_DWORD, Raw("\1\0", 2));
         sim::RegSetValue(kManage + "\\Version", "Revision", REG_QWORD, Raw("\1\0\0\0\0\0\0\0", 8));
         sim::RegSetString("SOFTWARE\\Wow6432Node\\TAVO\\Version", "Major", "1");
         sim::RegSetString("SOFTWARE\\Wow6432Node\\TAVO\\Version", "Minor", "123");
         sim::RegSetDword("SOFTWARE\\Wow6432Node\\TAVO\\Version", "Revision", 3);
       },
       {},
       [] { EXPECT_FALSE(SimTest::Logged("Major=1\r\n")); }},
      {"a key tree 512 levels deep", true,
       [] {
         std::string path = kManage;
         for (int i = 0; i < 511; ++i) path += "\\d";
         sim::RegAddKey(path);
       },
       {}, [] { EXPECT_FALSE(sim::RegKeyExists(kManage)); }},
      {"a key 5,000 subkeys wide", true,
       [] {
         for (int i = 0; i < 5000; ++i) sim::RegAddKey(kManage + "\\w" + std::to_string(i));
       },
       {}, [] { EXPECT_FALSE(sim::RegKeyExists(kManage)); }},
      {"subkey names with % conversions", true,
       [] {
         sim::RegAddKey(kManage + "\\%s%n%d%08X\\%%n");
         sim::RegAddKey(kProviders + "TAVO Crypto Service Provider\\%s%s%s%s");
       },
       {}, [] { EXPECT_FALSE(sim::RegKeyExists(kManage)); },
       {"[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\%s%n%d%08X\\%%n\r\n"}},
      {"a path with bytes that are not code page 932", true,
       [] {
         sim::RegSetString(kEntry, "InstallLocation", "C:\\Bad\x80\xff");
         sim::FsAddFolder("C:\\Bad\x80\xff");
       },
       {}, [] { EXPECT_TRUE(sim::FsExists("C:\\Bad\x80\xff")); }, {" mbstowcs ERROR : Ret=42"}},
      {"paths with a trailing backslash and of 259 bytes", true,
       [] {
         std::string folder = "C:\\" + std::string(255, 'T');
         sim::RegSetString(kEntry, "InstallLocation", folder + "\\");  // 259 bytes
         sim::FsAddFile(folder + "\\x.dll");
       },
       {}, [] { EXPECT_FALSE(sim::FsExists("C:\\" + std::string(255, 'T'))); }},
      {"environment values of 259, 260 and 4,000 bytes", true,
       [] {
         sim::SetEnv("ProgramW6432", "C:\\" + std::string(256, 'e'));
         sim::SetEnv("ProgramFiles(x86)", std::string(4000, 'x'));
         sim::SetEnv("ProgramFiles", std::string(260, 'f'));
       },
       {}, nullptr, {" ERROR : Ret=34", " ERROR : Path Too Long"}},
      {"special folders and the profile missing", false,
       [] {
         demo::PlantFullInstall(false);
         sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, "");
         sim::SetSpecialFolder(CSIDL_COMMON_STARTUP, "");
         sim::SetSpecialFolder(CSIDL_PROFILE, "");
       },
       {},
       [] {
         EXPECT_TRUE(sim::FsExists(
             "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\更新通知.lnk"));
       }},
      {"a read-only log folder", true,
       [] {
         demo::PlantFullInstall(true);
         sim::FsAddFolder("C:\\Users\\user\\TAVO");
         sim::FsSetReadOnly("C:\\Users\\user\\TAVO", true);
       },
       {}, [] { EXPECT_FALSE(sim::FsExists("C:\\Users\\user\\TAVO\\TAVOSweeper.log")); }},
      {"a log file held open by another program", true,
       [] {
         demo::PlantFullInstall(true);
         sim::FsAddFile(SimTest::kLogPath, "[ConfirmDeleteItem] IDNO\r\n");
         sim::FsSetLocked(SimTest::kLogPath, true);
       },
       {}, [] { EXPECT_EQ(sim::FsRead(SimTest::kLogPath), "[ConfirmDeleteItem] IDNO\r\n"); }},
      {"a clock that fails", true,
       [] {
         demo::PlantFullInstall(true);
         sim::SetClockFailure(true, true);
       },
       {}, [] { EXPECT_FALSE(SimTest::Logged("**********")); }},
      {"message boxes that fail after the start", true,
       [] { demo::PlantFullInstall(true); },
       {IDOK}, [] { EXPECT_TRUE(sim::FsExists("C:\\Program Files\\TAVO")); },
       {"[ConfirmDeleteItem] MessageBoxA ERROR"}},
      {"every failure injected on a full install", true,
       [] {
         demo::PlantFullInstall(true);
         sim::RegFailOpen(kEntry, ERROR_ACCESS_DENIED, 5);
         sim::RegFailEnum(kManage, 1018);
         sim::RegFailDelete(kProviders + "TAVO Crypto Service Provider", ERROR_ACCESS_DENIED, 5);
         sim::ShellFail(sim::kPerform, (HRESULT)0x80070020u, 32);
       },
       {}, [] { EXPECT_TRUE(sim::FsExists("C:\\Program Files\\TAVO")); }},
  };
}

class HostileTest : public SimTest {};

TEST_F(HostileTest, EveryMachineStateEndsSafely) {
  for (const HostileCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    if (!c.is64) demo::MakeMachine32();
    c.plant();
    MachineSnapshot before = TakeSnapshot();
    sim::ScriptAnswers(c.answers);
    EXPECT_EQ(c.answers.empty() ? RunAnswering(IDYES) : RunTool(), 0);
    ExpectNothingLeftOpen();
    ExpectOnlyAnsweredDeletions(before);
    ExpectWellFormedLog(LogText());
    ExpectDialogsFit();
    if (c.expect) c.expect();
    for (const std::string& text : c.logged) EXPECT_TRUE(Logged(text)) << text;
  }
}

}  // namespace
