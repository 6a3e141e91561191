// The question layouts, byte for byte, and the Yes / No / Cancel loop.
#include <string>
#include <vector>

#include "record/install_info.h"
#include "sim_test.h"
#include "ui/confirm.h"
#include "ui/messages.h"

namespace {

class DialogTest : public SimTest {};

InstallInfo SampleRecord() {
  InstallInfo info;
  memset(&info, 0, sizeof info);
  strcpy(info.programName, "TAVO利用者ソフト");
  strcpy(info.version, "5.10.002");
  strcpy(info.installPath, "C:\\Program Files\\TAVO");
  strcpy(info.installDate, "20240401");
  return info;
}

struct LayoutCase {
  const char* name;
  std::string (*compose)();
  std::string expected;
};

const LayoutCase kLayouts[] = {
    {"folder",
     [] {
       std::string m(kMessageSize, '\x7f');
       ComposeFolderMessage(&m[0], "C:\\Program Files\\TAVO");
       return std::string(m.c_str());
     },
     "このフォルダを削除しますか?" + std::string(33, ' ') + "\n\nC:\\Program Files\\TAVO\n"},
    {"file",
     [] {
       std::string m(kMessageSize, '\x7f');
       ComposeFileMessage(&m[0], "C:\\S\\更新通知.lnk");
       return std::string(m.c_str());
     },
     "このファイルを削除しますか?" + std::string(33, ' ') + "\n\nC:\\S\\更新通知.lnk\n"},
    {"key with four record lines (#6, #10)",
     [] {
       std::string m(kMessageSize, '\x7f');
       InstallInfo info = SampleRecord();
       ComposeKeyMessage(&m[0], "SOFTWARE\\TAVO", &info, kRecordWithDate);
       return std::string(m.c_str());
     },
     "このレジストリキーを削除しますか?" + std::string(27, ' ') +
         "\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\n\n"
         "プログラム名    \t: TAVO利用者ソフト\n"
         "バージョン      \t: 5.10.002\n"
         "インストールパス\t: C:\\Program Files\\TAVO\n"
         "インストール日  \t: 20240401\n"},
    {"key with three record lines (#13, #16)",
     [] {
       std::string m(kMessageSize, '\x7f');
       InstallInfo info = SampleRecord();
       ComposeKeyMessage(&m[0], "SOFTWARE\\Wow6432Node\\TAVO", &info, kRecordWithoutDate);
       return std::string(m.c_str());
     },
     "このレジストリキーを削除しますか?" + std::string(27, ' ') +
         "\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\TAVO\n\n"
         "プログラム名    \t: TAVO利用者ソフト\n"
         "バージョン      \t: 5.10.002\n"
         "インストールパス\t: C:\\Program Files\\TAVO\n"},
    {"providers, sentence longer than 60 bytes is not cut",
     [] {
       std::string m(kMessageSize, '\x7f');
       ComposeProviderMessage(&m[0], "SOFTWARE\\Wow6432Node");
       return std::string(m.c_str());
     },
     "このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?\n\n"
     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Defaults\\Provider\n"},
    {"archives",
     [] {
       std::string m(kMessageSize, '\x7f');
       ComposeArchiveMessage(&m[0], "C:\\Program Files\\Java\\jre1.8.0_401");
       return std::string(m.c_str());
     },
     "このフォルダ配下にあるTAVO利用者ソフト用JARファイルを削除しますか?\n\n"
     "C:\\Program Files\\Java\\jre1.8.0_401\\lib\\ext\n"},
};

TEST_F(DialogTest, LayoutsByteForByte) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.compose(), c.expected);
  }
}

