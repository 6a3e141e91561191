// The tool's entry point, also called by the host tests for whole runs.
#pragma once

#include "platform/os.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);
