// Step-level behaviour that the whole-run goldens do not pin down: groups of
// like items, odd machines, length limits, and where each abort lands.
#include <algorithm>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "sim_test.h"

namespace {

class StepTest : public SimTest {
 protected:
  // Lines of the log between the banner that contains `from` and the next banner.
  static std::vector<std::string> StepLines(const std::string& from) {
    std::vector<std::string> all = SplitLines(LogText()), out;
    bool in = false;
    for (const std::string& line : all) {
      bool banner = line.compare(0, 11, "********** ") == 0;
      if (banner) in = line.find(" " + from + " ") != std::string::npos;
      else if (in) out.push_back(line);
    }
    return out;
  }
  static std::vector<std::string> Deletions() {
    std::vector<std::string> out;
    for (const sim::RegCall& call : sim::RegCalls()) {
      if (call.op == "delete") out.push_back(call.path);
    }
    return out;
  }
};

const char kProviderParent[] = "SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\";
const char kWowProviderParent[] =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Defaults\\Provider\\";

TEST_F(StepTest, OnlyTheAuthProviderIsAskedAboutByItsParentAndDeletedAlone) {
  const std::string auth = std::string(kProviderParent) + "TAVO Crypto Service Provider for Auth";
  sim::RegAddKey(auth);
  sim::ScriptAnswers({IDOK, IDYES, IDOK});
  RunTool();
  ASSERT_EQ(sim::Boxes().size(), 3u);
  EXPECT_EQ(sim::Boxes()[1].text,
            "このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?\n\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\n");
  EXPECT_EQ(Deletions(), std::vector<std::string>{auth});
  EXPECT_FALSE(sim::RegKeyExists(auth));
}

TEST_F(StepTest, AFailingFirstProviderDeletionDoesNotStopTheOthers) {
  for (const char* parent : {kProviderParent, kWowProviderParent}) {
    for (const char* name : {"TAVO Crypto Service Provider", "TAVO Crypto Service Provider for Sign",
                             "TAVO Crypto Service Provider for Auth"}) {
      sim::RegAddKey(std::string(parent) + name + "\\Sub");
    }
  }
  sim::RegFailOpen(std::string(kProviderParent) + "TAVO Crypto Service Provider\\Sub",
                   ERROR_ACCESS_DENIED, 5);
  RunAnswering(IDYES);
  EXPECT_TRUE(sim::RegKeyExists(std::string(kProviderParent) + "TAVO Crypto Service Provider"));
  EXPECT_FALSE(sim::RegKeyExists(std::string(kProviderParent) + "TAVO Crypto Service Provider for Sign"));
  EXPECT_FALSE(sim::RegKeyExists(std::string(kProviderParent) + "TAVO Crypto Service Provider for Auth"));
  EXPECT_FALSE(sim::RegKeyExists(std::string(kWowProviderParent) + "TAVO Crypto Service Provider"));
  EXPECT_TRUE(Logged("#19 JREインストールパス取得"));
}

TEST_F(StepTest, ARefusedProbeCountsAsNotFound) {
  const std::string key = std::string(kProviderParent) + "TAVO Crypto Service Provider";
  sim::RegAddKey(key);
  sim::RegFailOpen(key, ERROR_ACCESS_DENIED, 5);
  RunAnswering(IDYES);
  EXPECT_EQ(sim::Boxes().size(), 2u);  // start and closing only
  EXPECT_TRUE(sim::RegKeyExists(key));
}

// Where a confirmed Cancel at the first question of each group ends the run.
struct AbortCase {
  const char* step;  // the step asked
  int before;        // questions answered before it
  int answer;        // how they were answered
};

// With No before them the folders stay, so the management steps ask too.
const AbortCase kAborts[] = {
    {"#4", 0, IDYES},   {"#5", 1, IDYES},   {"#6", 2, IDYES},   {"#8", 3, IDYES},
    {"#9", 4, IDYES},   {"#10", 5, IDYES},  {"#12", 6, IDNO},   {"#13", 6, IDYES},
    {"#15", 8, IDNO},   {"#16", 7, IDYES},  {"#17", 8, IDYES},  {"#18", 9, IDYES},
    {"#20", 10, IDYES}, {"#22", 11, IDYES}, {"#23", 12, IDYES}, {"#24", 13, IDYES},
};

TEST_F(StepTest, AbortAtTheFirstQuestionOfEachGroupEndsTheRunThere) {
  for (const AbortCase& c : kAborts) {
    SCOPED_TRACE(c.step);
    sim::Reset();
    demo::PlantFullInstall(true);
    std::vector<int> answers = {IDOK};
    answers.insert(answers.end(), c.before, c.answer);
    answers.push_back(IDCANCEL);
    answers.push_back(IDOK);
    sim::ScriptAnswers(answers);
    EXPECT_EQ(RunTool(), 0);
    EXPECT_EQ(sim::Boxes().size(), answers.size()) << "no closing dialog";
    std::vector<std::string> lines = SplitLines(LogText());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "[ConfirmDeleteItem] IDCANCEL");
    EXPECT_NE(lines.back().find(" #25 アンインストール終了 "), std::string::npos);
    // The banner of the step asked is the last one before #25.
    std::string lastStep;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i].compare(0, 11, "********** ") == 0) lastStep = lines[i];
    }
    EXPECT_EQ(lastStep.find(std::string(" ") + c.step + " "), 10u) << lastStep;
  }
}

