// The installation record readers on absent, empty and odd keys.
#include <string>

#include "registry/install_info.h"
#include "registry/java_home.h"
#include "sim_test.h"

namespace {

class ReaderTest : public SimTest {};

InstallInfo Scribbled() {
  InstallInfo info;
  memset(&info, 0x7f, sizeof info);
  return info;
}

TEST_F(ReaderTest, AbsentEntryLeavesTheDefaults) {
  StartLog();
  InstallInfo info = Scribbled();
  GetUninstallInfo(kEntry, KEY_WOW64_64KEY, &info);
  EXPECT_EQ(info.keyFound, 0);
  EXPECT_EQ(info.pathFound, 0);
  for (const char* field : {info.programName, info.version, info.installPath, info.installDate}) {
    EXPECT_STREQ(field, "(不明)");
  }
  EXPECT_EQ(LogText(), std::string("[OpenRegKey] HKEY_LOCAL_MACHINE\\") + kEntry + "\r\n Not Found\r\n");
}

TEST_F(ReaderTest, EntryThatRefusesTheOpenIsReportedWithItsCode) {
  StartLog();
  sim::RegAddKey(kEntry);
  sim::RegFailOpen(kEntry, ERROR_ACCESS_DENIED, 0x1234);
  InstallInfo info = Scribbled();
  GetUninstallInfo(kEntry, KEY_WOW64_64KEY, &info);
  EXPECT_EQ(info.keyFound, 0);
  EXPECT_EQ(LogText(), std::string("[OpenRegKey] HKEY_LOCAL_MACHINE\\") + kEntry +
                           "\r\n ERROR: Ret=5, LastError=0x00001234\r\n");
}

struct ValueCase {
  const char* name;
  void (*plant)();
  int pathFound;
  const char* programName;
  const char* installPath;
  const char* version = "(不明)";
  const char* installDate = "(不明)";
};

const ValueCase kValues[] = {
    {"empty key", [] { sim::RegAddKey(kEntry); }, 0, "(不明)", "(不明)"},
    {"plain strings",
     [] {
       sim::RegSetString(kEntry, "DisplayName", "TAVO利用者ソフト");
       sim::RegSetString(kEntry, "InstallLocation", "C:\\Program Files\\TAVO\\");
     },
     1, "TAVO利用者ソフト", "C:\\Program Files\\TAVO\\"},
    {"empty InstallLocation is a path that was read",
     [] { sim::RegSetString(kEntry, "InstallLocation", ""); }, 1, "(不明)", ""},
    {"stored without its NUL",
     [] {
       sim::RegSetValue(kEntry, "DisplayName", REG_SZ, "Name");
       sim::RegSetValue(kEntry, "InstallLocation", REG_EXPAND_SZ, "%ProgramFiles%\\T");
     },
     1, "Name", "%ProgramFiles%\\T"},
    {"31 bytes and NUL fill the name exactly",
     [] { sim::RegSetString(kEntry, "DisplayName", std::string(31, 'n')); }, 0,
     "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "(不明)"},
    {"32 bytes without NUL fill the field: not the whole value",
     [] { sim::RegSetValue(kEntry, "DisplayName", REG_SZ, std::string(32, 'n')); }, 0,
     "(不明)", "(不明)"},
    {"a path one byte too long fails, whatever the read left",
     [] { sim::RegSetString(kEntry, "InstallLocation", "C:\\" + std::string(257, 'p')); }, 0,
     "(不明)", "(不明)"},
    {"a DWORD that looks like C:\\ is no path",
     [] { sim::RegSetValue(kEntry, "InstallLocation", REG_DWORD, std::string("C:\\\0", 4)); },
     0, "(不明)", "(不明)"},
    {"binary path bytes are no path",
     [] { sim::RegSetValue(kEntry, "InstallLocation", REG_BINARY, "C:\\Windows"); }, 0,
     "(不明)", "(不明)"},
    {"only InstallLocation marks the path found",
     [] {
       sim::RegSetString(kEntry, "DisplayName", "TAVO");
       sim::RegSetString(kEntry, "DisplayVersion", "5.1.0");
       sim::RegSetString(kEntry, "InstallDate", "20240401");
     },
     0, "TAVO", "(不明)", "5.1.0", "20240401"},
    {"the text ends at the first NUL",
     [] { sim::RegSetValue(kEntry, "InstallLocation", REG_SZ, std::string("C:\\A\0C:\\B\0", 10)); },
     1, "(不明)", "C:\\A"},
};

TEST_F(ReaderTest, UninstallValues) {
  for (const ValueCase& c : kValues) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    c.plant();
    InstallInfo info = Scribbled();
    GetUninstallInfo(kEntry, KEY_WOW64_64KEY, &info);
    EXPECT_EQ(info.keyFound, 1);
    EXPECT_EQ(info.pathFound, c.pathFound);
    EXPECT_STREQ(info.programName, c.programName);
    EXPECT_STREQ(info.installPath, c.installPath);
    EXPECT_STREQ(info.version, c.version);
    EXPECT_STREQ(info.installDate, c.installDate);
    std::string expected = std::string("[OpenRegKey] HKEY_LOCAL_MACHINE\\") + kEntry + "\r\n" +
                           "[GetRegValue] DisplayName=" + c.programName + "\r\n" +
                           "[GetRegValue] DisplayVersion=" + c.version + "\r\n" +
                           "[GetRegValue] InstallLocation=" + c.installPath + "\r\n" +
                           "[GetRegValue] InstallDate=" + c.installDate + "\r\n";
    EXPECT_EQ(LogText(), expected);
  }
}

TEST_F(ReaderTest, EachViewReadsItsOwnEntryAndTheSecondCallStartsAfresh) {
  sim::RegSetString(kEntry, "DisplayName", "native");
  sim::RegSetString(kEntry, "InstallDate", "20240101");
  sim::RegSetString(kWowEntry, "DisplayVersion", "1.0");
  InstallInfo info = Scribbled();
  GetUninstallInfo(kEntry, KEY_WOW64_64KEY, &info);
  EXPECT_STREQ(info.programName, "native");
  GetUninstallInfo(kWowEntry, KEY_WOW64_32KEY, &info);
  EXPECT_EQ(info.keyFound, 1);
  EXPECT_STREQ(info.programName, "(不明)");
  EXPECT_STREQ(info.version, "1.0");
  EXPECT_STREQ(info.installDate, "(不明)");
  for (const sim::RegCall& call : sim::RegCalls()) {
    if (call.op == "open") {
      EXPECT_TRUE(call.access == (KEY_READ | KEY_WOW64_64KEY) ||
                  call.access == (KEY_READ | KEY_WOW64_32KEY));
    }
  }
}

struct VersionCase {
  const char* name;
  void (*plant)();
  const char* major;  // the three numbers as logged
  const char* minor;
  const char* revision;
  const char* version;
};

const char kManage[] = "SOFTWARE\\TAVO";
const char kVersionKey[] = "SOFTWARE\\TAVO\\Version";

// The three numbers as DWORD values; a negative one is left out.
void Numbers(long long major, long long minor, long long revision) {
  if (major >= 0) sim::RegSetDword(kVersionKey, "Major", (DWORD)major);
  if (minor >= 0) sim::RegSetDword(kVersionKey, "Minor", (DWORD)minor);
  if (revision >= 0) sim::RegSetDword(kVersionKey, "Revision", (DWORD)revision);
}

const VersionCase kVersions[] = {
    {"1 2 3", [] { Numbers(1, 2, 3); }, "1", "02", "003", "1.02.003"},
    {"widths are minimums", [] { Numbers(1, 123, 3); }, "1", "123", "003", "1.123.003"},
    {"65535 counts as not read", [] { Numbers(65535, 2, 3); }, "65535", "02", "003", "(不明)"},
    {"revision missing", [] { Numbers(1, 2, -1); }, "1", "02", "(不明)", "(不明)"},
    {"minor missing", [] { Numbers(1, -1, 3); }, "1", "(不明)", "003", "(不明)"},
    {"numbers of other sizes and types are not read",
     [] {
       sim::RegSetValue(kVersionKey, "Major", REG_QWORD, std::string("\1\0\0\0\0\0\0\0", 8));
       sim::RegSetValue(kVersionKey, "Minor", REG_DWORD, std::string("\2\0", 2));
       sim::RegSetString(kVersionKey, "Revision", "123");
     },
     "(不明)", "(不明)", "(不明)", "(不明)"},
    {"a version text over 15 bytes is not cut", [] { Numbers(2000000000, 2000000000, 7); },
     "2000000000", "2000000000", "007", "(不明)"},
    {"16 bytes do not fit", [] { Numbers(123456789, 12, 123); }, "123456789", "12", "123",
     "(不明)"},
    {"exactly 15 bytes fit", [] { Numbers(12345, 12345, 123); }, "12345", "12345", "123",
     "12345.12345.123"},
};

TEST_F(ReaderTest, ManagementVersion) {
  for (const VersionCase& c : kVersions) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    sim::RegSetString(kManage, "InstallPath", "C:\\TAVO");
    c.plant();
    InstallInfo info = Scribbled();
    strcpy(info.installDate, "20240401");
    GetManageInfo(kManage, KEY_WOW64_64KEY, &info);
    EXPECT_EQ(info.keyFound, 1);
    EXPECT_EQ(info.pathFound, 1);
    EXPECT_STREQ(info.programName, "TAVO利用者ソフト");
    EXPECT_STREQ(info.installPath, "C:\\TAVO");
    EXPECT_STREQ(info.version, c.version);
    EXPECT_STREQ(info.installDate, "20240401");  // not the management key's
    EXPECT_EQ(LogText(), std::string("[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n"
                                     "[GetRegValue] InstallPath=C:\\TAVO\r\n"
                                     "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\Version\r\n"
                                     "[GetRegValue] Major=") +
                             c.major + "\r\n[GetRegValue] Minor=" + c.minor +
                             "\r\n[GetRegValue] Revision=" + c.revision + "\r\n");
  }
}

