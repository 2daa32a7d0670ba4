# The Wine suite's checks, sourced by its scripts after they set $work:
#   check DESCRIPTION COMMAND...   runs the command, which must succeed
#   skip DESCRIPTION WHY           says a check that could not run here, and why
#   check_summary                  prints PASS or the count (and the skipped
#                                  ones), returns its status
failures=0
skipped=0
skip() {
  echo "skip  $1: $2"
  skipped=$((skipped + 1))
}
check() {
  local what=$1
  shift
  if "$@" >"$work/check.out" 2>&1; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    sed 's/^/      /' "$work/check.out"
    failures=$((failures + 1))
  fi
}
check_summary() {
  local also=
  [ $skipped -eq 0 ] || also=" ($skipped skipped: see the skip lines)"
  if [ $failures -eq 0 ]; then echo "PASS$also"; else echo "$failures check(s) failed$also"; fi
  return $((failures > 0))
}
