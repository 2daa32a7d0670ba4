#!/usr/bin/env bash
# Runs one scripted scenario and compares what it printed, the port trace and
# the debugger output with the expected files beside the script.
#
#   run_scenario.sh RUNNER SCENARIO.zrv
#
# RUNNER is zrvctl (or any command taking the same arguments). The script's
# first line names its board: "# board: boards/NAME.json" (relative to the
# source tree); a line "# exit: N" among the first comment lines gives the
# exit code the run must end with (default 0). Expected files:
# SCENARIO.out (standard output), and when present SCENARIO.err (standard
# error, without Wine's own messages), SCENARIO.trace and SCENARIO.dbg.
# The driver must touch no port that nothing on the board decodes: zrvctl
# lists such ports beside the trace, and any listed fails the scenario.
# With ZRV_SKIP_WAIT_LINES=1 the "wait" lines of the trace are left out of
# the comparison. The Windows client cannot know all the virtual board's
# client knows (the direction mask in effect: the driver outlives a run), so
# where its answers differ by design, the Wine run (RUNNER win/wine-run)
# compares with SCENARIO.wine.out, .wine.err and .wine.trace when present.
set -euo pipefail
runner=$1
script=$2
src=$(cd "$(dirname "$0")/.." && pwd)
base=${script%.zrv}
board=$(sed -n '1s/^# board: *//p' "$script")
[ -n "$board" ] || { echo "$script: first line must be '# board: FILE'" >&2; exit 2; }
expected_rc=$(sed -n '1,10s/^# exit: *\([0-9]*\).*/\1/p' "$script" | head -1)
expected_rc=${expected_rc:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The keepalive loop's state file of this run only.
export ZRV_KEEPALIVE_STATE="$work/keepalive.state"

set +e
$runner --instant --sim "$src/$board" --trace "$work/trace" --dbg "$work/dbg" --script "$script" >"$work/out" 2>"$work/err"
rc=$?
set -e
status=0
if [ $rc -ne "$expected_rc" ]; then
  echo "runner exited $rc, not $expected_rc:"; cat "$work/err"; status=1
fi
expected() {  # KIND: the expected file of this runner
  if [ "$(basename "$runner")" = wine-run ] && [ -f "$base.wine.$1" ]; then echo "$base.wine.$1"; else echo "$base.$1"; fi
}
compare() {  # expected actual label
  if ! diff -u "$1" "$2" >"$work/diff"; then
    echo "$3 differs from $1:"; cat "$work/diff"; status=1
  fi
}
if grep -q '^zrvctl: unclaimed port ' "$work/err"; then
  echo "the driver touched ports no device decodes:"; grep '^zrvctl: unclaimed port ' "$work/err"; status=1
fi
compare "$(expected out)" "$work/out" "standard output"
if [ -f "$(expected err)" ]; then
  grep -Ev '^[0-9a-f]{4}:(err|fixme|warn|trace):' "$work/err" >"$work/err-own" || true
  compare "$(expected err)" "$work/err-own" "standard error"
fi
if [ -f "$(expected trace)" ]; then
  if [ "${ZRV_SKIP_WAIT_LINES:-0}" = 1 ]; then
    grep -v '^wait ' "$(expected trace)" >"$work/expected-trace" || true
    grep -v '^wait ' "$work/trace" >"$work/trace-nowait" || true
    compare "$work/expected-trace" "$work/trace-nowait" "port trace"
  else
    compare "$(expected trace)" "$work/trace" "port trace"
  fi
fi
[ -f "$base.dbg" ] && compare "$base.dbg" "$work/dbg" "debugger output"
if [ $status -ne 0 ] && [ -s "$work/err" ]; then
  echo "standard error of the run:"; cat "$work/err"
fi
exit $status
