#!/usr/bin/env bash
# Installs what is missing, builds TAVOSweeper.exe and runs it under Wine
# against a demo machine that holds a complete leftover install of the
# product. With a display the dialogs are yours to answer; without one every
# question is answered with Yes. Prints the log the run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then bash scripts/setup.sh; fi
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null
echo "Running build/windows-x86/TAVOSweeper.exe (what users get) under Wine as on 64-bit Windows."
exec bash scripts/wine-root.sh run python3 tests/wine/demo.py build/windows-x86/TAVOSweeper.exe "$@"
