#include "app/offer.h"

#include <stdarg.h>
#include <stdio.h>

#include "files/files.h"
#include "log/log.h"
#include "registry/reg_key.h"
#include "ui/confirm.h"

int ComposeItemPath(char* out, const char* existsTag, const char* format, ...) {
  char full[kLogMessageSize];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(full, sizeof full, format, args);
  va_end(args);
  full[sizeof full - 1] = '\0';
  if (length >= 0 && (size_t)length < kPathSize) {
    CopyText(out, kPathSize, full);
    return 1;
  }
  out[0] = '\0';
  WriteLog("%s %s\r\n ERROR : Path Too Long\r\n", existsTag, full);
  return 0;
}

static StepOutcome AskThenDelete(RunState* run, const char* path) {
  int answer = ConfirmDeleteItem(run->message);
  if (answer == IDCANCEL) return kRunAborted;
  if (answer == IDYES) DeleteItem(path);
  return kRunGoesOn;
}

StepOutcome OfferFolder(RunState* run, const char* path) {
  ComposeFolderMessage(run->message, path);
  return AskThenDelete(run, path);
}

StepOutcome OfferFile(RunState* run, const char* path) {
  ComposeFileMessage(run->message, path);
  return AskThenDelete(run, path);
}

StepOutcome OfferKey(RunState* run, REGSAM view, RecordLines lines) {
  ComposeKeyMessage(run->message, run->keyPath, &run->info, lines);
  int answer = ConfirmDeleteItem(run->message);
  if (answer == IDCANCEL) return kRunAborted;
  if (answer == IDYES) DeleteRegKey(HKEY_LOCAL_MACHINE, TAVO_HKLM_NAME, run->keyPath, view);
  return kRunGoesOn;
}
