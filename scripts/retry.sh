# Sourced by the setup scripts and demo.sh. retry CMD... runs CMD up to four
# times, waiting a little longer each time. Mirrors in the middle of a sync,
# or a dropped connection, are worth a second try; a fourth failure is
# returned.
retry() {
  local n
  for n in 1 2 3 4; do
    "$@" && return 0
    [ "$n" -lt 4 ] || break
    echo "$(basename "$0"): attempt $n of '$*' failed; trying again in $((n * 15)) s" >&2
    sleep $((n * 15))
  done
  return 1
}

# step LABEL NAME CMD... runs CMD with its output in build/setup-logs/NAME.log
# and prints one line, "LABEL ... 12 s". apt, debootstrap and the builds say
# thousands of lines nobody reads when all goes well; when CMD fails, the
# log's last lines and its path are printed and the failure is returned.
# Bash ignores set -e inside CMD here (it runs on the left of ||), so a
# function given as CMD must chain its commands with && itself.
step() {
  local label=$1 name=$2
  shift 2
  local dir log t0=$SECONDS rc=0
  dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/setup-logs
  log=$dir/$name.log
  mkdir -p "$dir"
  printf '%s ... ' "$label"
  # No terminal input: a question nobody can see must fail the step, not
  # hang it.
  "$@" >"$log" 2>&1 </dev/null || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "$((SECONDS - t0)) s"
    return 0
  fi
  echo "failed after $((SECONDS - t0)) s (exit status $rc)"
  {
    echo "--- last 30 lines of $log:"
    tail -n 30 "$log" | sed 's/^/    /'
    echo "--- the whole log: $log"
  } >&2
  return 1
}
