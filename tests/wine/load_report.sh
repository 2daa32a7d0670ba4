#!/usr/bin/env bash
# The driver's load report under Wine, on the real zorvik.sys, every
# example board and random registries over their hardware:
#   - zrvctl.exe status, text and --json, and the zorvik_function_bound
#     samples of metrics say what zrvctl --sim says for the same board,
#     unbound functions' reasons included;
#   - the volatile key LoadReport under the service key holds the reason
#     codes, one byte per function, as the virtual board's load recorded
#     them; it is not there before the driver loads in a new session
#     (Wine's registry keeps volatile keys as long as its server runs, as
#     Windows until a restart);
#   - the driver asks for one event log entry per function the
#     configuration names a back-end for that did not bind, in function
#     order, each large enough for the packet and the function's name.
#     Wine's kernel keeps no event log: its IoAllocateErrorLogEntry gives no
#     entry (the driver then writes nothing, and loads as ever) and says so
#     on its fixme channel, with the entry size asked for.
# The message table itself is checked in the Windows build (check_exe.py
# --messages).
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
testbed_open
export WINEDEBUG="$WINEDEBUG,fixme+ntoskrnl"
. "$(dirname "$0")/check.sh"

report_key='HKLM\System\CurrentControlSet\Services\zorvik\LoadReport'
functions=("hardware monitor" "watchdog" "digital I/O")
packet=48  # sizeof(IO_ERROR_LOG_PACKET)
most=152   # ERROR_LOG_MAXIMUM_SIZE of 32-bit Windows

# What the load recorded, from zrvctl --sim --json status: the reason codes
# in hex, one byte per function, and the functions logged (reason neither
# bound nor "no back-end for it").
native_report() {  # STATUS.json
  python3 -c '
import json, sys
s = json.load(open(sys.argv[1]))
codes = [s[f].get("reason_code", 0) for f in sys.argv[2:]]
print("".join(f"{c:02x}" for c in codes))
for f, c in zip(sys.argv[2:], codes):
    if c not in (0, 2): print(f)' "$1" "${functions[@]}"
}

# Runs every check of one board; the session is the board's.
one_board() {  # BOARD.json
  local board=$1 name profile=()
  name=$(basename "$board" .json)
  testbed_start_board "$board" || { echo "FAIL  $name: the board server did not start"; return 1; }
  testbed_start_session
  testbed_import_registry
  [ -n "$testbed_registry" ] && [ -f "${testbed_registry%.reg}.profile.json" ] &&
    profile=(--profile "$(testbed_winpath "${testbed_registry%.reg}.profile.json")")
  "$ZRV_LINUX_BUILD/zrvctl" --sim "$board" status >"$work/native.txt" 2>/dev/null
  "$ZRV_LINUX_BUILD/zrvctl" --sim "$board" --json status >"$work/native.json" 2>/dev/null
  native_report "$work/native.json" >"$work/native.report"
  absent() { ! testbed_wine reg query "$report_key"; }
  check "$name: no report before the driver loads" absent
  check "$name: the driver starts" testbed_start_service zorvik
  same_status() {  # OUTPUT ARGS...
    local out=$1
    shift
    testbed_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" "${profile[@]}" "$@" status 2>/dev/null | tr -d '\r' |
      sed 's/degC/°C/g' >"$work/wine.out"
    diff -u "$out" "$work/wine.out"
  }
  check "$name: status as zrvctl --sim" same_status "$work/native.txt"
  check "$name: status --json as zrvctl --sim" same_status "$work/native.json" --json
  same_functions() {  # metrics' samples of the load's outcome, with its reasons
    "$ZRV_LINUX_BUILD/zrvctl" --sim "$board" metrics 2>/dev/null | grep '^zorvik_function_bound' >"$work/native.fn"
    testbed_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" "${profile[@]}" metrics 2>/dev/null | tr -d '\r' |
      grep '^zorvik_function_bound' >"$work/wine.fn"
    [ -s "$work/native.fn" ] && diff -u "$work/native.fn" "$work/wine.fn"
  }
  check "$name: metrics' zorvik_function_bound as zrvctl --sim's" same_functions
  published() {
    testbed_wine reg query "$report_key" /v Reasons | tr -d '\r' | tee /dev/stderr |
      grep -Eiq "^ +Reasons +REG_BINARY +$(head -1 "$work/native.report")\$"
  }
  check "$name: LoadReport\\Reasons holds the load's reasons ($(head -1 "$work/native.report"))" published
  testbed_stop_service zorvik
  entries() {
    sed -n 's/^[0-9a-f]*:fixme:ntoskrnl:IoAllocateErrorLogEntry stub: [0-9A-Fa-fx]*, \([0-9]*\)$/\1/p' \
      "$work/wine.err" >"$work/sizes"
    tail -n +2 "$work/native.report" >"$work/logged"
    echo "entry sizes: $(tr '\n' ' ' <"$work/sizes"); functions: $(tr '\n' ',' <"$work/logged")"
    [ "$(wc -l <"$work/sizes")" = "$(wc -l <"$work/logged")" ] || return 1
    local size fn
    while read -r size && read -r fn <&3; do
      [ "$size" -gt $((packet + 2 * (${#fn} + 1) + 2)) ] && [ "$size" -le "$most" ] || return 1
    done <"$work/sizes" 3<"$work/logged"
  }
  check "$name: one event log entry asked for per configured function not bound" entries
  testbed_end_session
  testbed_stop_board
}

# ZRV_LOAD_REPORT_EXAMPLES=0: the random boards only.
for board in "$testbed_src"/boards/*.json; do
  [ "${ZRV_LOAD_REPORT_EXAMPLES:-1}" = 0 ] && break
  case $board in *.profile.json) continue ;; esac
  one_board "$board"
done

# Random registries over the example boards' hardware, the configuration
# tests' generator: ZRV_RANDOM_BOARD_COUNT of them (seed
# ZRV_RANDOM_BOARD_SEED), each a session as an example board's.
random_boards=${ZRV_RANDOM_BOARDS:-$ZRV_LINUX_BUILD/tests/wine/zrv_random_boards}
"$random_boards" "$testbed_src/boards" "$work/random" "${ZRV_RANDOM_BOARD_COUNT:-6}" \
  "${ZRV_RANDOM_BOARD_SEED:-2027}" >"$work/random.list" ||
  { echo "FAIL  $random_boards made no random boards"; exit 1; }
while read -r board example <&4; do
  echo "== $(basename "$board" .json): the hardware of $example, this registry:"
  sed -n '/^\[/,$p' "${board%.json}.reg"
  one_board "$board"
done 4<"$work/random.list"
check_summary
