// Steps #11 to #16: the product's management key and the folder it names, in
// the native view and then the 32-bit view.
#include "app/offer.h"
#include "files/files.h"
#include "log/log.h"
#include "registry/install_info.h"

struct ManageView {
  const char* readerTitle;
  const char* folderTitle;
  const char* keyTitle;
  const char* branch;
};

static const ManageView kNativeSteps = {
    "#11 TAVO管理情報取得",
    "#12 TAVO管理情報に紐付いたTAVOインストールパス削除",
    "#13 TAVO管理情報削除",
    TAVO_BRANCH_NATIVE,
};

static const ManageView kWowSteps = {
    "#14 (Wow6432)TAVO管理情報取得",
    "#15 (Wow6432)TAVO管理情報に紐付いたTAVOインストールパス削除",
    "#16 (Wow6432)TAVO管理情報削除",
    TAVO_BRANCH_WOW,
};

static StepOutcome RunManageView(RunState* run, const ManageView* steps, REGSAM view) {
  WriteLogHeader(steps->readerTitle);
  FormatText(run->keyPath, kPathSize, "%s\\%s", steps->branch, "TAVO");
  GetManageInfo(run->keyPath, view, &run->info);

  if (run->info.pathFound) {
    WriteLogHeader(steps->folderTitle);
    if (ExistsFolder(run->info.installPath) &&
        OfferFolder(run, run->info.installPath) == kRunAborted) {
      return kRunAborted;
    }
  }

  if (run->info.keyFound) {
    WriteLogHeader(steps->keyTitle);
    if (OfferKey(run, view, kRecordWithoutDate) == kRunAborted) return kRunAborted;
  }
  return kRunGoesOn;
}

StepOutcome RunManageSteps(RunState* run) {
  return RunInBothViews(run, RunManageView, &kNativeSteps, &kWowSteps);
}
