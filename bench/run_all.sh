#!/bin/bash
# Runs every benchmark in bench/ and writes the raw results to build/bench/:
#
#   bench/run_all.sh            # about 8 minutes on 2 cores
#   BENCH_RUNS=3 bench/run_all.sh   # fewer Wine runs per case (default 10)
#
#   machine.txt       date, CPU, cores, memory, kernel, Wine and compiler versions
#   wine/             bench/wine_bench.py: whole runs, recursive deletion, peak memory
#   logcost/          bench/log_cost.py: one log message under Wine
#   host/             bench/host_callgrind.py: instruction counts (host build, callgrind)
#   size/             bench/exe_size.py: the shipped exe, per section
#   run_all.txt       each step's exit status and duration
#
# Every step is bounded by `timeout`; a failing step does not stop the others.
# Exit status: 0 when every step succeeded. Nothing is judged on a duration.
set -u
cd "$(dirname "$0")/.." || exit 2
OUT=build/bench
RUNS=${BENCH_RUNS:-10}
mkdir -p "$OUT"
STATUS="$OUT/run_all.txt"
: > "$STATUS"

{
  echo "date: $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
  echo "cpu: $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "cores (nproc): $(nproc)"
  echo "memory: $(free -h | awk '/^Mem:/ {print $2}') total"
  echo "kernel: $(uname -r)"
  echo "os: $(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "wine: $(wine --version 2>/dev/null)"
  echo "mingw gcc: $(x86_64-w64-mingw32-gcc --version | head -1)"
  echo "host g++: $(g++ --version | head -1)"
  echo "valgrind: $(valgrind --version 2>/dev/null)"
  echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} > "$OUT/machine.txt"
cat "$OUT/machine.txt"

failed=0
step() {  # step NAME SECONDS COMMAND...
  local name=$1 limit=$2
  shift 2
  echo "=== $name"
  local t0=$SECONDS
  timeout --kill-after=10 "$limit" "$@"
  local rc=$?
  echo "$name: exit $rc, $((SECONDS - t0)) s" | tee -a "$STATUS"
  [ "$rc" -eq 0 ] || failed=1
}

build_x64() {
  [ -f build/windows-x64/build.ninja ] || cmake --preset windows-x64 >/dev/null || return 1
  cmake --build --preset windows-x64 >/dev/null
}

step build-windows-x64 300 bash -c "$(declare -f build_x64); build_x64"
step wine-bench 780 python3 bench/wine_bench.py --runs "$RUNS" --out "$OUT"
step log-cost 180 python3 bench/log_cost.py --out "$OUT"
step host-callgrind 600 python3 bench/host_callgrind.py --out "$OUT"
step exe-size 300 python3 bench/exe_size.py --out "$OUT"

echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/machine.txt"
echo "results in $OUT/ (summaries: */summary.txt)"
exit $failed
