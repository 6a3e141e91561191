#!/usr/bin/env bash
# Installs what is missing, builds TAVOSweeper.exe and runs it under Wine
# against a demo machine that holds a complete leftover install of the
# product. With a display the dialogs are yours to answer; without one every
# question is answered with Yes. Prints the log the run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then bash scripts/setup.sh; fi
for preset in windows-x86 windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
echo "Built build/windows-x86/TAVOSweeper.exe (what users get); running the x64 build under Wine."
exec python3 tests/wine/demo.py build/windows-x64/TAVOSweeper.exe "$@"
