// One whole run of the tool on a machine built from fuzzer input, what it
// left behind, and the checks every run must pass.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tests/fuzz/fuzz_machine.h"

namespace fuzz {

struct FsEntry {
  bool folder;
  std::string content;
};

struct RunRecord {
  Planted planted;
  int returned = 0;
  std::vector<sim::Box> boxes;
  std::vector<std::string> keysBefore, keysAfter;    // registry key paths as stored
  std::map<std::string, FsEntry> fsBefore, fsAfter;  // by FsKey
  std::vector<sim::RegCall> regCalls;
  std::vector<sim::ShellOp> shellOps;
  int regOpenHandles = 0, regBadCloses = 0;
  int shellAlive = 0, shellBadReleases = 0;
  int openFiles = 0;
  std::string logKey;        // FsKey of the file the log has to go to
  bool logWritable = false;  // that file can be opened for appending
};

// Builds the machine, runs WinMain on it and records the outcome.
RunRecord RunMachine(const uint8_t* data, size_t size);

// Every broken invariant, one message each; empty when the run is sound.
std::vector<std::string> CheckRun(const RunRecord& run);

}  // namespace fuzz
