#!/usr/bin/env bash
# Builds the fuzz project and fuzzes every target for a bounded time, each on
# a fresh copy of its seed corpus under build/fuzz/ (nothing new is written
# into the repository). Crash inputs stay in build/fuzz/artifacts/. Ends with
# "N passed, M failed": a target passes when libFuzzer exits 0.
#
#   tests/fuzz/run_fuzz.sh [SECONDS]      default 60, or FUZZ_SECONDS

set -uo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-${FUZZ_SECONDS:-60}}
build=build/fuzz
targets=(whole_run)

cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null &&
  cmake --build "$build" || { echo "0 passed, ${#targets[@]} failed"; exit 1; }

passed=0
failed=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  log=$build/fuzz_$target.log
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp tests/fuzz/corpus/"$target"/* "$corpus"/

  echo "== fuzz_$target for ${seconds}s (full output: $log)"
  "$build/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -dict=tests/fuzz/"$target".dict -artifact_prefix="$artifacts"/ -print_final_stats=1 \
    "$corpus" >"$log" 2>&1
  rc=$?

  # libFuzzer's closing lines: the last status line, the final stats and
  # whatever a crash printed about itself.
  grep -a -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1
  grep -a -E '^(stat::|Done [0-9]+ runs)' "$log"
  echo "corpus: $(find "$corpus" -type f | wc -l) inputs"
  if [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    grep -a -E 'invariant broken|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)|runtime error|simulated Windows' "$log" | head -20
    echo "fuzz_$target FAILED (libFuzzer exit $rc); crash inputs:"
    find "$artifacts" -type f | sed 's/^/  /'
    echo "  run one again: $build/fuzz_$target <input>"
  fi
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
