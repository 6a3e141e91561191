// The question layouts, byte for byte, and the Yes / No / Cancel loop.
#include <string>
#include <vector>

#include "record/install_info.h"
#include "sim_test.h"
#include "ui/confirm.h"
#include "ui/messages.h"

namespace {

class DialogTest : public SimTest {};

// The record the key questions show.
const InstallInfo kSample = [] {
  InstallInfo info;
  memset(&info, 0, sizeof info);
  strcpy(info.programName, "TAVO利用者ソフト");
  strcpy(info.version, "5.10.002");
  strcpy(info.installPath, "C:\\Program Files\\TAVO");
  strcpy(info.installDate, "20240401");
  return info;
}();

// A key question about `key` up to its record's date line, for kSample
// with the program name `name`.
std::string KeyQuestion(const std::string& key, const std::string& name) {
  return "このレジストリキーを削除しますか?" + std::string(27, ' ') + "\n\nHKEY_LOCAL_MACHINE\\" + key +
         "\n\nプログラム名    \t: " + name +
         "\nバージョン      \t: 5.10.002\nインストールパス\t: C:\\Program Files\\TAVO\n";
}

struct LayoutCase {
  const char* name;
  void (*compose)(char* message);
  std::string expected;
};

const LayoutCase kLayouts[] = {
    {"folder", [](char* m) { ComposeFolderMessage(m, "C:\\Program Files\\TAVO"); },
     "このフォルダを削除しますか?" + std::string(33, ' ') + "\n\nC:\\Program Files\\TAVO\n"},
    {"file", [](char* m) { ComposeFileMessage(m, "C:\\S\\更新通知.lnk"); },
     "このファイルを削除しますか?" + std::string(33, ' ') + "\n\nC:\\S\\更新通知.lnk\n"},
    {"key with four record lines (#6, #10)",
     [](char* m) { ComposeKeyMessage(m, "SOFTWARE\\TAVO", &kSample, kRecordWithDate); },
     KeyQuestion("SOFTWARE\\TAVO", "TAVO利用者ソフト") + "インストール日  \t: 20240401\n"},
    {"key with three record lines (#13, #16)",
     [](char* m) {
       ComposeKeyMessage(m, "SOFTWARE\\Wow6432Node\\TAVO", &kSample, kRecordWithoutDate);
     },
     KeyQuestion("SOFTWARE\\Wow6432Node\\TAVO", "TAVO利用者ソフト")},
    {"providers, sentence longer than 60 bytes is not cut",
     [](char* m) { ComposeProviderMessage(m, "SOFTWARE\\Wow6432Node"); },
     "このレジストリキー配下にあるTAVO利用者ソフト用プロバイダを削除しますか?\n\n"
     "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Defaults\\Provider\n"},
    {"archives", [](char* m) { ComposeArchiveMessage(m, "C:\\Program Files\\Java\\jre1.8.0_401"); },
     "このフォルダ配下にあるTAVO利用者ソフト用JARファイルを削除しますか?\n\n"
     "C:\\Program Files\\Java\\jre1.8.0_401\\lib\\ext\n"},
};

TEST_F(DialogTest, LayoutsByteForByte) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.name);
    std::string message(kMessageSize, '\x7f');
    c.compose(&message[0]);
    EXPECT_EQ(std::string(message.c_str()), c.expected);
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
  ComposeKeyMessage(message, kWowEntry, &info, kRecordWithDate);
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

TEST_F(DialogTest, RecordFieldsCannotAddLinesToAQuestion) {
  InstallInfo info = kSample;
  strcpy(info.programName, "TAVO\n\nHKEY_LOCAL_");
  strcpy(info.installDate, "2024\r\n");
  char message[kMessageSize];
  ComposeKeyMessage(message, "SOFTWARE\\TAVO", &info, kRecordWithDate);
  EXPECT_EQ(std::string(message),
            KeyQuestion("SOFTWARE\\TAVO", "TAVO??HKEY_LOCAL_") + "インストール日  \t: 2024??\n");
}

}  // namespace
