// Finding the home folder of the Java runtime registered under a key.
#pragma once

#include "platform/os.h"

enum { kJavaHomeSize = 260, kJavaVersionSize = 16 };

// keyPath below HKEY_LOCAL_MACHINE ("...\JavaSoft\Java Runtime Environment").
// 1 with the runtime's home folder in javaHome (kJavaHomeSize bytes), else 0
// and javaHome is not to be used.
int GetJavaHome(const char* keyPath, REGSAM view, char* javaHome);
