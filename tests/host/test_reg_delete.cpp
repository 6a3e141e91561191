// The key probe and the recursive deletion: order, masks, views, failures.
#include <string>
#include <vector>

#include "registry/reg_key.h"
#include "sim_test.h"

namespace {

class RegDeleteTest : public SimTest {};

// The machine and view of a deletion, and where the key physically lies.
struct ViewCase {
  const char* name;
  WORD arch;
  REGSAM view;
  const char* keyPath;   // as the caller passes it
  const char* physical;  // where that reaches
};

const ViewCase kViews[] = {
    {"32-bit Windows, view 0", PROCESSOR_ARCHITECTURE_INTEL, 0, "SOFTWARE\\TAVO",
     "SOFTWARE\\TAVO"},
    {"64-bit view", PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_64KEY, "SOFTWARE\\TAVO",
     "SOFTWARE\\TAVO"},
    {"32-bit view on 64-bit Windows", PROCESSOR_ARCHITECTURE_AMD64, KEY_WOW64_32KEY,
     "SOFTWARE\\Wow6432Node\\TAVO", "SOFTWARE\\Wow6432Node\\TAVO"},
};

// DeleteRegKey on SOFTWARE\TAVO in the 64-bit view.
LONG DeleteTavo() {
  return DeleteRegKey(HKEY_LOCAL_MACHINE, TAVO_HKLM_NAME, "SOFTWARE\\TAVO", KEY_WOW64_64KEY);
}

// TAVO { A { A1, a2 }, B }: children before parents, in enumeration order.
void PlantTree(const std::string& top) {
  sim::RegAddKey(top + "\\A\\A1");
  sim::RegAddKey(top + "\\A\\a2");
  sim::RegAddKey(top + "\\B");
  sim::RegSetString(top, "InstallPath", "C:\\TAVO");
}

TEST_F(RegDeleteTest, TreeInEveryView) {
  for (const ViewCase& c : kViews) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    sim::SetArchitecture(c.arch, PROCESSOR_ARCHITECTURE_INTEL, true);
    StartLog();
    PlantTree(c.physical);
    // The other view's copy must survive.
    const std::string other = c.view == KEY_WOW64_32KEY ? "SOFTWARE\\TAVO" : "SOFTWARE\\Wow6432Node\\TAVO";
    if (c.arch == PROCESSOR_ARCHITECTURE_AMD64) sim::RegAddKey(other + "\\Version");

    EXPECT_EQ(DeleteRegKey(HKEY_LOCAL_MACHINE, TAVO_HKLM_NAME, c.keyPath, c.view), 0);
    const std::string top = std::string("HKEY_LOCAL_MACHINE\\") + c.keyPath;
    EXPECT_EQ(LogText(), "[DeleteRegKey] " + top + "\\A\\A1\r\n" +
                             "[DeleteRegKey] " + top + "\\A\\a2\r\n" +
                             "[DeleteRegKey] " + top + "\\A\r\n" +
                             "[DeleteRegKey] " + top + "\\B\r\n" +
                             "[DeleteRegKey] " + top + "\r\n");
    EXPECT_FALSE(sim::RegKeyExists(c.physical));
    if (c.arch == PROCESSOR_ARCHITECTURE_AMD64) {
      EXPECT_TRUE(sim::RegKeyExists(other + "\\Version"));
    }

    int topOpens = 0;
    for (const sim::RegCall& call : sim::RegCalls()) {
      if (call.op == "open") {
        EXPECT_EQ(call.access, c.view | 0x000Au) << call.path;
        if (call.path == c.physical) ++topOpens;
      } else if (call.op == "delete") {
        EXPECT_EQ(call.access, c.view) << call.path;
        EXPECT_EQ(call.result, 0);
      } else if (call.op == "enum") {
        EXPECT_EQ(call.access, 0u) << "always index 0";
      }
    }
    EXPECT_EQ(topOpens, 3) << "opened once more than it has children";
  }
}

TEST_F(RegDeleteTest, KeyWithoutSubkeysAndMissingKey) {
  StartLog();
  sim::RegAddKey("SOFTWARE\\TAVO");
  EXPECT_EQ(DeleteTavo(), 0);
  EXPECT_EQ(DeleteTavo(), 2);
  EXPECT_EQ(LogText(),
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n"
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n"
            " ERROR: Ret=2, LastError=0x00000000\r\n");
}

TEST_F(RegDeleteTest, RefusedOpenInTheMiddleKeepsWhatWasNotReached) {
  StartLog();
  WriteLog("%s", "");  // an existing log file: its opens leave 183 behind
  PlantTree("SOFTWARE\\TAVO");
  sim::RegAddKey("SOFTWARE\\TAVO\\C");
  sim::RegFailOpen("SOFTWARE\\TAVO\\B", ERROR_ACCESS_DENIED, 0x00000005);
  EXPECT_EQ(DeleteTavo(), ERROR_ACCESS_DENIED);
  // The LastError shown is the failed open's, not what writing the
  // "[OpenRegKey]" line left behind.
  EXPECT_EQ(LogText(),
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\A1\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\a2\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\r\n"
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\B\r\n"
            " ERROR: Ret=5, LastError=0x00000005\r\n");
  EXPECT_FALSE(sim::RegKeyExists("SOFTWARE\\TAVO\\A"));
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\B"));
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\C"));
}

