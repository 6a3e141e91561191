// The whole run: start dialog, steps #1 to #25, closing dialog.
#include <string.h>

#include "app/probes.h"
#include "app/run_state.h"
#include "log/log.h"
#include "platform/os.h"
#include "text/text.h"
#include "ui/texts.h"

typedef StepOutcome (*StepGroup)(RunState* run);

static const StepGroup kStepGroups[] = {
    RunUninstallSteps, RunManageSteps, RunProviderSteps, RunJavaSteps, RunStartMenuSteps,
};

static const char kEndTitle[] = "#25 アンインストール終了";

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The tool runs elevated from wherever it was saved (often Downloads):
  // before anything can load a DLL, keep the search to the system folder.
  OsRestrictDllSearch();
  OsSetJapaneseCtype();
  OsInitCom();

  RunState run;
  memset(&run, 0, sizeof run);

  FormatText(run.message, kMessageSize, "%-60s\n", TAVO_START_SENTENCE);
  AppendText(run.message, kMessageSize, "%s\n", TAVO_START_QUESTION);
  if (OsMessageBox(run.message, TAVO_DIALOG_TITLE, MB_OKCANCEL) != IDOK) return 0;

  InitLogFile();
  WriteLogHeader("#1 アンインストール開始");
  WriteLogHeader("#2 OS判定");
  run.is64 = GetIs64BitOS();
  run.nativeView = run.is64 ? KEY_WOW64_64KEY : 0;

  for (StepGroup group : kStepGroups) {
    if (group(&run) == kRunAborted) {
      WriteLogHeader(kEndTitle);
      return 0;
    }
  }

  FormatText(run.message, kMessageSize, "%-60s\n", TAVO_END_SENTENCE);
  OsMessageBox(run.message, TAVO_DIALOG_TITLE, MB_OK);
  WriteLogHeader(kEndTitle);
  return 0;
}
