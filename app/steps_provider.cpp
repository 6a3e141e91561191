// Steps #17 and #18: the keys of the product's three cryptographic service
// providers, in the native view and then the 32-bit view.
#include "app/run_state.h"
#include "log/log.h"
#include "registry/reg_key.h"
#include "ui/confirm.h"

#define PROVIDER_PARENT "Microsoft\\Cryptography\\Defaults\\Provider"

enum { kProviderCount = 3 };

static const char* const kProviderNames[kProviderCount] = {
    "TAVO Crypto Service Provider",
    "TAVO Crypto Service Provider for Sign",
    "TAVO Crypto Service Provider for Auth",
};

struct ProviderView {
  const char* title;
  const char* branch;
};

static const ProviderView kNativeSteps = {"#17 TAVO利用者ソフト用プロバイダ削除", TAVO_BRANCH_NATIVE};
static const ProviderView kWowSteps = {"#18 (Wow6432)TAVO利用者ソフト用プロバイダ削除",
                                       TAVO_BRANCH_WOW};

static StepOutcome RunProviderStep(RunState* run, const ProviderView* step, REGSAM view) {
  const char* branch = step->branch;
  WriteLogHeader(step->title);
  // Each path lives only for this step; the run's buffers are in use by the
  // record steps' key path, which is no longer needed here.
  char paths[kProviderCount][kPathSize];
  int found[kProviderCount];
  int anyFound = 0;
  for (int i = 0; i < kProviderCount; ++i) {
    FormatText(paths[i], kPathSize, "%s\\%s\\%s", branch, PROVIDER_PARENT, kProviderNames[i]);
    found[i] = OpenRegKey(paths[i], view);
    anyFound |= found[i];
  }
  if (!anyFound) return kRunGoesOn;

  ComposeProviderMessage(run->message, branch);
  int answer = ConfirmDeleteItem(run->message);
  if (answer == IDCANCEL) return kRunAborted;
  if (answer != IDYES) return kRunGoesOn;
  for (int i = 0; i < kProviderCount; ++i) {
    if (found[i]) DeleteRegKey(HKEY_LOCAL_MACHINE, TAVO_HKLM_NAME, paths[i], view);
  }
  return kRunGoesOn;
}

StepOutcome RunProviderSteps(RunState* run) {
  return RunInBothViews(run, RunProviderStep, &kNativeSteps, &kWowSteps);
}
