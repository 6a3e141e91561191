// Every host test starts from a fresh simulated machine and checks on the way
// out that the code under test left no registry handle, shell object or file
// open behind it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/winmain.h"
#include "log/log.h"
#include "platform/sim/sim.h"

// The product's GUID and its Uninstall entry in the 64-bit and 32-bit views.
inline constexpr char kGuid[] = "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}";
inline constexpr char kEntry[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}";
inline constexpr char kWowEntry[] =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}";

class SimTest : public ::testing::Test {
 public:
  static std::string LogText() { return sim::FsRead(kLogPath); }
  static bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }
  static constexpr const char* kLogPath = "C:\\work\\TAVOSweeper.log";

  // One whole run of the tool.
  static int RunTool() { return WinMain(nullptr, nullptr, const_cast<char*>(""), 1); }
  // A run with the start dialog answered OK and every question `answer`.
  static int RunAnswering(int answer) {
    std::vector<int> answers(80, answer);
    answers.front() = IDOK;
    sim::ScriptAnswers(answers);
    return RunTool();
  }

 protected:
  void SetUp() override {
    sim::Reset();
    memset(logFilePath, 0, sizeof logFilePath);
  }
  void TearDown() override { ExpectNothingLeftOpen(); }
  static void ExpectNothingLeftOpen() {
    EXPECT_EQ(sim::RegOpenHandles(), 0) << "registry handles left open";
    EXPECT_EQ(sim::ShellObjectsAlive(), 0) << "shell objects not released";
    EXPECT_EQ(sim::OpenFiles(), 0) << "files left open";
    EXPECT_EQ(sim::RegBadCloses(), 0) << "handles closed twice or never opened";
    EXPECT_EQ(sim::ShellBadReleases(), 0) << "shell objects released twice";
  }

  // Points the log at C:\work\TAVOSweeper.log (no TAVO folder in the profile).
  void StartLog() { InitLogFile(); }
};

// UTF-8 (the test sources' and golden files' encoding) to code page 932,
// and back.
std::string Sjis(const std::string& utf8);
std::string Utf8(const std::string& sjis);

// The 130-byte banner line for a title at the simulated machine's default
// time (2026/12/08 15:09:50.123).
std::string Banner(const std::string& titleSjis, const char* stamp = "2026/12/08 15:09:50.123");

// Reads tests/golden/<name>: UTF-8 lines; "@title" stands for that title's
// banner; every line ends in CR LF in the result, which is code page 932.
std::string GoldenLog(const std::string& name);

// The log's lines (each without its CR LF), for failure messages that point
// at the first differing line.
std::vector<std::string> SplitLines(const std::string& text);
