#!/usr/bin/env bash
# Who may open the control device, as the kernel holds it: zorvik.sys is
# started under Wine, then the testbed's probe driver (zrvsecprobe.sys, same
# driver host) reads the security descriptor of "\Device\ZRV0" and prints
# it. Only the local system and Administrators may have access, with every
# right of a device, and the device type is 0x8820.
#
# Wine keeps no device characteristics (FILE_DEVICE_SECURE_OPEN shows as 0
# there), so that line is shown but not compared.
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
testbed_open
testbed_start_board "$testbed_src/boards/default.json" || exit 1
testbed_start_session
testbed_import_registry
status=0
if ! testbed_start_service zorvik; then
  echo "FAIL: zorvik did not start: $(cat "$work/sc-zorvik.out")"
  status=1
elif ! testbed_start_service zrvsecprobe; then
  echo "FAIL: the probe did not start: $(cat "$work/sc-zrvsecprobe.out")"
  status=1
fi
testbed_stop_service zrvsecprobe
testbed_stop_service zorvik
testbed_end_session
testbed_stop_board
testbed_debug_text | grep '^zrvsecprobe: ' >"$work/probe"
echo "what the probe saw:"
cat "$work/probe"
printf '%s\n' 'zrvsecprobe: type 0x8820' \
  'zrvsecprobe: allow S-1-5-18 0x001f01ff' \
  'zrvsecprobe: allow S-1-5-32-544 0x001f01ff' >"$work/expected"
if ! grep -v '^zrvsecprobe: characteristics ' "$work/probe" | diff -u "$work/expected" - ; then
  echo "FAIL: the control device's security differs"
  status=1
fi
[ $status -eq 0 ] && echo "PASS"
exit $status
