#!/usr/bin/env bash
# The C examples built with mingw on zorvik.dll, run under Wine on the real
# zorvik.sys and the emulated default board: they must print what the Linux
# build prints on the virtual board (the same expected files), and the
# driver must break no rule of the hardware.
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
for f in zorvik.dll wdt_keepalive.exe dio_lines.exe; do
  [ -f "$ZRV_CLIENT_BUILD/$f" ] || testbed_die "$ZRV_CLIENT_BUILD/$f is missing: build the windows-$ZRV_WINDOWS_ARCH preset"
done
expected=$testbed_src/tests/lib/expected
testbed_open
testbed_start_board "$testbed_src/boards/default.json" || exit 2
testbed_start_session
testbed_import_registry
testbed_start_service zorvik || { echo "the driver did not load: $(cat "$work/sc-zorvik.out")"; exit 1; }

status=0
run() {  # expected-file program [args...]
  local want=$1
  shift
  testbed_wine "$@" 2>"$work/err" | tr -d '\r' >"$work/out"
  local rc=${PIPESTATUS[0]}
  if [ "$rc" -ne 0 ] || ! diff -u "$want" "$work/out"; then
    echo "FAILED ($rc): $*"
    grep -v ':warn:\|:err:\|^fixme' "$work/err"
    status=1
  fi
}
run "$expected/wdt_keepalive.out" "$ZRV_CLIENT_BUILD/wdt_keepalive.exe" \
  "$(testbed_winpath "$testbed_src/boards/default.profile.json")" 2 0
run "$expected/dio_lines.out" "$ZRV_CLIENT_BUILD/dio_lines.exe"

testbed_stop_service zorvik
testbed_end_session
testbed_stop_board
if [ -s "$work/violations" ]; then
  sed 's/^/hardware protocol violation: /' "$work/violations"
  status=1
fi
exit $status
