#!/usr/bin/env bash
# Sets everything up, builds everything and runs every test: the host tests
# over the simulated Windows (ASan + UBSan), the checks of the shipped x86
# exe, the end-to-end scenarios of that very exe under Wine (as a WOW64
# process on 64-bit Windows and on 32-bit Windows, in the Debian root that
# scripts/wine-root.sh keeps), and a smoke run of the x64 build on the host's
# Wine. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
  bash scripts/setup.sh || { echo "summary: 0 passed, 1 failed (setup)"; exit 1; }
fi

passed=0
failed=0
failures=()
log_dir=build/test-logs
mkdir -p "$log_dir"

# Runs one stage; its "N passed, M failed" figures are added to the total.
stage() {
  local name=$1
  shift
  echo "== $name"
  local out="$log_dir/$name.txt" t0=$SECONDS
  "$@" 2>&1 | tee "$out"
  count "$name" "$out" "${PIPESTATUS[0]}"
  echo "== $name took $((SECONDS - t0)) s"
}

# A stage that runs alongside the next ones (the emulated Wine suites leave a
# core idle); stage_collect waits for it, shows its output and counts it.
declare -A background=() started=()
stage_background() {
  local name=$1
  shift
  echo "== $name (started in the background)"
  ( "$@" >"$log_dir/$name.txt" 2>&1; echo $? >"$log_dir/$name.rc"; echo $SECONDS >"$log_dir/$name.end" ) &
  background[$name]=$!
  started[$name]=$SECONDS
}
stage_collect() {
  local name=$1
  wait "${background[$name]}"
  echo "== $name (ran in the background)"
  cat "$log_dir/$name.txt"
  count "$name" "$log_dir/$name.txt" "$(cat "$log_dir/$name.rc" 2>/dev/null || echo 1)"
  echo "== $name took $(( $(cat "$log_dir/$name.end" 2>/dev/null || echo $SECONDS) - ${started[$name]} )) s"
}

# Adds a stage's "N passed, M failed" (or its exit code) to the total.
count() {
  local name=$1 out=$2 rc=$3
  local p f
  p=$(grep -Eo '[0-9]+ passed, [0-9]+ failed' "$out" | tail -1 | cut -d' ' -f1)
  f=$(grep -Eo '[0-9]+ passed, [0-9]+ failed' "$out" | tail -1 | cut -d' ' -f3)
  if [ -z "$p" ]; then
    # A stage without its own count is one check.
    if [ "$rc" -eq 0 ]; then p=1 f=0; else p=0 f=1; fi
  elif [ "$rc" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
    f=1
  fi
  passed=$((passed + p))
  failed=$((failed + f))
  [ "$rc" -eq 0 ] || failures+=("$name")
  return 0
}

host_tests() {
  cmake --preset host >/dev/null && cmake --build --preset host || return 1
  ctest --preset host -j2 | tee build/host/ctest.txt
  local rc=${PIPESTATUS[0]}
  ctest_counts build/host/ctest.txt "host tests"
  return "$rc"
}

# ctest's "100% tests passed, 0 tests failed out of N" in the common form.
ctest_counts() {
  local total bad
  total=$(grep -Eo 'out of [0-9]+' "$1" | tail -1 | cut -d' ' -f3)
  bad=$(grep -Eo '[0-9]+ tests failed' "$1" | tail -1 | cut -d' ' -f1)
  echo "$2: $((${total:-0} - ${bad:-0})) passed, ${bad:-0} failed"
}

fuzz_tests() {
  # The fuzz harness's own tests and a replay of every seed (built by run_fuzz.sh).
  ctest --test-dir build/fuzz --output-on-failure | tee build/fuzz/ctest.txt
  local rc=${PIPESTATUS[0]}
  ctest_counts build/fuzz/ctest.txt "fuzz tests"
  return "$rc"
}

wine_harness_tests() {
  # The Wine harness's own checks and every scenario file against the schema,
  # without Wine; -B keeps __pycache__ out of the tree.
  python3 -B -m unittest discover -s tests/wine -p 'test_*.py' 2>&1 | tee build/wine-harness.txt
  local rc=${PIPESTATUS[0]} total bad
  total=$(grep -Eo '^Ran [0-9]+ test' build/wine-harness.txt | tail -1 | cut -d' ' -f2)
  bad=$(grep -Eo '(failures|errors)=[0-9]+' build/wine-harness.txt | awk -F= '{s += $2} END {print s + 0}')
  echo "wine harness tests: $((${total:-0} - ${bad:-0})) passed, ${bad:-0} failed"
  return "$rc"
}

windows_builds() {
  cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 &&
    cmake --preset windows-x64 >/dev/null && cmake --build --preset windows-x64
}

release_checks() {
  # The release folder: exe, SHA256SUMS and the guide, whose quotes of the
  # tool's texts are looked up in its sources and expected logs.
  bash scripts/release.sh && python3 tests/release/check_release.py
}

reproducible() {
  # A second build from scratch must give the very same bytes.
  rm -rf build/windows-x86-again
  cmake -S . -B build/windows-x86-again -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build build/windows-x86-again >/dev/null &&
    python3 tests/exe/check_exe.py --same build/windows-x86/TAVOSweeper.exe \
      build/windows-x86-again/TAVOSweeper.exe
}

stage windows-builds windows_builds
# The shipped PE32 exe: the scenarios of 32-bit Windows run in the background
# from here on (emulated, they leave a core idle during the single-threaded
# stages); every scenario of 64-bit Windows (WOW64) runs further down. Both
# need the 32-bit Wine loader, which lives in the root.
shipped=build/windows-x86/TAVOSweeper.exe
stage_background wine-win32 bash scripts/wine-root.sh run python3 tests/wine/run_wine_tests.py "$shipped" --machine win32
stage host-tests host_tests
stage lint bash tests/lint/run_lint.sh
stage fuzz bash tests/fuzz/run_fuzz.sh "${FUZZ_SECONDS:-60}"
stage fuzz-tests fuzz_tests
stage mutation-selftest python3 -B tests/mutation/test_mutate.py
stage exe-checks python3 tests/exe/check_exe.py build/windows-x86/TAVOSweeper.exe
stage release release_checks
stage signing python3 tests/release/test_signing.py
stage reproducible reproducible
stage wine-harness wine_harness_tests
# Two runners share the 64-bit Windows scenarios: emulated, one runner keeps
# about one core busy.
stage_background wine-wow64-b bash scripts/wine-root.sh run python3 tests/wine/run_wine_tests.py "$shipped" \
  --machine win64 --shard 2/2
stage wine-wow64-a bash scripts/wine-root.sh run python3 tests/wine/run_wine_tests.py "$shipped" \
  --machine win64 --shard 1/2
stage_collect wine-wow64-b
# The signed copy the signing stage made must still run: the Authenticode
# signature must not upset the loader.
stage wine-signed bash scripts/wine-root.sh run python3 tests/wine/run_wine_tests.py \
  build/release-test/TAVOSweeper-signed.exe '^provider_keys_yes_native_no_wow$'
stage_collect wine-win32
# The x86-64 build on the host's own wine64: a quick smoke run.
stage wine-x64-smoke python3 tests/wine/run_wine_tests.py build/windows-x64/TAVOSweeper.exe \
  '^(empty_machine_log_in_cwd|provider_keys_yes_native_no_wow)$'

echo
echo "test command took $SECONDS s"
if [ "$failed" -eq 0 ]; then
  echo "All stages passed."
else
  echo "Failed stages: ${failures[*]}"
fi
echo "summary: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
