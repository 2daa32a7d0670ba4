#!/usr/bin/env bash
# Runs each fuzzer for SECONDS (default 60) on its seed corpus, the example
# boards and what earlier runs found, and says what it ran:
#
#   fuzz/run.sh [SECONDS]
#
# Needs the fuzz build (cmake --preset fuzz && cmake --build --preset fuzz).
# New inputs go to ZRV_FUZZ_WORK (default: a fresh scratch directory); a
# finding is written there as NAME-crash-... with the fuzzer's report in
# NAME.log (and the request fuzzer's board in NAME-board.json), and the
# script exits 1. To reproduce one:
#   build/fuzz/fuzz/zrv_fuzz_NAME FILE
set -uo pipefail
seconds=${1:-60}
src=$(cd "$(dirname "$0")/.." && pwd)
bin=$src/build/fuzz/fuzz
work=${ZRV_FUZZ_WORK:-$(mktemp -d)}
status=0
for name in requests reg board http; do
  mkdir -p "$work/$name"
  seeds=("$src/fuzz/corpus/$name")
  case $name in reg | board) seeds+=("$src/boards") ;; esac
  start=$(date +%s)
  "$bin/zrv_fuzz_$name" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$name-" "$work/$name" "${seeds[@]}" >"$work/$name.log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")
  echo "zrv_fuzz_$name: $(( $(date +%s) - start )) s, ${runs:-?} inputs, corpus $(ls "$work/$name" | wc -l), exit $rc"
  grep '^zrv_fuzz_requests:' "$work/$name.log" || true
  if [ $rc -ne 0 ]; then
    status=1
    grep -A30 -m1 -E '^(finding:|==[0-9]+==ERROR|SUMMARY)' "$work/$name.log" || tail -30 "$work/$name.log"
    # The request fuzzer prints the board of its finding: kept as a board file.
    sed -n '/^on this board:$/,/^==[0-9]*==/p' "$work/$name.log" | sed '1d;$d' >"$work/$name-board.json"
    [ -s "$work/$name-board.json" ] && echo "its board: $work/$name-board.json (zrvctl --sim takes it)"
  fi
done
[ $status -eq 0 ] && echo "no findings" || echo "findings and their inputs in $work"
exit $status
