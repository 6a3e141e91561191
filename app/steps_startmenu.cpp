// Steps #23 and #24: the product's folder in the common Start-menu Programs
// folder and its shortcut in the common Startup folder.
#include "app/offer.h"
#include "app/probes.h"
#include "app/run_state.h"
#include "files/files.h"
#include "log/log.h"

StepOutcome RunStartMenuSteps(RunState* run) {
  WriteLogHeader("#23 スタートメニュー配下のミラネスフォルダ削除");
  if (GetFolderPath(kFolderCommonPrograms, run->is64, run->folder) &&
      ComposeItemPath(run->itemPath, "[ExistsFolder]", "%s\\%s", run->folder, "ミラネス") &&
      ExistsFolder(run->itemPath) && OfferFolder(run, run->itemPath) == kRunAborted) {
    return kRunAborted;
  }

  WriteLogHeader("#24 スタートアップ配下の更新通知ショートカットファイル削除");
  if (GetFolderPath(kFolderCommonStartup, run->is64, run->folder) &&
      ComposeItemPath(run->itemPath, "[ExistsFile]", "%s\\%s", run->folder, "更新通知.lnk") &&
      ExistsFile(run->itemPath) && OfferFile(run, run->itemPath) == kRunAborted) {
    return kRunAborted;
  }
  return kRunGoesOn;
}
