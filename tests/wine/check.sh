# The Wine suite's checks, sourced by its scripts after they set $work:
#   check DESCRIPTION COMMAND...   runs the command, which must succeed
#   check_summary                  prints PASS or the count, returns its status
failures=0
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
  if [ $failures -eq 0 ]; then echo "PASS"; else echo "$failures check(s) failed"; fi
  return $((failures > 0))
}
