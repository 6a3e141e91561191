#include "tests/fuzz/fuzz_run.h"

#include <string.h>

#include "app/winmain.h"
#include "log/log.h"

namespace fuzz {
namespace {

std::map<std::string, FsEntry> FsSnapshot(const std::string& cwd) {
  std::map<std::string, FsEntry> all;
  for (const std::string& path : sim::FsAll()) {
    all[FsKey(path, cwd)] = FsEntry{sim::FsIsFolder(path), sim::FsRead(path)};
  }
  return all;
}

// Where the log must go: the profile's TAVO folder when it is there and the
// whole path fits the tool's 260-byte buffer, else the current directory.
std::string LogPath(const Planted& planted) {
  const std::string inProfile = planted.profile + "\\TAVO\\TAVOSweeper.log";
  if (!planted.profile.empty() && inProfile.size() < 260 &&
      sim::FsIsFolder(planted.profile + "\\TAVO\\")) {
    return inProfile;
  }
  return planted.cwd + "\\TAVOSweeper.log";
}

// An append-only open succeeds on a file nobody holds, or creates one in a
// folder that takes new files.
bool Writable(const RunRecord& run) {
  auto file = run.fsBefore.find(run.logKey);
  if (file != run.fsBefore.end()) {
    return !file->second.folder && !run.planted.locked.count(run.logKey);
  }
  std::string folder = run.logKey.substr(0, run.logKey.rfind('\\'));
  if (run.planted.readOnly.count(folder)) return false;
  if (folder.find('\\') == std::string::npos) return true;  // a drive's root
  auto parent = run.fsBefore.find(folder);
  return parent != run.fsBefore.end() && parent->second.folder;
}

}  // namespace

RunRecord RunMachine(const uint8_t* data, size_t size) {
  RunRecord run;
  Plant(data, size, &run.planted);
  // The log path is process state: a run that never reaches InitLogFile
  // must not write where the run before it did.
  memset(logFilePath, 0, sizeof logFilePath);

  run.keysBefore = sim::RegAllKeys();
  run.fsBefore = FsSnapshot(run.planted.cwd);
  run.logKey = FsKey(LogPath(run.planted), run.planted.cwd);
  run.logWritable = Writable(run);

  sim::ScriptAnswers(run.planted.answers);
  run.returned = WinMain(nullptr, nullptr, const_cast<char*>(""), 1);

  run.boxes = sim::Boxes();
  run.keysAfter = sim::RegAllKeys();
  run.fsAfter = FsSnapshot(run.planted.cwd);
  run.regCalls = sim::RegCalls();
  run.shellOps = sim::ShellOps();
  run.regOpenHandles = sim::RegOpenHandles();
  run.regBadCloses = sim::RegBadCloses();
  run.shellAlive = sim::ShellObjectsAlive();
  run.shellBadReleases = sim::ShellBadReleases();
  run.openFiles = sim::OpenFiles();
  return run;
}

}  // namespace fuzz
