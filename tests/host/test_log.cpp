// The run log: where it lies, its bytes, and what happens when it cannot be
// written.
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "sim_test.h"

namespace {

class LogTest : public SimTest {};

TEST_F(LogTest, NothingIsWrittenBeforeTheFileIsChosen) {
  WriteLog("[ConfirmDeleteItem] IDYES\r\n");
  WriteLogHeader("#1 アンインストール開始");
  EXPECT_FALSE(sim::FsExists(kLogPath));
  EXPECT_FALSE(sim::FsExists("C:\\Users\\user\\TAVO\\TAVOSweeper.log"));
}

struct LocationCase {
  const char* name;
  void (*prepare)();
  std::string expectedPath;
};

// A profile of "C:\" and `length` bytes, with a TAVO folder.
void LongProfile(size_t length) {
  std::string profile = "C:\\" + std::string(length, 'p');
  sim::SetSpecialFolder(CSIDL_PROFILE, profile);
  sim::FsAddFolder(profile + "\\TAVO");
}

const LocationCase kLocations[] = {
    {"profile TAVO folder", [] { sim::FsAddFolder("C:\\Users\\user\\TAVO"); },
     "C:\\Users\\user\\TAVO\\TAVOSweeper.log"},
    {"a file named TAVO", [] { sim::FsAddFile("C:\\Users\\user\\TAVO", "x"); },
     "TAVOSweeper.log"},
    {"no TAVO entry", [] {}, "TAVOSweeper.log"},
    {"no profile folder", [] { sim::SetSpecialFolder(CSIDL_PROFILE, ""); }, "TAVOSweeper.log"},
    // 238 + 6 + 15 bytes.
    {"a log path of exactly 259 bytes", [] { LongProfile(235); },
     "C:\\" + std::string(235, 'p') + "\\TAVO\\TAVOSweeper.log"},
    {"a log path of 260 bytes", [] { LongProfile(236); }, "TAVOSweeper.log"},
    // 245 + "\TAVO\" fits, "TAVOSweeper.log" does not: never a cut name.
    {"profile path too long for the file name", [] { LongProfile(242); }, "TAVOSweeper.log"},
};

TEST_F(LogTest, LocationFollowsTheProfileTavoFolder) {
  for (const LocationCase& c : kLocations) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    c.prepare();
    InitLogFile();
    EXPECT_EQ(std::string(logFilePath), c.expectedPath);
    WriteLog("x\r\n");
    std::string where = c.expectedPath[0] == 'C' ? c.expectedPath : kLogPath;
    EXPECT_EQ(sim::FsRead(where), "x\r\n");
    // The tool never makes the TAVO folder itself.
    if (std::string(c.name) == "no TAVO entry") {
      EXPECT_FALSE(sim::FsExists("C:\\Users\\user\\TAVO"));
    }
  }
}

struct BannerCase {
  long long utc;
  int millis;
  int offset;
  const char* title;
  const char* stamp;
};

const BannerCase kBanners[] = {
    // 2026-12-08 06:09:50 UTC, JST
    {1796710190, 123, 9 * 3600, "#1 アンインストール開始", "2026/12/08 15:09:50.123"},
    // zero padding everywhere: 2027-01-05 09:03:07.004 local
    {1799107387, 4, 9 * 3600, "#2 OS判定", "2027/01/05 09:03:07.004"},
    // the longest title of a run
    {1796710190, 0, 9 * 3600, "#9 (Wow6432)アンインストール情報に紐付いたInstallShieldフォルダ削除",
     "2026/12/08 15:09:50.000"},
    // local midnight when UTC is still the day before
    {1796742000, 999, 9 * 3600, "#25 アンインストール終了", "2026/12/09 00:00:00.999"},
};

TEST_F(LogTest, BannerLinesAre130BytesWithTheTimeZeroPadded) {
  StartLog();
  std::string expected;
  for (const BannerCase& c : kBanners) {
    sim::SetClock(c.utc, c.millis, c.offset);
    WriteLogHeader(c.title);
    expected += Banner(c.title, c.stamp);
  }
  EXPECT_EQ(LogText(), expected);
}

