#!/usr/bin/env bash
# `promtool check metrics` on what `zrvctl metrics` prints for every example
# board, with the board's profile and without one (the board file and its
# .reg copied where no profile lies beside them); each output must also
# carry the readings' series and `zorvik_up 1`.
#
#   check_metrics.sh ZRVCTL SOURCE_DIR
set -uo pipefail
zrvctl=$1
src=$2
work=$(mktemp -d)
# The keepalive state of these runs only, not the machine's.
export ZRV_KEEPALIVE_STATE=$work/keepalive.state
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() {  # NAME BOARD
  local out=$work/$1.prom
  "$zrvctl" --sim "$2" metrics >"$out" 2>"$work/$1.err"
  local rc=$?
  # A reading past its limit is a sample (zorvik_sensor_alarm), not a failure.
  if [ $rc -eq 0 ] && promtool check metrics <"$out" >"$work/$1.lint" 2>&1 &&
    grep -qx 'zorvik_up 1' "$out"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1 (exit $rc)"; cat "$work/$1.err" "$work/$1.lint"; head -40 "$out"
  fi
}
for board in "$src"/boards/*.json; do
  case $board in *.profile.json) continue ;; esac
  name=$(basename "$board" .json)
  check "$name" "$board"
  # The input lines' samples make the word gpioget reads (lines where the
  # profile's pins are, gaps and all).
  if word=$("$zrvctl" --sim "$board" gpioget 2>/dev/null | sed -n 's/^inputs: //p') && [ -n "$word" ]; then
    got=$(python3 -c 'import re,sys; print("0x%04x" % sum(int(v) << int(l) for l, v in re.findall(r"^zorvik_gpio_input\{line=\"(\d+)\".*\} (\d)$", sys.stdin.read(), re.M)))' <"$work/$name.prom")
    [ "$got" = "$word" ] || { echo "FAILED: $name: metrics' inputs $got, gpioget $word"; failed=$((failed + 1)); }
  fi
  mkdir -p "$work/raw-$name"
  cp "$board" "$work/raw-$name/"
  reg=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1])).get("registry",""))' "$board")
  [ -n "$reg" ] && cp "$(dirname "$board")/$reg" "$work/raw-$name/"
  check "raw-$name" "$work/raw-$name/$name.json"
  grep -q '^zorvik_in_volts' "$work/raw-$name.prom" && { echo "FAILED: raw-$name: raw readings dressed as volts"; failed=$((failed + 1)); }
done
# The keepalive writes the file after every restart, with its own series
# while it runs (the loop follows the wall clock: one restart a second); the
# last write, after the stop, says it ended and the watchdog no longer runs;
# a later metrics run publishes what that keepalive recorded, and another
# board none of it.
mkdir -p "$work/keepalive"
"$zrvctl" --sim "$src/boards/default.json" wdctl keepalive --every 1s --timeout 10s --count 3 \
  --metrics "$work/keepalive" >"$work/keepalive.out" 2>&1 &
loop=$!
# The file of a round while the loop runs (a sanitizer's build starts slowly).
for _ in $(seq 600); do
  grep -qx 'zorvik_watchdog_keepalive_up 1' "$work/keepalive/zorvik.prom" 2>/dev/null &&
    cp "$work/keepalive/zorvik.prom" "$work/running.prom" && grep -qx 'zorvik_watchdog_keepalive_up 1' "$work/running.prom" && break
  sleep 0.1
done
if wait $loop &&
  promtool check metrics <"$work/running.prom" &&
  grep -qx 'zorvik_watchdog_keepalive_up 1' "$work/running.prom" &&
  grep -qx 'zorvik_watchdog_timeout_seconds 10' "$work/running.prom" &&
  grep -qx 'zorvik_watchdog_keepalive_interval_seconds 1' "$work/running.prom" &&
  grep -qx 'zorvik_watchdog_running 1' "$work/running.prom" &&
  grep -q '^zorvik_watchdog_last_keepalive_timestamp_seconds [0-9]' "$work/running.prom" &&
  promtool check metrics <"$work/keepalive/zorvik.prom" &&
  grep -qx 'zorvik_watchdog_keepalive_up 0' "$work/keepalive/zorvik.prom" &&
  grep -qx 'zorvik_watchdog_running 0' "$work/keepalive/zorvik.prom" &&
  ! grep -q '^zorvik_watchdog_last_keepalive' "$work/keepalive/zorvik.prom" &&
  "$zrvctl" --sim "$src/boards/default.json" metrics | grep -q '^zorvik_watchdog_keepalive_end_timestamp_seconds [0-9]' &&
  ! "$zrvctl" --sim "$src/boards/port-plain.json" metrics | grep -q '^zorvik_watchdog_keepalive'; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: keepalive --metrics"; cat "$work/keepalive.out" "$work/running.prom" "$work/keepalive/zorvik.prom"
fi
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
