#!/usr/bin/env bash
# Shows that a scenario run catches a wrong answer: runs SCENARIO with
# RUNNER against a copy of its expected files in which WHAT ("trace" or
# "dbg") has one line changed, and succeeds only when run_scenario.sh fails
# on exactly that file.
#
#   expect_mismatch.sh RUNNER SCENARIO.zrv trace|dbg
set -euo pipefail
runner=$1
scenario=$2
what=$3
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
base=${scenario%.zrv}
name=$(basename "$base")
for ext in zrv out trace dbg; do
  if [ -f "$base.$ext" ]; then cp "$base.$ext" "$work/$name.$ext"; fi
done
case $what in
  trace)  # the value of the first write changes
    sed -i '0,/^out /s/^\(out 0x[0-9a-f]* 0x\)\([0-9a-f]\)/\1f/' "$work/$name.trace"
    label="port trace" ;;
  dbg)    # the first line is missing
    sed -i '1d' "$work/$name.dbg"
    label="debugger output" ;;
  *) echo "expect_mismatch.sh: trace or dbg, not '$what'" >&2; exit 2 ;;
esac
cmp -s "$base.$what" "$work/$name.$what" && { echo "the expected $what did not change" >&2; exit 2; }
set +e
"$src/tests/run_scenario.sh" "$runner" "$work/$name.zrv" >"$work/result" 2>&1
rc=$?
set -e
cat "$work/result"
if [ $rc -eq 0 ]; then echo "FAIL: the run matched an altered $what"; exit 1; fi
if ! grep -q "^$label differs" "$work/result"; then echo "FAIL: no '$label differs' report"; exit 1; fi
if grep -q "differs" <(grep -v "^$label differs" "$work/result" | grep '^[a-z ]* differs from'); then
  echo "FAIL: a file other than the $what differed"; exit 1
fi
echo "PASS: the altered $what was caught, nothing else differed"
