// Every host test starts from a fresh simulated machine and checks on the way
// out that the code under test left no registry handle, shell object or file
// open behind it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "platform/sim/sim.h"

class SimTest : public ::testing::Test {
 public:
  static std::string LogText() { return sim::FsRead(kLogPath); }
  static constexpr const char* kLogPath = "C:\\work\\TAVOSweeper.log";

 protected:
  void SetUp() override {
    sim::Reset();
    memset(logFilePath, 0, sizeof logFilePath);
  }
  void TearDown() override {
    EXPECT_EQ(sim::RegOpenHandles(), 0) << "registry handles left open";
    EXPECT_EQ(sim::ShellObjectsAlive(), 0) << "shell objects not released";
    EXPECT_EQ(sim::OpenFiles(), 0) << "files left open";
    EXPECT_EQ(sim::RegBadCloses(), 0) << "handles closed twice or never opened";
    EXPECT_EQ(sim::ShellBadReleases(), 0) << "shell objects released twice";
  }

  // Points the log at C:\work\TAVOSweeper.log (no TAVO folder in the profile).
  void StartLog() { InitLogFile(); }
};

// UTF-8 (the test sources' and golden files' encoding) to code page 932.
std::string Sjis(const std::string& utf8);

// The 130-byte banner line for a title at the simulated machine's default
// time (2026/12/08 15:09:50.123).
std::string Banner(const std::string& titleSjis, const char* stamp = "2026/12/08 15:09:50.123");

// Reads tests/golden/<name>: UTF-8 lines; "@title" stands for that title's
// banner; every line ends in CR LF in the result, which is code page 932.
std::string GoldenLog(const std::string& name);

// The log's lines (each without its CR LF), for failure messages that point
// at the first differing line.
std::vector<std::string> SplitLines(const std::string& text);