TEST_F(RegDeleteTest, FailedDeleteTravelsUpUnchanged) {
  StartLog();
  PlantTree("SOFTWARE\\TAVO");
  sim::RegFailDelete("SOFTWARE\\TAVO\\A\\a2", 1018, 0x3F2);
  EXPECT_EQ(DeleteTavo(), 1018);
  EXPECT_EQ(LogText(),
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\A1\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\a2\r\n"
            " ERROR: Ret=1018, LastError=0x000003F2\r\n");
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\A\\a2"));
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\B"));
}

TEST_F(RegDeleteTest, EnumerationFailureEndsTheLoopAndTheDeleteReportsIt) {
  StartLog();
  PlantTree("SOFTWARE\\TAVO");
  sim::RegFailEnum("SOFTWARE\\TAVO\\A", ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteTavo(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\A\\A1"));
  std::vector<std::string> lines = SplitLines(LogText());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A");
  EXPECT_EQ(lines[1].rfind(" ERROR: Ret=5, LastError=0x", 0), 0u);
}

// A child whose delete reports success but that is still there would be
// handed out again for ever: the loop stops, and the parent's delete fails.
TEST_F(RegDeleteTest, AChildStillThereAfterItsDeleteEndsTheLoop) {
  StartLog();
  PlantTree("SOFTWARE\\TAVO");
  sim::RegFailDelete("SOFTWARE\\TAVO\\B", ERROR_SUCCESS);
  EXPECT_EQ(DeleteTavo(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(LogText(),
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\A1\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\\a2\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\A\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\B\r\n"
            "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n"
            " ERROR: Ret=5, LastError=0x000000B7\r\n");
  EXPECT_TRUE(sim::RegKeyExists("SOFTWARE\\TAVO\\B"));
}

// Display names of exactly 259 bytes are shown whole; longer ones are cut
// between characters to at most 256 bytes and end in "...".
TEST_F(RegDeleteTest, DisplayNamesAtExactlyFullBuffers) {
  const std::string parent = "HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\";  // 33 bytes
  const std::string k222(222, 'k');
  const struct {
    const char* name;
    std::string child;
    std::string shown;
  } kCases[] = {
      {"259 bytes", std::string(226, 'k'), parent + std::string(226, 'k')},
      {"260 bytes", std::string(227, 'k'), parent + std::string(223, 'k') + "..."},
      {"a two-byte character across the cut", k222 + "鍵kkk", parent + k222 + "..."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    sim::RegAddKey("SOFTWARE\\TAVO\\" + c.child);
    EXPECT_EQ(DeleteTavo(), 0);
    EXPECT_EQ(LogText(), "[DeleteRegKey] " + c.shown + "\r\n"
                         "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n");
  }
}

TEST_F(RegDeleteTest, LongNamesAreShortenedInTheLogOnlyAndTheTreeStillGoes) {
  StartLog();
  // Three levels of 120-byte names: the display names outgrow 259 bytes.
  const std::string level(120, 'k');
  const std::string jp = "鍵" + std::string(118, 'j');  // a two-byte character first
  std::string path = "SOFTWARE\\TAVO\\" + level + "\\" + jp + "\\" + level;
  sim::RegAddKey(path);
  EXPECT_EQ(DeleteTavo(), 0);
  EXPECT_FALSE(sim::RegKeyExists("SOFTWARE\\TAVO"));
  std::vector<std::string> lines = SplitLines(LogText());
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) {
    std::string name = line.substr(strlen("[DeleteRegKey] "));
    EXPECT_LE(name.size(), 259u);
  }
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "...");
  EXPECT_EQ(lines[3], "[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO");
}

TEST_F(RegDeleteTest, ProbeReadsWithKeyReadAndTheView) {
  StartLog();
  sim::RegAddKey("SOFTWARE\\Wow6432Node\\X");
  EXPECT_EQ(OpenRegKey("SOFTWARE\\Wow6432Node\\X", KEY_WOW64_32KEY), 1);
  EXPECT_EQ(OpenRegKey("SOFTWARE\\Y", KEY_WOW64_64KEY), 0);
  EXPECT_EQ(LogText(),
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\X\r\n"
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\Y\r\n Not Found\r\n");
  ASSERT_GE(sim::RegCalls().size(), 1u);
  EXPECT_EQ(sim::RegCalls()[0].access, (DWORD)(KEY_READ | KEY_WOW64_32KEY));
}

}  // namespace
