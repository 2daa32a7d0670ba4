#!/usr/bin/env bash
# The keepalive service under Wine, on the real zorvik.sys and the port
# watchdog of boards/port-plain.json: zrvctl.exe service install registers
# "zrvwdt" to start automatically with its options and starts it; while it
# runs, the board's virtual time follows the wall clock (two board seconds a
# real second, driven from here), and the watchdog (10 s timeout, restarted
# every second) never fires; service remove stops the service, which stops
# the watchdog: no reset however long the board runs on. The same with
# --leave-running resets the board once the service is gone.
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
testbed_open

. "$(dirname "$0")/check.sh"
board() {  # one request to the board server; prints what follows "ok"
  local reply
  exec 7<>"/dev/tcp/127.0.0.1/$testbed_port" || return 1
  printf '%s\n' "$1" >&7
  read -r -t 10 reply <&7
  exec 7>&-
  reply=${reply%$'\r'}
  [ "${reply%% *}" = ok ] || { echo "board: $reply"; return 1; }
  echo "${reply#ok}"
}
follow_wall_clock() {  # SECONDS: the board runs two seconds a real second
  local i
  for ((i = 0; i < $1; i++)); do board 'advance 2000' >/dev/null || return 1; sleep 1; done
}
no_resets() { [ -z "$(board resets | tr -d ' ')" ]; }
one_reset() { [ "$(board resets | wc -w)" = 1 ]; }
zrvctl=C:\\zorvik-testbed\\zrvctl.exe
# zrvctl.exe with the zorvik.dll it is built on, as an installation has them.
cp -f "$ZRV_CLIENT_BUILD/zrvctl.exe" "$ZRV_CLIENT_BUILD/zorvik.dll" "$WINEPREFIX/drive_c/zorvik-testbed/"
service_runs() { testbed_wine sc query zrvwdt | tee /dev/stderr | grep -q RUNNING; }
registered_auto() {
  testbed_wine reg query 'HKLM\System\CurrentControlSet\Services\zrvwdt' | tr -d '\r' | tee /dev/stderr >"$work/svc" &&
    grep -Eq 'Start +REG_DWORD +0x2$' "$work/svc" &&
    grep -Eq 'ImagePath +REG_(EXPAND_)?SZ +.*zrvctl\.exe" service run --every 1s --timeout 10s' "$work/svc"
}
install() { testbed_wine "$zrvctl" service install --every 1s --timeout 10s "$@"; }
remove() { testbed_wine "$zrvctl" service remove; }
not_registered() { ! testbed_wine sc query zrvwdt; }
# The service records its state where wdctl, run by anybody, reads it, and
# wdctl sees the service's process still running.
state_shown() {
  testbed_wine "$zrvctl" wdctl | tr -d '\r' | tee /dev/stderr >"$work/wdctl" &&
    grep -qx 'Timeout:       10 s (keepalive state)' "$work/wdctl" &&
    grep -Eq '^Timeleft: +[0-9]+ s \(keepalive state\)$' "$work/wdctl" &&
    grep -Eq '^Running: +yes \(keepalive, pid [0-9]+: last keepalive .*, every 1 s\)$' "$work/wdctl"
}

testbed_start_board "$testbed_src/boards/port-plain.json" || exit 1
testbed_start_session
testbed_import_registry
testbed_start_service zorvik || { echo "FAIL  the driver did not start"; exit 1; }

check "service install" install
check "registered to start automatically, with its options" registered_auto
check "the service runs" service_runs
check "twenty board seconds on the wall clock" follow_wall_clock 10
check "the service kept the watchdog from firing" no_resets
check "wdctl shows the service's timeout and its last keepalive" state_shown
check "service remove" remove
check "the service is gone" not_registered
check "sixty board seconds more" board 'advance 60000'
check "stopping the service stopped the watchdog" no_resets

check "service install --leave-running" install --leave-running
check "ten board seconds on the wall clock" follow_wall_clock 5
check "no reset while it runs" no_resets
check "service remove" remove
check "thirty board seconds more" board 'advance 30000'
check "left running, the watchdog resets the board" one_reset

testbed_stop_service zorvik
testbed_end_session
testbed_stop_board
check_summary