TEST_F(StepTest, NoAtProvidersAndArchivesStillRunsTheWowSteps) {
  demo::PlantFullInstall(true);
  RunAnswering(IDNO);
  EXPECT_TRUE(Logged(" #18 (Wow6432)TAVO利用者ソフト用プロバイダ削除 "));
  EXPECT_TRUE(Logged(" #22 (Wow6432)TAVO利用者ソフト用JARファイル削除 "));
  EXPECT_TRUE(Deletions().empty());
  EXPECT_TRUE(sim::ShellOps().empty());
}

TEST_F(StepTest, OnlyA32BitJavaRuntime) {
  const std::string home = "C:\\Program Files (x86)\\Java\\jre7";
  sim::RegSetString("SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment", "CurrentVersion", "1.7");
  sim::RegSetString("SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment\\1.7", "JavaHome", home);
  sim::FsAddFile(home + "\\lib\\ext\\TAVOUserCertService.jar");
  sim::FsAddFolder(home + "\\lib\\ext\\TAVOCryptJNI.jar");  // a folder, not an archive
  RunAnswering(IDYES);
  EXPECT_FALSE(Logged(" #20 "));
  ASSERT_EQ(sim::ShellOps().size(), 1u);
  EXPECT_EQ(sim::ShellOps()[0].path, home + "\\lib\\ext\\TAVOUserCertService.jar");
  EXPECT_TRUE(sim::FsIsFolder(home + "\\lib\\ext\\TAVOCryptJNI.jar"));
  EXPECT_EQ(sim::Boxes()[1].text,
            "このフォルダ配下にあるTAVO利用者ソフト用JARファイルを削除しますか?\n\n" + home +
                "\\lib\\ext\n");
}

// Java keys whose values are not usable text end the lookup with one line,
// and no archive is looked for; the lookup's lines are checked whole.
struct JavaCase {
  const char* name;
  void (*plant)();
  const char* step;   // the lookup step whose lines are checked, "#19" or "#21"
  const char* lines;  // that step's lines, each ended by "\n"
  bool archives;      // whether the archive step after it ran
};

