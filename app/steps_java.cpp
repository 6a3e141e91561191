// Steps #19 to #22: the product's archives in the extension folder of the Java
// runtime registered in the native view, then in the 32-bit view.
#include "app/offer.h"
#include "app/run_state.h"
#include "files/files.h"
#include "log/log.h"
#include "registry/java_home.h"
#include "ui/confirm.h"

static const char* const kArchiveNames[kArchiveCount] = {
    "TAVOCryptJNI.jar",
    "TAVOCryptSignJNI.jar",
    "TAVOCryptAuthJNI.jar",
    "TAVOUserCertService.jar",
    "TAVOUserCertServiceMain.jar",
};

struct JavaView {
  const char* lookupTitle;
  const char* archiveTitle;
  const char* branch;
};

static const JavaView kNativeSteps = {
    "#19 JREインストールパス取得",
    "#20 TAVO利用者ソフト用JARファイル削除",
    TAVO_BRANCH_NATIVE,
};

static const JavaView kWowSteps = {
    "#21 (Wow6432)JREインストールパス取得",
    "#22 (Wow6432)TAVO利用者ソフト用JARファイル削除",
    TAVO_BRANCH_WOW,
};

static StepOutcome RunJavaView(RunState* run, const JavaView* steps, REGSAM view) {
  WriteLogHeader(steps->lookupTitle);
  FormatText(run->keyPath, kPathSize, "%s\\%s", steps->branch,
             "JavaSoft\\Java Runtime Environment");
  if (!GetJavaHome(run->keyPath, view, run->javaHome)) return kRunGoesOn;

  WriteLogHeader(steps->archiveTitle);
  int found[kArchiveCount];
  int anyFound = 0;
  for (int i = 0; i < kArchiveCount; ++i) {
    // An archive whose full path cannot be formed is not looked for.
    found[i] = ComposeItemPath(run->archives[i], "[ExistsFile]", "%s\\%s\\%s", run->javaHome,
                               "lib\\ext", kArchiveNames[i]) &&
               ExistsFile(run->archives[i]);
    anyFound |= found[i];
  }
  if (!anyFound) return kRunGoesOn;

  ComposeArchiveMessage(run->message, run->javaHome);
  int answer = ConfirmDeleteItem(run->message);
  if (answer == IDCANCEL) return kRunAborted;
  if (answer != IDYES) return kRunGoesOn;
  for (int i = 0; i < kArchiveCount; ++i) {
    if (found[i]) DeleteItem(run->archives[i]);
  }
  return kRunGoesOn;
}

StepOutcome RunJavaSteps(RunState* run) {
  return RunInBothViews(run, RunJavaView, &kNativeSteps, &kWowSteps);
}