TEST_F(ReaderTest, ManagementKeyAbsentOrWithoutVersion) {
  StartLog();
  InstallInfo info = Scribbled();
  strcpy(info.installDate, "kept");
  GetManageInfo(kManage, KEY_WOW64_64KEY, &info);
  EXPECT_EQ(info.keyFound, 0);
  EXPECT_STREQ(info.programName, "TAVO利用者ソフト");
  EXPECT_STREQ(info.version, "(不明)");
  EXPECT_STREQ(info.installPath, "(不明)");
  EXPECT_STREQ(info.installDate, "kept");

  sim::RegAddKey(kManage);
  GetManageInfo(kManage, KEY_WOW64_64KEY, &info);
  EXPECT_EQ(info.keyFound, 1);
  EXPECT_EQ(info.pathFound, 0);
  EXPECT_EQ(LogText(),
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n Not Found\r\n"
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\r\n"
            "[GetRegValue] InstallPath=(不明)\r\n"
            "[OpenRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE\\TAVO\\Version\r\n Not Found\r\n");
}

class JavaHomeTest : public SimTest {};

// The lookup's own buffers at exactly full and one byte over: a version key
// path of 259 bytes is opened, one of 260 would be cut and is refused; a
// home folder of 259 bytes is read, one of 260 is not.
TEST_F(JavaHomeTest, VersionKeyAndHomeAtFullBuffers) {
  const std::string key = "SOFTWARE\\" + std::string(200, 'j') + "\\" + std::string(38, 'r');
  const std::string open = "[OpenRegKey] HKEY_LOCAL_MACHINE\\" + key;
  const struct {
    const char* name;
    std::string version;
    std::string home;
    int result;
    std::string tail;  // the lines after "[GetRegValue] CurrentVersion=<version>"
  } kCases[] = {
      {"version key of 259 bytes", "1.8.0_4011", "C:\\Java", 1,
       open + "\\1.8.0_4011\r\n[GetRegValue] JavaHome=C:\\Java\r\n"},
      {"version key of 260 bytes", "1.8.0_40111", "C:\\Java", 0,
       open + "\\1.8.0_40111\r\n ERROR: Path Too Long\r\n"},
      {"home of 259 bytes", "1.8", "C:\\" + std::string(256, 'h'), 1,
       open + "\\1.8\r\n[GetRegValue] JavaHome=C:\\" + std::string(256, 'h') + "\r\n"},
      {"home of 260 bytes", "1.8", "C:\\" + std::string(257, 'h'), 0,
       open + "\\1.8\r\n[GetRegValue] JavaHome\r\n ERROR: Ret=234, LastError=0x000000B7\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    StartLog();
    sim::RegSetString(key, "CurrentVersion", c.version);
    sim::RegSetString(key + "\\" + c.version, "JavaHome", c.home);
    char home[kJavaHomeSize + 8];
    memset(home, 'Z', sizeof home);
    EXPECT_EQ(GetJavaHome(key.c_str(), KEY_WOW64_64KEY, home), c.result);
    if (c.result) {
      EXPECT_EQ(std::string(home), c.home);
    }
    EXPECT_EQ(std::string(home + kJavaHomeSize, 8), std::string(8, 'Z'));
    EXPECT_EQ(LogText(), open + "\r\n[GetRegValue] CurrentVersion=" + c.version + "\r\n" + c.tail);
  }
}

}  // namespace
