// The five question layouts. Each writes a whole message into the run's
// message buffer from its start; lines end with LF alone.
#pragma once

#include "record/install_info.h"

enum { kMessageSize = 2048 };

// Which record lines a key message shows.
enum RecordLines {
  kRecordWithDate = 4,     // uninstall entry: name, version, path, date
  kRecordWithoutDate = 3,  // management key: name, version, path
};

void ComposeFolderMessage(char* message, const char* folderPath);
void ComposeFileMessage(char* message, const char* filePath);
void ComposeKeyMessage(char* message, const char* keyPath, const InstallInfo* info,
                       RecordLines lines);
void ComposeProviderMessage(char* message, const char* softwareBranch);
void ComposeArchiveMessage(char* message, const char* javaHome);
