#!/usr/bin/env bash
# zrvctl.exe metrics under Wine, on the real zorvik.sys and the emulated
# default board: the textfile it writes has the same samples as the Linux
# client's for the same board; --listen answers a scrape from the Linux
# side with them; the keepalive service started with --metrics writes the
# file with the watchdog's series after its restarts; and before the driver
# runs, metrics says zorvik_up 0 with the reason and exits 4.
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
testbed_check_builds
work=$(mktemp -d)
listener=
trap '[ -n "$listener" ] && kill "$listener" 2>/dev/null; testbed_cleanup; rm -rf "$work"' EXIT
testbed_begin "$work"

. "$(dirname "$0")/check.sh"
samples() { grep -v '^#' "$1" | tr -d '\r' | grep -v '^zorvik_watchdog_' | sort; }
zrvctl=C:\\zorvik-testbed\\zrvctl.exe
cp -f "$ZRV_CLIENT_BUILD/zrvctl.exe" "$ZRV_CLIENT_BUILD/zorvik.dll" "$WINEPREFIX/drive_c/zorvik-testbed/"
cp -f "$testbed_src/boards/default.profile.json" "$WINEPREFIX/drive_c/zorvik-testbed/zorvik.profile.json"
mkdir -p "$WINEPREFIX/drive_c/zorvik-testbed/prom" "$work/linux"
prom=$WINEPREFIX/drive_c/zorvik-testbed/prom/zorvik.prom

"$ZRV_LINUX_BUILD/zrvctl" --sim "$testbed_src/boards/default.json" metrics --textfile "$work/linux" ||
  testbed_die "the Linux client wrote no metrics"
samples "$work/linux/zorvik.prom" >"$work/linux.samples"

testbed_start_board "$testbed_src/boards/default.json" || exit 1
testbed_start_session
testbed_import_registry
not_installed() {
  testbed_wine "$zrvctl" metrics | tr -d '\r' >"$work/down.prom"
  local rc=${PIPESTATUS[0]}
  cat "$work/down.prom"
  [ "$rc" -eq 4 ] && grep -qx 'zorvik_up{reason="not installed"} 0' "$work/down.prom"
}
check "before the driver starts: zorvik_up 0, not installed, exit 4" not_installed
testbed_start_service zorvik || { echo "FAIL  the driver did not start"; exit 1; }

same_textfile() {
  testbed_wine "$zrvctl" metrics --textfile 'C:\zorvik-testbed\prom' &&
    samples "$prom" >"$work/wine.samples" && diff -u "$work/linux.samples" "$work/wine.samples"
}
check "metrics --textfile: the samples of the Linux client" same_textfile
check "the written file ends in line feeds only (the exposition format)" bash -c "! grep -q $'\r' '$prom'"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
timeout "$testbed_timeout" "$testbed_wine_loader" "$zrvctl" metrics --listen 127.0.0.1:$port </dev/null >"$work/listen.log" 2>&1 &
listener=$!
scrape() {
  python3 - "$port" >"$work/scrape.prom" <<'PY'
import sys, time, urllib.request
for _ in range(60):
    try:
        r = urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[1]}/metrics", timeout=10)
        assert r.headers["Content-Type"].startswith("text/plain; version=0.0.4"), r.headers["Content-Type"]
        sys.stdout.write(r.read().decode()); break
    except OSError:
        time.sleep(0.5)
else:
    sys.exit("no answer")
PY
  samples "$work/scrape.prom" >"$work/scrape.samples" && diff -u "$work/linux.samples" "$work/scrape.samples"
}
check "metrics --listen answers a scrape from Linux with the same samples" scrape
kill "$listener" 2>/dev/null
wait "$listener" 2>/dev/null
listener=

rm -f "$prom"
keepalive_file() {
  for _ in $(seq 30); do
    grep -q '^zorvik_watchdog_last_keepalive_timestamp_seconds ' "$prom" 2>/dev/null &&
      grep -qx 'zorvik_watchdog_timeout_seconds 10' "$prom" && return 0
    sleep 1
  done
  cat "$prom"
  return 1
}
check "service install --metrics" testbed_wine "$zrvctl" service install --every 1s --timeout 10s --metrics 'C:\zorvik-testbed\prom'
check "the service writes the watchdog's series after its restarts" keepalive_file
check "service remove" testbed_wine "$zrvctl" service remove

testbed_stop_service zorvik
testbed_end_session
testbed_stop_board
check_summary