TEST_F(LogTest, AnOverlongTitleIsCutInsideTheAsterisksBetweenCharacters) {
  // The banner text holds 99 bytes at most and a whole number of characters:
  // after " #99 " that is 47 two-byte characters, after " #99 x" only 46.
  const struct {
    const char* start;
    size_t textBytes;
  } kTitles[] = {{"#99 ", 99}, {"#99 x", 98}};
  for (const auto& t : kTitles) {
    SCOPED_TRACE(t.start);
    sim::Reset();
    StartLog();
    std::string title = t.start;
    for (int i = 0; i < 60; ++i) title += "あ";
    WriteLogHeader(title.c_str());
    std::string line = LogText();
    ASSERT_EQ(line.size(), 130u);
    EXPECT_EQ(line.substr(0, 10), std::string(10, '*'));
    EXPECT_EQ(line.substr(10, t.textBytes), " " + title.substr(0, t.textBytes - 1));
    EXPECT_EQ(line.substr(10 + t.textBytes), std::string(118 - t.textBytes, '*') + "\r\n");
  }
}

TEST_F(LogTest, ClockFailureLosesOnlyTheBanner) {
  StartLog();
  sim::SetClockFailure(true, false);
  WriteLogHeader("#1 アンインストール開始");
  sim::SetClockFailure(false, true);
  WriteLogHeader("#2 OS判定");
  WriteLog("[GetIs64BitOS] OS=64bit\r\n");
  EXPECT_EQ(LogText(), "[GetIs64BitOS] OS=64bit\r\n");
}

TEST_F(LogTest, OpenLabelIsContinuedAndBoundsAreKept) {
  StartLog();
  WriteLog("[GetFolderPath] ProgramFiles Path");
  WriteLog("=%s\r\n", "C:\\Program Files");
  WriteLog("%s", "");  // adds nothing
  std::string exact(1023, 'a');
  WriteLog("%s", exact.c_str());
  std::string over(1500, 'b');
  WriteLog("%s", over.c_str());
  WriteLog("%s%%d\r\n", "no conversion from an argument: ");
  std::string expected = "[GetFolderPath] ProgramFiles Path=C:\\Program Files\r\n" + exact +
                         std::string(1023, 'b') + "no conversion from an argument: %d\r\n";
  EXPECT_EQ(LogText(), expected);
}

TEST_F(LogTest, AMessageIsLostWhileAnotherProgramHoldsTheFile) {
  StartLog();
  WriteLog("one\r\n");
  sim::FsSetLocked(kLogPath, true);
  WriteLog("lost\r\n");
  sim::FsSetLocked(kLogPath, false);
  WriteLog("two\r\n");
  EXPECT_EQ(LogText(), "one\r\ntwo\r\n");
  sim::FsRemove(kLogPath);  // moved away between messages: made anew
  WriteLog("three\r\n");
  EXPECT_EQ(LogText(), "three\r\n");
}

TEST_F(LogTest, ReadOnlyFolderOrMissingFolderCostsOnlyTheLines) {
  sim::FsAddFolder("C:\\Users\\user\\TAVO");
  sim::FsSetReadOnly("C:\\Users\\user\\TAVO", true);
  InitLogFile();
  WriteLog("lost\r\n");
  EXPECT_FALSE(sim::FsExists("C:\\Users\\user\\TAVO\\TAVOSweeper.log"));
  sim::FsRemove("C:\\Users\\user\\TAVO");
  WriteLog("lost too\r\n");
  EXPECT_FALSE(sim::FsExists("C:\\Users\\user\\TAVO\\TAVOSweeper.log"));
}

// Texts from the machine never break a line: control characters in an
// argument show as '?', while the tool's own line ends and numbers stay.
TEST_F(LogTest, ArgumentsCannotForgeLines) {
  StartLog();
  const struct {
    const char* value;
    const char* logged;
  } kValues[] = {
      {"C:\\TAVO\r\n[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE",
       "C:\\TAVO??[DeleteRegKey] HKEY_LOCAL_MACHINE\\SOFTWARE"},
      {"line\nbreak", "line?break"},
      {"esc\x1b[2Jbell\x07" "del\x7f", "esc?[2Jbell?del?"},
      {"tab\tstays ソフト", "tab\tstays ソフト"},
  };
  std::string expected;
  for (const auto& v : kValues) {
    WriteLog("[GetRegValue] InstallLocation=%s\r\n", v.value);
    expected += std::string("[GetRegValue] InstallLocation=") + v.logged + "\r\n";
  }
  WriteLog(" ERROR: Ret=%ld, LastError=0x%08X\r\n", -5L, 0xB7u);
  WriteLog("[GetRegValue] Minor=%02d %03d %d%%\r\n", 2, 3, -1);
  expected += " ERROR: Ret=-5, LastError=0x000000B7\r\n[GetRegValue] Minor=02 003 -1%\r\n";
  EXPECT_EQ(LogText(), expected);
}

