// The state of one run, owned by WinMain and handed to each step group.
#pragma once

#include "platform/os.h"
#include "record/install_info.h"
#include "ui/messages.h"

enum { kPathSize = 260, kArchiveCount = 5 };

struct RunState {
  int is64;           // 64-bit Windows, found at step #2
  REGSAM nativeView;  // KEY_WOW64_64KEY on 64-bit Windows, else 0
  InstallInfo info;   // filled by the reader steps, read by the steps after them
  char message[kMessageSize];
  char keyPath[kPathSize];  // from a reader step to its key step
  char folder[kPathSize];   // a looked-up folder
  char itemPath[kPathSize];
  char javaHome[kPathSize];
  char archives[kArchiveCount][kPathSize];
};

// How a step group ends.
enum StepOutcome {
  kRunGoesOn = 0,
  kRunAborted = 1,  // the user confirmed Cancel: no later step runs
};

// Runs a group's steps in the native view, then, on 64-bit Windows, again
// for the 32-bit view; stops at an abort.
template <typename Steps>
StepOutcome RunInBothViews(RunState* run, StepOutcome (*runView)(RunState*, const Steps*, REGSAM),
                           const Steps* native, const Steps* wow) {
  if (runView(run, native, run->nativeView) == kRunAborted) return kRunAborted;
  if (run->is64 && runView(run, wow, KEY_WOW64_32KEY) == kRunAborted) return kRunAborted;
  return kRunGoesOn;
}

StepOutcome RunUninstallSteps(RunState* run);
StepOutcome RunManageSteps(RunState* run);
StepOutcome RunProviderSteps(RunState* run);
StepOutcome RunJavaSteps(RunState* run);
StepOutcome RunStartMenuSteps(RunState* run);

// The software branches the steps name.
#define TAVO_BRANCH_NATIVE "SOFTWARE"
#define TAVO_BRANCH_WOW "SOFTWARE\\Wow6432Node"
