#include "ui/messages.h"

#include "text/text.h"
#include "ui/texts.h"

// The question line: the sentence left-justified in 60 bytes, never cut.
static void StartMessage(char* message, const char* question) {
  FormatText(message, kMessageSize, "%-60s\n", question);
  AppendText(message, kMessageSize, "\n");
}

// One record line. The field is read from the registry: a line break in it
// would add lines of its own to the question, so control characters are
// shown as '?'.
static void AppendRecordLine(char* message, const char* label, const char* field) {
  char shown[kInstallPathSize];
  CopyPrintable(shown, sizeof shown, field);
  AppendText(message, kMessageSize, "%s%s\n", label, shown);
}

void ComposeFolderMessage(char* message, const char* folderPath) {
  StartMessage(message, TAVO_ASK_FOLDER);
  AppendText(message, kMessageSize, "%s\n", folderPath);
}

void ComposeFileMessage(char* message, const char* filePath) {
  StartMessage(message, TAVO_ASK_FILE);
  AppendText(message, kMessageSize, "%s\n", filePath);
}

void ComposeKeyMessage(char* message, const char* keyPath, const InstallInfo* info,
                       RecordLines lines) {
  StartMessage(message, TAVO_ASK_KEY);
  AppendText(message, kMessageSize, "%s\\%s\n", TAVO_QUESTION_ROOT, keyPath);
  AppendText(message, kMessageSize, "\n");
  AppendRecordLine(message, TAVO_LABEL_NAME, info->programName);
  AppendRecordLine(message, TAVO_LABEL_VERSION, info->version);
  AppendRecordLine(message, TAVO_LABEL_PATH, info->installPath);
  if (lines == kRecordWithDate) AppendRecordLine(message, TAVO_LABEL_DATE, info->installDate);
}

void ComposeProviderMessage(char* message, const char* softwareBranch) {
  StartMessage(message, TAVO_ASK_PROVIDERS);
  AppendText(message, kMessageSize, "%s\\%s\\%s\n", TAVO_QUESTION_ROOT, softwareBranch,
             "Microsoft\\Cryptography\\Defaults\\Provider");
}

void ComposeArchiveMessage(char* message, const char* javaHome) {
  StartMessage(message, TAVO_ASK_ARCHIVES);
  AppendText(message, kMessageSize, "%s\\%s\n", javaHome, "lib\\ext");
}
