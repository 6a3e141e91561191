#!/usr/bin/env bash
# Writes build/release/: the shipped exe (signed when given a certificate),
# README-ja.txt (the Japanese guide for the people who run the tool) and
# SHA256SUMS over both.
#
#   scripts/release.sh [--pkcs12 FILE --password-file FILE] [--timestamp URL]
#
# The options go to scripts/sign.sh; without them the exe is released unsigned.
# The exe in build/windows-x86/ is never changed.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/release
exe=build/windows-x86/TAVOSweeper.exe

cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null
python3 tests/exe/check_exe.py "$exe" >/dev/null ||
  { echo "release: the exe checks fail: python3 tests/exe/check_exe.py $exe" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
bash scripts/sign.sh "$@" "$exe" "$out/TAVOSweeper.exe"
# UTF-8 with a byte order mark and CR LF: Notepad reads it so on every Windows.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' docs/guide-ja.txt; } > "$out/README-ja.txt"
(cd "$out" && sha256sum TAVOSweeper.exe README-ja.txt > SHA256SUMS)
echo "release: wrote $out:"
(cd "$out" && cat SHA256SUMS)
