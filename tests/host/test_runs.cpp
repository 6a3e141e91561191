// Whole runs through WinMain on simulated 32- and 64-bit machines, with the
// complete log compared byte for byte against tests/golden/.
//
// TAVO_UPDATE_GOLDEN=1 rewrites a golden file from what the run wrote; a
// rewritten file must be read line by line before it is committed.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "demo_machine.h"
#include "sim_test.h"
#include "ui/texts.h"

namespace {

class RunTest : public SimTest {};

void WriteGolden(const std::string& name, const std::string& log) {
  std::ofstream out(std::string(TAVO_GOLDEN_DIR) + "/" + name, std::ios::binary);
  const std::string stamp = " 2026/12/08 15:09:50.123 ";
  for (const std::string& line : SplitLines(log)) {
    size_t at = line.find(stamp);
    if (line.size() == 128 && line.compare(0, 11, "********** ") == 0 && at != std::string::npos) {
      out << "@" << Utf8(line.substr(11, at - 11)) << "\n";
    } else {
      out << Utf8(line) << "\n";
    }
  }
}

void ExpectGolden(const std::string& name, const std::string& log) {
  if (std::getenv("TAVO_UPDATE_GOLDEN") != nullptr) WriteGolden(name, log);
  std::string expected = GoldenLog(name);
  std::vector<std::string> want = SplitLines(expected), got = SplitLines(log);
  for (size_t i = 0; i < want.size() && i < got.size(); ++i) {
    if (want[i] != got[i]) {
      ADD_FAILURE() << name << ": first difference at line " << i + 1 << "\n  want: " << Utf8(want[i])
                    << "\n  got:  " << Utf8(got[i]);
      break;
    }
  }
  EXPECT_EQ(log, expected) << name;
}

const int Y = IDYES, N = IDNO, C = IDCANCEL, OK = IDOK;

struct RunCase {
  const char* golden;
  bool is64;
  bool full;  // a complete leftover install, else an empty machine
  std::vector<int> answers;  // start dialog first
  bool closingDialog;
};

const RunCase kRuns[] = {
    {"empty_64.log", true, false, {OK, OK}, true},
    {"empty_32.log", false, false, {OK, OK}, true},
    {"full_yes_64.log", true, true, {OK, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, Y, OK}, true},
    {"full_yes_32.log", false, true, {OK, Y, Y, Y, Y, Y, Y, Y, Y, OK}, true},
    {"full_no_64.log", true, true,
     {OK, N, N, N, N, N, N, N, N, N, N, N, N, N, N, N, N, OK}, true},
    {"abort_at_4.log", true, true, {OK, C, OK}, false},
};

TEST_F(RunTest, WholeRuns) {
  for (const RunCase& c : kRuns) {
    SCOPED_TRACE(c.golden);
    sim::Reset();
    if (!c.is64) demo::MakeMachine32();
    if (c.full) demo::PlantFullInstall(c.is64);
    sim::ScriptAnswers(c.answers);
    EXPECT_EQ(RunTool(), 0);
    const std::vector<sim::Box>& boxes = sim::Boxes();
    ASSERT_EQ(boxes.size(), c.answers.size());
    const std::string start = "ツールによるTAVO利用者ソフトのアンインストールを開始します。\nよろしいですか?\n";
    EXPECT_EQ(boxes.front().text, start);
    EXPECT_EQ(boxes.front().style, (UINT)MB_OKCANCEL);
    const std::string end = "ツールによるTAVO利用者ソフトのアンインストールを終了します。\n";
    EXPECT_EQ(boxes.back().text == end && boxes.back().style == MB_OK, c.closingDialog);
    for (const sim::Box& box : boxes) EXPECT_EQ(box.title, TAVO_DIALOG_TITLE);
    ExpectGolden(c.golden, LogText());
    // Every open reads, or enumerates and deletes children, in one view; a
    // delete names the view alone. 32-bit Windows has no view bits at all.
    for (const sim::RegCall& call : sim::RegCalls()) {
      SCOPED_TRACE(call.op + " " + call.path);
      const DWORD views = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
      if (call.op == "open") {
        DWORD rest = call.access & ~views;
        EXPECT_TRUE(rest == KEY_READ || rest == (KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS)) << rest;
      }
      if (call.op == "open" || call.op == "delete") {
        DWORD view = call.op == "open" ? call.access & views : call.access;
        if (c.is64) {
          EXPECT_TRUE(view == KEY_WOW64_64KEY || view == KEY_WOW64_32KEY) << view;
        } else {
          EXPECT_EQ(view, 0u);
        }
      }
    }
    EXPECT_TRUE(sim::DllSearchRestricted());
    EXPECT_TRUE(sim::JapaneseLocaleSet());
    EXPECT_TRUE(sim::ComInitialised());
  }
}

TEST_F(RunTest, FullYesLeavesOnlyWhatWasNotTheProducts) {
  demo::PlantFullInstall(true);
  sim::ScriptAnswers(kRuns[2].answers);
  RunTool();
  for (const std::string& key : sim::RegAllKeys()) {
    EXPECT_EQ(key.find("TAVO"), std::string::npos) << key;
  }
  std::vector<std::string> left = sim::FsAll();
  for (const std::string& path : left) {
    if (path == kLogPath) continue;
    EXPECT_EQ(path.find("TAVO"), std::string::npos) << path;
    EXPECT_EQ(path.find("ミラネス"), std::string::npos) << path;
    EXPECT_EQ(path.find("更新通知"), std::string::npos) << path;
    EXPECT_EQ(path.find("{5E2B9C41"), std::string::npos) << path;
  }
  EXPECT_TRUE(sim::FsExists("C:\\Program Files\\Java\\jre1.8.0_401\\lib\\ext\\other.jar"));
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.8"));
}

TEST_F(RunTest, CancelAtTheStartLeavesNoTrace) {
  for (int answer : {IDCANCEL, 0, IDNO}) {
    sim::Reset();
    demo::PlantFullInstall(true);
    sim::FsAddFolder("C:\\Users\\user\\TAVO");
    std::vector<std::string> before = sim::FsAll();
    sim::ScriptAnswers({answer});
    EXPECT_EQ(RunTool(), 0);
    EXPECT_EQ(sim::Boxes().size(), 1u);
    EXPECT_EQ(sim::FsAll(), before);
    EXPECT_TRUE(sim::RegCalls().empty());
  }
}

TEST_F(RunTest, TwoRunsAppendToOneLog) {
  sim::ScriptAnswers({OK, OK, OK, OK});
  RunTool();
  std::string first = LogText();
  RunTool();
  EXPECT_EQ(LogText(), first + first);
}

}  // namespace
