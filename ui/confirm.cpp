#include "ui/confirm.h"

#include "log/log.h"
#include "platform/os.h"
#include "text/text.h"
#include "ui/texts.h"

enum { kAbortTextSize = 64 };

int ConfirmDeleteItem(const char* text) {
  for (;;) {
    int answer = OsMessageBox(text, TAVO_DIALOG_TITLE, MB_YESNOCANCEL);
    DWORD questionError = OsGetLastError();
    if (answer == IDYES) {
      WriteLog("[ConfirmDeleteItem] IDYES\r\n");
      return IDYES;
    }
    if (answer == IDNO) {
      WriteLog("[ConfirmDeleteItem] IDNO\r\n");
      return IDNO;
    }

    char abortText[kAbortTextSize];
    FormatText(abortText, sizeof abortText, "%-60s\n", TAVO_ASK_ABORT);
    int confirm = OsMessageBox(abortText, TAVO_DIALOG_TITLE, MB_OKCANCEL);
    if (confirm == IDOK) {
      WriteLog("[ConfirmDeleteItem] IDCANCEL\r\n");
      return IDCANCEL;
    }
    // Neither box could be shown: nobody can answer, so asking again would
    // never end. End the run instead; nothing is deleted on this question.
    if (answer == 0 && confirm == 0) {
      WriteLog("[ConfirmDeleteItem] MessageBoxA ERROR : Ret=0,  LastError=0x%08X\r\n",
               (unsigned)questionError);
      return IDCANCEL;
    }
    // The user went back from the abort confirmation: ask the same again.
  }
}
