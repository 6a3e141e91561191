// Steps #3 to #10: the product's Uninstall entry, the folder it names and the
// installer's setup cache, in the native view and then the 32-bit view.
#include "app/offer.h"
#include "app/probes.h"
#include "app/run_state.h"
#include "files/files.h"
#include "log/log.h"
#include "registry/install_info.h"

#define ENTRY_KEY "Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}"
#define SETUP_CACHE "InstallShield Installation Information\\{5E2B9C41-3D7A-4F68-B1C0-7A94D2E6F813}"

struct UninstallView {
  const char* readerTitle;
  const char* folderTitle;
  const char* cacheTitle;
  const char* keyTitle;
  const char* branch;
  FolderRow programFiles;
};

static const UninstallView kNativeSteps = {
    "#3 アンインストール情報取得",
    "#4 アンインストール情報に紐付いたTAVOインストールパス削除",
    "#5 アンインストール情報に紐付いたInstallShieldフォルダ削除",
    "#6 アンインストール情報削除",
    TAVO_BRANCH_NATIVE,
    kFolderProgramFiles,
};

static const UninstallView kWowSteps = {
    "#7 (Wow6432)アンインストール情報取得",
    "#8 (Wow6432)アンインストール情報に紐付いたTAVOインストールパス削除",
    "#9 (Wow6432)アンインストール情報に紐付いたInstallShieldフォルダ削除",
    "#10 (Wow6432)アンインストール情報削除",
    TAVO_BRANCH_WOW,
    kFolderProgramFilesX86,
};

static StepOutcome RunUninstallView(RunState* run, const UninstallView* steps, REGSAM view) {
  WriteLogHeader(steps->readerTitle);
  FormatText(run->keyPath, kPathSize, "%s\\%s", steps->branch, ENTRY_KEY);
  GetUninstallInfo(run->keyPath, view, &run->info);

  if (run->info.pathFound) {
    WriteLogHeader(steps->folderTitle);
    if (ExistsFolder(run->info.installPath) &&
        OfferFolder(run, run->info.installPath) == kRunAborted) {
      return kRunAborted;
    }
  }

  WriteLogHeader(steps->cacheTitle);
  if (GetFolderPath(steps->programFiles, run->is64, run->folder) &&
      ComposeItemPath(run->itemPath, "[ExistsFolder]", "%s\\%s", run->folder, SETUP_CACHE) &&
      ExistsFolder(run->itemPath) && OfferFolder(run, run->itemPath) == kRunAborted) {
    return kRunAborted;
  }

  if (run->info.keyFound) {
    WriteLogHeader(steps->keyTitle);
    if (OfferKey(run, view, kRecordWithDate) == kRunAborted) return kRunAborted;
  }
  return kRunGoesOn;
}

StepOutcome RunUninstallSteps(RunState* run) {
  return RunInBothViews(run, RunUninstallView, &kNativeSteps, &kWowSteps);
}