class LogFormatTest : public SimTest {
 protected:
  // What snprintf makes of the same format, cut to the 1023 bytes one
  // message may hold.
  template <typename... Args>
  static std::string Reference(const std::string& format, Args... args) {
    std::vector<char> out(4096);
    snprintf(out.data(), out.size(), format.c_str(), args...);
    return std::string(out.data()).substr(0, 1023);
  }
  template <typename... Args>
  void ExpectLikeSnprintf(const std::string& format, Args... args) {
    SCOPED_TRACE(format.size() > 40 ? format.substr(format.size() - 40) : format);
    sim::FsRemove(kLogPath);
    WriteLog(format.c_str(), args...);
    EXPECT_EQ(LogText(), Reference(format, args...));
  }
  // The conversion alone, then after literal text that leaves exactly its
  // room (the message is 1023 bytes) and one byte less (cut by one).
  template <typename... Args>
  void ExpectAtEveryFill(const std::string& conversion, Args... args) {
    size_t length = Reference(conversion, args...).size();
    ExpectLikeSnprintf(conversion, args...);
    ExpectLikeSnprintf(std::string(1023 - length, 'a') + conversion, args...);
    ExpectLikeSnprintf(std::string(1024 - length, 'a') + conversion, args...);
    ExpectLikeSnprintf(std::string(1022 - length, 'a') + conversion + "b", args...);
  }
};

// Every conversion the formatter takes, with the flags, widths, precisions
// and sizes the tool's formats use and the extremes of each type.
TEST_F(LogFormatTest, ConversionsFormatAsSnprintfUpToTheFullMessage) {
  StartLog();
  ExpectAtEveryFill("%d", INT_MIN);
  ExpectAtEveryFill("%i", 42);
  ExpectAtEveryFill("%02d|%03d|%04d", 7, 4, 2026);
  ExpectAtEveryFill("%-5d|%+d|% d", -3, 5, 6);
  ExpectAtEveryFill("%ld", LONG_MIN);
  ExpectAtEveryFill("%li|%ld", LONG_MAX, -5L);
  ExpectAtEveryFill("%u", UINT_MAX);
  ExpectAtEveryFill("%lu", ULONG_MAX);
  ExpectAtEveryFill("0x%08X", 0xB7u);
  ExpectAtEveryFill("%x|%#x|%lX", 0xDEADBEEFu, 255u, ULONG_MAX);
  ExpectAtEveryFill("%c", 'Z');  // a message of one byte
  ExpectAtEveryFill("%c|", 0xE0);
  ExpectAtEveryFill("%s", "C:\\Program Files");
  ExpectAtEveryFill("%-60s|", "このフォルダを削除しますか?");
  ExpectAtEveryFill("%.3s|%5s|%5.2s", "abcdef", "ab", "xyz");
  ExpectAtEveryFill("%%|%d%%", 100);
  // A spec of 12 flag and width bytes is the longest taken.
  ExpectAtEveryFill("%000000000007d", 5);
}

// A conversion the tool never writes ends the message there: what follows
// may expect arguments that were never passed.
TEST_F(LogFormatTest, AnUnknownOrBrokenConversionEndsTheMessage) {
  StartLog();
  for (const char* format : {"a=%d %n %d\r\n", "a=%d %p\r\n", "a=%d %f\r\n", "a=%d %l", "a=%d %",
                             "a=%d %0000000000007d\r\n" /* a spec of 13 bytes */}) {
    SCOPED_TRACE(format);
    sim::FsRemove(kLogPath);
    WriteLog(format, 1, 2);
    EXPECT_EQ(LogText(), "a=1 ");
  }
}

}  // namespace