const char kJre[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
const char kWowJre[] = "SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment";
const std::string kJre18 = std::string(kJre) + "\\1.8";
#define JRE_LINE "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\n"
#define WOW_JRE_LINE \
  "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime Environment\n"
// The lines up to the opening of the version key "1.8".
#define JRE18_LINES                          \
  JRE_LINE "[GetRegValue] CurrentVersion=1.8\n" \
           "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8\n"

void Version18() { sim::RegSetString(kJre, "CurrentVersion", "1.8"); }

const JavaCase kJavaCases[] = {
    {"no Java runtime key", [] {}, "#19", JRE_LINE " Not Found\n", false},
    {"no CurrentVersion", [] { sim::RegAddKey(kJre); }, "#19",
     JRE_LINE "[GetRegValue] CurrentVersion\n ERROR: Ret=2, LastError=0x000000B7\n", false},
    {"CurrentVersion of 16 bytes", [] { sim::RegSetString(kJre, "CurrentVersion", std::string(16, '1')); },
     "#19", JRE_LINE "[GetRegValue] CurrentVersion\n ERROR: Ret=234, LastError=0x000000B7\n", false},
    {"CurrentVersion as a DWORD", [] { sim::RegSetDword(kJre, "CurrentVersion", 0x382E31); }, "#19",
     JRE_LINE "[GetRegValue] CurrentVersion\n ERROR: Ret=13, LastError=0x000000B7\n", false},
    {"CurrentVersion filling 16 bytes without NUL",
     [] { sim::RegSetValue(kJre, "CurrentVersion", REG_SZ, std::string(16, '1')); }, "#19",
     JRE_LINE "[GetRegValue] CurrentVersion\n ERROR: Ret=13, LastError=0x000000B7\n", false},
    {"CurrentVersion empty", [] { sim::RegSetString(kJre, "CurrentVersion", ""); }, "#19",
     // The version key is then the runtime key itself, which has no JavaHome.
     JRE_LINE "[GetRegValue] CurrentVersion=\n"
              "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\\n"
              "[GetRegValue] JavaHome\n ERROR: Ret=2, LastError=0x000000B7\n",
     false},
    {"version key missing", Version18, "#19", JRE18_LINES " Not Found\n", false},
    // An old runtime's leftover in the 32-bit view after a found native one:
    // the native home must not be taken for the 32-bit runtime's.
    {"version key missing in the 32-bit view after a native runtime",
     [] {
       Version18();
       sim::RegSetString(kJre18, "JavaHome", "C:\\Java");
       sim::FsAddFile("C:\\Java\\lib\\ext\\TAVOCryptJNI.jar");
       sim::RegSetString(kWowJre, "CurrentVersion", "1.6");
     },
     "#21",
     WOW_JRE_LINE "[GetRegValue] CurrentVersion=1.6\n"
                  "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\JavaSoft\\Java Runtime "
                  "Environment\\1.6\n Not Found\n",
     false},
    {"JavaHome missing", [] { Version18(); sim::RegAddKey(kJre18); }, "#19",
     JRE18_LINES "[GetRegValue] JavaHome\n ERROR: Ret=2, LastError=0x000000B7\n", false},
    {"JavaHome longer than 259 bytes",
     [] { Version18(); sim::RegSetString(kJre18, "JavaHome", "C:\\" + std::string(257, 'j')); }, "#19",
     JRE18_LINES "[GetRegValue] JavaHome\n ERROR: Ret=234, LastError=0x000000B7\n", false},
    {"JavaHome stored without its NUL is taken as stored",
     [] {
       sim::RegSetValue(kJre, "CurrentVersion", REG_SZ, "1.8");
       sim::RegSetValue(kJre18, "JavaHome", REG_SZ, "C:\\J");
     },
     "#19", JRE18_LINES "[GetRegValue] JavaHome=C:\\J\n", true},
};

TEST_F(StepTest, JavaLookupFailures) {
  for (const JavaCase& c : kJavaCases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    c.plant();
    RunAnswering(IDYES);
    std::string joined;
    for (const std::string& line : StepLines(c.step)) joined += line + "\n";
    EXPECT_EQ(joined, c.lines);
    const char* archiveStep = std::string(c.step) == "#19" ? " #20 " : " #22 ";
    EXPECT_EQ(Logged(archiveStep), c.archives);
  }
}

TEST_F(StepTest, PathsThatDoNotFitAreNeverOfferedOrCut) {
  // Program Files of 182 bytes: the setup-cache path would need 260.
  const std::string longProgramFiles = "C:\\" + std::string(179, 'P');
  sim::SetEnv("ProgramW6432", longProgramFiles);
  sim::FsAddFolder(longProgramFiles);
  // A Java home leaving no room for the longer archive names.
  const std::string home = "C:\\" + std::string(230, 'J');
  Version18();
  sim::RegSetString(kJre18, "JavaHome", home);
  sim::FsAddFile(home + "\\lib\\ext\\TAVOCryptJNI.jar");  // 258 bytes: fits
  // ProgramFiles(x86) of 181 bytes: its setup-cache path fits with 259.
  const std::string wowProgramFiles = "C:\\" + std::string(178, 'X');
  const std::string wowCache = wowProgramFiles + "\\InstallShield Installation Information\\" + kGuid;
  sim::SetEnv("ProgramFiles(x86)", wowProgramFiles);
  sim::FsAddFolder(wowCache);
  // A Programs folder of 255 bytes: no room for the item.
  const std::string programs = "C:\\" + std::string(252, 'S');
  sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, programs);
  RunAnswering(IDYES);

  const std::string cache = longProgramFiles + "\\InstallShield Installation Information\\" + kGuid;
  std::vector<std::string> five = StepLines("#5");
  ASSERT_EQ(five.size(), 3u);
  EXPECT_EQ(five[1], "[ExistsFolder] " + cache);
  EXPECT_EQ(five[2], " ERROR : Path Too Long");

  EXPECT_EQ(StepLines("#9"), (std::vector<std::string>{
                                 "[GetFolderPath] ProgramFiles(x86) Path=" + wowProgramFiles,
                                 "[ExistsFolder] " + wowCache, "[ConfirmDeleteItem] IDYES",
                                 "[DeleteItem] " + wowCache}));
  EXPECT_FALSE(sim::FsExists(wowCache));

  std::vector<std::string> twenty = StepLines("#20");
  EXPECT_EQ(twenty[0], "[ExistsFile] " + home + "\\lib\\ext\\TAVOCryptJNI.jar");
  EXPECT_EQ(std::count(twenty.begin(), twenty.end(), " ERROR : Path Too Long"), 4);
  // The 259-byte setup cache (#9) and the one archive that fits, nothing else.
  ASSERT_EQ(sim::ShellOps().size(), 2u);
  EXPECT_EQ(sim::ShellOps()[0].path, wowCache);
  EXPECT_EQ(sim::ShellOps()[1].path, home + "\\lib\\ext\\TAVOCryptJNI.jar");

  std::vector<std::string> menu = StepLines("#23");
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[2], " ERROR : Path Too Long");
}