TEST_F(DialogTest, LongestKeyMessageFitsWithRoomToSpare) {
  InstallInfo info;
  memset(&info, 0, sizeof info);
  memset(info.programName, 'n', kProgramNameSize - 1);
  memset(info.version, 'v', kVersionSize - 1);
  memset(info.installPath, 'p', kInstallPathSize - 1);
  memset(info.installDate, 'd', kInstallDateSize - 1);
  char message[kMessageSize];
  ComposeKeyMessage(message,
                    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                    "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}",
                    &info, kRecordWithDate);
  EXPECT_EQ(strlen(message), 585u);
}

const std::string kAbortText = "処理を中止します。よろしいですか?" + std::string(27, ' ') + "\n";

struct AnswerCase {
  const char* name;
  std::vector<int> answers;
  int result;
  std::vector<UINT> styles;  // of the boxes shown, in order
  const char* log;
};

const AnswerCase kAnswers[] = {
    {"yes", {IDYES}, IDYES, {MB_YESNOCANCEL}, "[ConfirmDeleteItem] IDYES\r\n"},
    {"no", {IDNO}, IDNO, {MB_YESNOCANCEL}, "[ConfirmDeleteItem] IDNO\r\n"},
    {"cancel then ok", {IDCANCEL, IDOK}, IDCANCEL, {MB_YESNOCANCEL, MB_OKCANCEL},
     "[ConfirmDeleteItem] IDCANCEL\r\n"},
    {"cancel, cancel, yes: asked again",
     {IDCANCEL, IDCANCEL, IDYES},
     IDYES,
     {MB_YESNOCANCEL, MB_OKCANCEL, MB_YESNOCANCEL},
     "[ConfirmDeleteItem] IDYES\r\n"},
    {"close box (any other result) counts as cancel",
     {3 /* IDABORT */, IDOK},
     IDCANCEL,
     {MB_YESNOCANCEL, MB_OKCANCEL},
     "[ConfirmDeleteItem] IDCANCEL\r\n"},
    {"question box fails once, user goes back and answers no",
     {0, IDCANCEL, IDNO},
     IDNO,
     {MB_YESNOCANCEL, MB_OKCANCEL, MB_YESNOCANCEL},
     "[ConfirmDeleteItem] IDNO\r\n"},
    {"no box can be shown: ends the run, never yes",
     {},
     IDCANCEL,
     {MB_YESNOCANCEL, MB_OKCANCEL},
     "[ConfirmDeleteItem] MessageBoxA ERROR : Ret=0,  LastError=0x00000578\r\n"},
};

TEST_F(DialogTest, AnswerLoop) {
  for (const AnswerCase& c : kAnswers) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    sim::ScriptAnswers(c.answers);
    const std::string question = "このフォルダを削除しますか?\n\nC:\\x\n";
    EXPECT_EQ(ConfirmDeleteItem(question.c_str()), c.result);
    const std::vector<sim::Box>& boxes = sim::Boxes();
    ASSERT_EQ(boxes.size(), c.styles.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].style, c.styles[i]);
      EXPECT_EQ(boxes[i].title, "TAVO利用者ソフト アンインストールツール");
      EXPECT_EQ(boxes[i].text, c.styles[i] == MB_YESNOCANCEL ? question : kAbortText);
    }
    EXPECT_EQ(LogText(), c.log);
  }
}

}  // namespace

namespace {

TEST_F(DialogTest, RecordFieldsCannotAddLinesToAQuestion) {
  InstallInfo info = SampleRecord();
  strcpy(info.programName, "TAVO\n\nHKEY_LOCAL_");
  strcpy(info.installDate, "2024\r\n");
  char message[kMessageSize];
  ComposeKeyMessage(message, "SOFTWARE\\TAVO", &info, kRecordWithDate);
  EXPECT_EQ(std::string(message),
            "このレジストリキーを削除しますか?" + std::string(27, ' ') +
                "\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\n\n"
                "プログラム名    \t: TAVO??HKEY_LOCAL_\n"
                "バージョン      \t: 5.10.002\n"
                "インストールパス\t: C:\\Program Files\\TAVO\n"
                "インストール日  \t: 2024??\n");
}

}  // namespace
