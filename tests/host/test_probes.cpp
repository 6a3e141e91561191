// The machine probes: 64-bit detection and the four folder lookups.
#include <string>

#include "app/probes.h"
#include "sim_test.h"

namespace {

class ProbeTest : public SimTest {};

struct ArchCase {
  WORD native;
  WORD process;
  bool hasNative;
  int is64;
};

const ArchCase kArchitectures[] = {
    {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL, true, 1},
    {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL, true, 0},
    {PROCESSOR_ARCHITECTURE_IA64, PROCESSOR_ARCHITECTURE_INTEL, true, 0},
    {PROCESSOR_ARCHITECTURE_ARM64, PROCESSOR_ARCHITECTURE_INTEL, true, 0},
    // Without GetNativeSystemInfo only the process's own view is there.
    {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_INTEL, false, 0},
    {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64, false, 1},
};

TEST_F(ProbeTest, Is64BitOnlyForAmd64) {
  for (const ArchCase& c : kArchitectures) {
    SCOPED_TRACE(testing::Message() << "native " << c.native << " process " << c.process
                                    << " hasNative " << c.hasNative);
    sim::Reset();
    StartLog();
    sim::SetArchitecture(c.native, c.process, c.hasNative);
    EXPECT_EQ(GetIs64BitOS(), c.is64);
    EXPECT_EQ(LogText(), c.is64 ? "[GetIs64BitOS] OS=64bit\r\n" : "[GetIs64BitOS] OS=32bit\r\n");
  }
}

struct FolderCase {
  const char* name;
  FolderRow row;
  int is64;
  void (*prepare)();
  int result;
  const char* folder;  // expected buffer on success
  const char* log;
};

const std::string k259(259, 'x');

const FolderCase kFolders[] = {
    {"64-bit reads ProgramW6432", kFolderProgramFiles, 1, [] {}, 1, "C:\\Program Files",
     "[GetFolderPath] ProgramFiles Path=C:\\Program Files\r\n"},
    {"32-bit reads ProgramFiles", kFolderProgramFiles, 0, [] {}, 1, "C:\\Program Files (x86)",
     "[GetFolderPath] ProgramFiles Path=C:\\Program Files (x86)\r\n"},
    {"x86 row", kFolderProgramFilesX86, 1, [] {}, 1, "C:\\Program Files (x86)",
     "[GetFolderPath] ProgramFiles(x86) Path=C:\\Program Files (x86)\r\n"},
    {"unset ProgramW6432 is an empty folder", kFolderProgramFiles, 1,
     [] { sim::UnsetEnv("ProgramW6432"); }, 1, "", "[GetFolderPath] ProgramFiles Path=\r\n"},
    {"name found whatever its case", kFolderProgramFiles, 0,
     [] {
       sim::UnsetEnv("ProgramFiles");
       sim::SetEnv("PROGRAMFILES", "D:\\Apps");
     },
     1, "D:\\Apps", "[GetFolderPath] ProgramFiles Path=D:\\Apps\r\n"},
    {"259 bytes fit", kFolderProgramFiles, 1, [] { sim::SetEnv("ProgramW6432", k259); }, 1,
     k259.c_str(), nullptr},
    {"260 bytes do not", kFolderProgramFiles, 1,
     [] {
       sim::SetEnv("ProgramW6432", k259 + "y");
       sim::SetLastError(0x57);
     },
     0, nullptr, nullptr},
    {"common programs", kFolderCommonPrograms, 0, [] {}, 1,
     "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
     "[GetFolderPath] CSIDL_COMMON_PROGRAMS "
     "Path=C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\r\n"},
    {"missing startup folder", kFolderCommonStartup, 1,
     [] { sim::SetSpecialFolder(CSIDL_COMMON_STARTUP, ""); }, 0, nullptr,
     "[GetFolderPath] CSIDL_COMMON_STARTUP Path\r\n Not Found\r\n"},
};

TEST_F(ProbeTest, FolderRows) {
  for (const FolderCase& c : kFolders) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    c.prepare();
    char buffer[kFolderPathSize];
    memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(GetFolderPath(c.row, c.is64, buffer), c.result);
    if (c.result) {
      EXPECT_STREQ(buffer, c.folder);
    }
    std::string log = LogText();
    if (c.log != nullptr) {
      EXPECT_EQ(log, c.log);
    } else if (c.result) {
      EXPECT_EQ(log, std::string("[GetFolderPath] ProgramFiles Path=") + c.folder + "\r\n");
    }
  }
}

TEST_F(ProbeTest, AnOversizedValueLogsRet34WithTheLastErrorOfTheLookup) {
  StartLog();
  WriteLog("%s", "");  // the log file exists from here on
  sim::SetEnv("ProgramW6432", std::string(300, 'z'));
  char buffer[kFolderPathSize];
  EXPECT_EQ(GetFolderPath(kFolderProgramFiles, 1, buffer), 0);
  // The label's own write (an existing log file) leaves ERROR_ALREADY_EXISTS.
  EXPECT_EQ(LogText(),
            "[GetFolderPath] ProgramFiles Path\r\n ERROR : Ret=34,  LastError=0x000000B7\r\n");
}

}  // namespace