TEST_F(StepTest, StartMenuOddities) {
  const std::string programs = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  sim::FsAddFile(programs + "\\ミラネス");                      // a file, not the folder
  sim::FsAddFolder(programs + "\\StartUp\\更新通知.lnk");       // a folder, not the shortcut
  sim::FsAddFolder("C:\\Users\\user\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\ミラネス");
  RunAnswering(IDYES);
  EXPECT_EQ(sim::Boxes().size(), 2u);
  EXPECT_TRUE(sim::FsExists(programs + "\\ミラネス"));

  sim::Reset();
  sim::SetSpecialFolder(CSIDL_COMMON_PROGRAMS, "");
  sim::FsAddFile("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp\\更新通知.lnk");
  RunAnswering(IDYES);
  EXPECT_EQ(StepLines("#23"), (std::vector<std::string>{"[GetFolderPath] CSIDL_COMMON_PROGRAMS Path", " Not Found"}));
  EXPECT_EQ(sim::ShellOps().size(), 1u);
}

TEST_F(StepTest, AFailingDeletionInTheMiddleOfTheArchivesDoesNotStopTheRest) {
  demo::PlantFullInstall(false);
  demo::MakeMachine32();
  const std::string ext = "C:\\Program Files\\Java\\jre1.8.0_401\\lib\\ext\\";
  sim::FsSetInUse(ext + "TAVOCryptAuthJNI.jar", true);
  RunAnswering(IDYES);
  EXPECT_TRUE(sim::FsExists(ext + "TAVOCryptAuthJNI.jar"));
  EXPECT_FALSE(sim::FsExists(ext + "TAVOUserCertServiceMain.jar"));
  std::vector<std::string> lines = StepLines("#20");
  auto at = std::find(lines.begin(), lines.end(), "[DeleteItem] " + ext + "TAVOCryptAuthJNI.jar");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ((at + 1)->rfind(" IFileOperation::GetAnyOperationsAborted ERROR : Ret=0x800704C7", 0), 0u);
  EXPECT_EQ(*(at + 2), "[DeleteItem] " + ext + "TAVOUserCertService.jar");
}

TEST_F(StepTest, SameFolderNamedByBothEntriesIsAskedOnce) {
  demo::PlantFullInstall(true);
  sim::RegSetString(kWowEntry, "InstallLocation", "C:\\Program Files\\TAVO\\");
  RunAnswering(IDYES);
  int asked = 0;
  for (const sim::Box& box : sim::Boxes()) {
    if (box.text.find("\nC:\\Program Files\\TAVO") != std::string::npos) ++asked;
  }
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(StepLines("#8"), (std::vector<std::string>{"[ExistsFolder] C:\\Program Files\\TAVO\\", " Not Found"}));
}

TEST_F(StepTest, KeyQuestionsShowTheRecordTheirReaderLeft) {
  sim::RegSetString(kEntry, "DisplayName", "TAVO利用者ソフト");
  sim::RegSetString(kEntry, "InstallDate", "20240401");
  sim::RegAddKey("SOFTWARE\\TAVO");
  RunAnswering(IDNO);
  ASSERT_GE(sim::Boxes().size(), 3u);
  EXPECT_EQ(sim::Boxes()[1].text,
            "このレジストリキーを削除しますか?" + std::string(27, ' ') +
                "\n\nHKEY_LOCAL_MACHINE\\" + kEntry + "\n\n"
                "プログラム名    \t: TAVO利用者ソフト\nバージョン      \t: (不明)\n"
                "インストールパス\t: (不明)\nインストール日  \t: 20240401\n");
  EXPECT_EQ(sim::Boxes()[2].text,
            "このレジストリキーを削除しますか?" + std::string(27, ' ') +
                "\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\n\n"
                "プログラム名    \t: TAVO利用者ソフト\nバージョン      \t: (不明)\n"
                "インストールパス\t: (不明)\n");
  EXPECT_TRUE(sim::RegKeyExists(kEntry));
}

}  // namespace
