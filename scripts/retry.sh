# Sourced by the setup scripts: retry CMD... runs CMD up to four times,
# waiting a little longer each time. Mirrors in the middle of a sync, or a
# dropped connection, are worth a second try; a fourth failure is returned.
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
