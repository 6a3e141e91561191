// Existence checks and the shell deletion, stage by stage.
#include <string>

#include "files/files.h"
#include "platform/os.h"
#include "sim_test.h"

namespace {

class FilesTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    OsSetJapaneseCtype();
    OsInitCom();
    StartLog();
  }
};

TEST_F(FilesTest, ExistenceTellsFilesFromFolders) {
  sim::FsAddFolder("C:\\P\\ミラネス");
  sim::FsAddFile("C:\\P\\更新通知.lnk");
  sim::FsAddFolder("C:\\P\\TAVOCryptJNI.jar");
  EXPECT_EQ(ExistsFolder("C:\\P\\ミラネス"), 1);
  EXPECT_EQ(ExistsFolder("C:\\P\\更新通知.lnk"), 0);
  EXPECT_EQ(ExistsFile("C:\\P\\更新通知.lnk"), 1);
  EXPECT_EQ(ExistsFile("C:\\P\\TAVOCryptJNI.jar"), 0);
  EXPECT_EQ(ExistsFile("C:\\P\\none"), 0);
  EXPECT_EQ(LogText(),
            "[ExistsFolder] C:\\P\\ミラネス\r\n"
            "[ExistsFolder] C:\\P\\更新通知.lnk\r\n Not Found\r\n"
            "[ExistsFile] C:\\P\\更新通知.lnk\r\n"
            "[ExistsFile] C:\\P\\TAVOCryptJNI.jar\r\n Not Found\r\n"
            "[ExistsFile] C:\\P\\none\r\n Not Found\r\n");
}

TEST_F(FilesTest, DeletesAWholeFolderWithOneLineAndTheRightFlags) {
  sim::FsAddFile("C:\\Program Files\\TAVO\\bin\\a.dll");
  sim::FsAddFile("C:\\Program Files\\TAVO\\readme.txt");
  EXPECT_EQ(DeleteItem("C:\\Program Files\\TAVO"), 1);
  EXPECT_FALSE(sim::FsExists("C:\\Program Files\\TAVO"));
  EXPECT_TRUE(sim::FsExists("C:\\Program Files"));
  EXPECT_EQ(LogText(), "[DeleteItem] C:\\Program Files\\TAVO\r\n");
  ASSERT_EQ(sim::ShellOps().size(), 1u);
  EXPECT_EQ(sim::ShellOps()[0].flags, 0x214u);
  EXPECT_TRUE(sim::ShellOps()[0].performed);
}

TEST_F(FilesTest, JapanesePathOf259BytesConvertsWhole) {
  std::string path = "C:\\";
  while (path.size() + 2 <= 259) path += "削";
  path += std::string(259 - path.size(), 'x');
  sim::FsAddFile(path);
  EXPECT_EQ(DeleteItem(path.c_str()), 1);
  EXPECT_FALSE(sim::FsExists(path));
}

struct StageCase {
  const char* name;
  void (*prepare)();
  const char* errorLine;  // after the "[DeleteItem]" line; nullptr: none
  bool gone;
};

const StageCase kStages[] = {
    {"not code page 932", [] {}, " mbstowcs ERROR : Ret=42,  LastError=0x", false},
    {"parse", [] { sim::ShellFail(sim::kParse, (HRESULT)0x80070002u, 2); },
     " SHCreateItemFromParsingName ERROR : Ret=0x80070002,  LastError=0x00000002", false},
    {"create", [] { sim::ShellFail(sim::kCreate, (HRESULT)0x80040154u, 0x7E); },
     " CoCreateInstance ERROR : Ret=0x80040154,  LastError=0x0000007E", false},
    {"flags", [] { sim::ShellFail(sim::kSetFlags, E_NOTIMPL, 0); },
     " IFileOperation::SetOperationFlags ERROR : Ret=0x80004001,  LastError=0x00000000", false},
    {"queue", [] { sim::ShellFail(sim::kDeleteItem, E_FAIL, 0x57); },
     " IFileOperation::DeleteItem ERROR : Ret=0x80004005,  LastError=0x00000057", false},
    {"perform", [] { sim::ShellFail(sim::kPerform, (HRESULT)0x80270000u, 0x20); },
     " IFileOperation::PerformOperations ERROR : Ret=0x80270000,  LastError=0x00000020", false},
    {"asking whether anything was aborted fails",
     [] { sim::ShellFail(sim::kAnyAborted, E_FAIL, 0x1F); },
     " IFileOperation::GetAnyOperationsAborted ERROR : Ret=0x80004005,  LastError=0x0000001F",
     true},
    {"a file in use was skipped",
     [] { sim::FsSetInUse("C:\\T\\sub\\locked.dll", true); },
     " IFileOperation::GetAnyOperationsAborted ERROR : Ret=0x800704C7,  LastError=0x", false},
};

TEST_F(FilesTest, EachStageWritesItsOwnErrorLineAndReleasesEverything) {
  for (const StageCase& c : kStages) {
    SCOPED_TRACE(c.name);
    SetUp();  // a fresh machine for each stage
    sim::FsAddFile("C:\\T\\sub\\locked.dll");
    sim::FsAddFile("C:\\T\\other.txt");
    c.prepare();
    const std::string path = std::string(c.name) == "not code page 932" ? "C:\\T\x80\xff" : "C:\\T";
    EXPECT_EQ(DeleteItem(path.c_str()), 0);
    std::vector<std::string> lines = SplitLines(LogText());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[DeleteItem] " + path);
    EXPECT_EQ(lines[1].compare(0, strlen(c.errorLine), c.errorLine), 0) << lines[1];
    EXPECT_EQ(sim::ShellObjectsAlive(), 0);
    // A skipped file keeps its folders; everything else of the tree is gone.
    if (std::string(c.name) == "a file in use was skipped") {
      EXPECT_TRUE(sim::FsExists("C:\\T\\sub\\locked.dll"));
      EXPECT_FALSE(sim::FsExists("C:\\T\\other.txt"));
    } else {
      EXPECT_EQ(!sim::FsExists("C:\\T\\other.txt"), c.gone);
    }
  }
}

TEST_F(FilesTest, WithoutTheJapaneseLocaleJapanesePathsAreRefused) {
  sim::Reset();
  OsInitCom();
  StartLog();
  sim::FsAddFolder("C:\\ミラネス");
  EXPECT_EQ(DeleteItem("C:\\ミラネス"), 0);
  EXPECT_TRUE(sim::FsExists("C:\\ミラネス"));
}

TEST_F(FilesTest, WithoutComNothingIsDeleted) {
  sim::Reset();
  OsSetJapaneseCtype();
  StartLog();
  sim::FsAddFolder("C:\\T");
  EXPECT_EQ(DeleteItem("C:\\T"), 0);
  EXPECT_TRUE(sim::FsExists("C:\\T"));
  EXPECT_NE(LogText().find(" CoCreateInstance ERROR : Ret=0x800401F0"), std::string::npos);
}

}  // namespace
