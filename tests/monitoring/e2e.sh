#!/usr/bin/env bash
# End to end with a real Prometheus: zrvctl writes the textfile that
# node_exporter serves, and serves /metrics itself; Prometheus scrapes both
# every second (the board's own endpoint every five: under ThreadSanitizer on
# a loaded machine one scrape of the board takes more than a second, and
# Prometheus cuts a scrape off at its interval) and evaluates the alert rules (their `for:` cut to seconds;
# promtool's rule tests check the real delays). The fans Prometheus stores
# must be the ones `zrvctl sensors --json` reads, and the stalled fan's
# alert must fire, from both targets.
#
#   e2e.sh ZRVCTL SOURCE_DIR
set -uo pipefail
zrvctl=$1
src=$2
board=$src/tests/monitoring/stalled-fan.json
work=$(mktemp -d)
# The keepalive state of these runs only, not the machine's.
export ZRV_KEEPALIVE_STATE=$work/keepalive.state
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; for f in "$work"/*.log; do echo "--- $f"; tail -20 "$f"; done; exit 1; }
freeport() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mkdir -p "$work/textfile" "$work/data"
"$zrvctl" --sim "$board" metrics --textfile "$work/textfile" || fail "zrvctl metrics --textfile"
[ -s "$work/textfile/zorvik.prom" ] || fail "no zorvik.prom written"

node_port=$(freeport); board_port=$(freeport); prom_port=$(freeport)
prometheus-node-exporter --web.listen-address=127.0.0.1:$node_port --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$work/textfile" >"$work/node.log" 2>&1 &
pids+=($!)
"$zrvctl" --sim "$board" metrics --listen 127.0.0.1:$board_port >"$work/listen.log" 2>&1 &
pids+=($!)

sed -E 's/for: [0-9a-z]+/for: 2s/' "$src/monitoring/zorvik-alerts.yml" >"$work/rules.yml"
cat >"$work/prometheus.yml" <<YML
global: {scrape_interval: 1s, evaluation_interval: 1s}
rule_files: [rules.yml]
scrape_configs:
  - job_name: textfile
    static_configs: [{targets: ['127.0.0.1:$node_port']}]
  - job_name: board
    scrape_interval: 5s
    scrape_timeout: 5s
    static_configs: [{targets: ['127.0.0.1:$board_port']}]
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address=127.0.0.1:$prom_port >"$work/prometheus.log" 2>&1 &
pids+=($!)

"$zrvctl" --sim "$board" --json sensors >"$work/sensors.json"  # exit 1: the stalled fan's alarm
python3 - "$prom_port" "$work/sensors.json" <<'PY' || fail "Prometheus did not show what zrvctl reads"
import json, sys, time, urllib.request, urllib.parse
port, sensors = sys.argv[1], json.load(open(sys.argv[2]))
def api(path, **q):
    url = f"http://127.0.0.1:{port}/api/v1/{path}?" + urllib.parse.urlencode(q)
    try:
        return json.load(urllib.request.urlopen(url, timeout=5))["data"]
    except OSError:
        return None
# fan1, fan2 ... as sensors reads them, by sensor name.
want = {}
for chip in sensors.values():
    for channel in chip.values():
        if isinstance(channel, dict):
            for key, value in channel.items():
                if key.startswith("fan") and key.endswith("_input"):
                    want[key[:-6]] = value
assert want.get("fan1") == 0, f"the board's fan1 should read 0: {want}"
checked = set()
firing = set()
deadline = time.time() + 150
while time.time() < deadline and (len(checked) < 2 or len(firing) < 2):
    time.sleep(1)
    for job in ("textfile", "board"):
        data = api("query", query=f'zorvik_fan_rpm{{job="{job}"}}')
        if not data or not data["result"]:
            continue
        got = {r["metric"]["sensor"]: float(r["value"][1]) for r in data["result"]}
        if got != {k: float(v) for k, v in want.items()}:
            sys.exit(f"{job}: zorvik_fan_rpm {got}, zrvctl sensors {want}")
        if job not in checked:
            print(f"{job}: zorvik_fan_rpm {got} as zrvctl sensors reads them")
        checked.add(job)
    alerts = api("alerts") or {"alerts": []}
    for a in alerts["alerts"]:
        if a["labels"]["alertname"] == "ZorvikFanStalled" and a["state"] == "firing":
            assert a["labels"]["sensor"] == "fan1", a
            if a["labels"]["job"] not in firing:
                print(f'{a["labels"]["job"]}: ZorvikFanStalled firing: {a["annotations"]["summary"]}')
            firing.add(a["labels"]["job"])
if len(checked) < 2 or len(firing) < 2:
    sys.exit(f"after 150 s: readings from {sorted(checked)}, stalled-fan alert firing from {sorted(firing)}")
PY
grep -q "^metrics: listening at http://127.0.0.1:$board_port/metrics$" "$work/listen.log" ||
  fail "metrics --listen did not say where it listens"
echo "end to end: 2 passed, 0 failed"
