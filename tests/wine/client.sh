#!/usr/bin/env bash
# zrvctl.exe as it ships, under Wine on the real zorvik.sys and the default
# board (its profile with one label that is not ASCII):
#   - no board link: --board-port is no option, the emulated board's
#     commands are no commands, and its help (/?) names neither;
#   - --version: the client's version, and the driver's file version, which
#     it reads from zorvik.sys's version resource;
#   - its text is Windows text: every line ends in CRLF, and where the
#     output is no console the degree sign is "deg" and other non-ASCII
#     text "?", never UTF-8; on a console (a terminal, which Wine makes
#     the program's console and shows in UTF-8) the degree sign is the
#     console code page's or "deg"; with --json the text stays UTF-8.
#
#   client.sh VERSION   (the project's version)
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
version=$1
testbed_open

. "$(dirname "$0")/check.sh"
dir=$WINEPREFIX/drive_c/zorvik-testbed
cp -f "$ZRV_CLIENT_BUILD/zrvctl.exe" "$ZRV_CLIENT_BUILD/zorvik.dll" "$dir/"
sed 's/"label": "System"/"label": "Gehäuse"/' "$testbed_src/boards/default.profile.json" >"$dir/zorvik.profile.json"
zrvctl='C:\zorvik-testbed\zrvctl.exe'
export LC_ALL=C  # grep on bytes

client() {  # EXIT ARGS...: zrvctl.exe exits EXIT; its output in $work/out
  local want=$1 rc
  shift
  testbed_wine "$zrvctl" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  cat "$work/out" "$work/err"
  [ "$rc" = "$want" ] || { echo "exit $rc, not $want"; return 1; }
}
windows_lines() {  # every line of $work/out ends in CRLF
  [ -s "$work/out" ] && [ "$(grep -c $'\r$' "$work/out")" = "$(wc -l <"$work/out")" ]
}
sensors_text() {
  client 0 sensors && windows_lines && ! grep -q $'\xc2\xb0' "$work/out" &&
    grep -q '^CPU: .*+45\.0degC  (max = +80\.0degC)' "$work/out" && grep -q '^Geh?use: ' "$work/out"
}
sensors_json() {
  client 0 --json sensors && windows_lines && grep -q '"Gehäuse"' "$work/out"
}
console_degree() {
  LC_ALL=C.UTF-8 script -qec "'$testbed_wine_loader' '$zrvctl' sensors" "$work/typescript" </dev/null >/dev/null 2>&1
  sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/typescript" | tee /dev/stderr | grep -Eq '\+45\.0(°|deg)C'
}
version_lines() {
  client 0 --version && windows_lines && tr -d '\r' <"$work/out" >"$work/version" &&
    printf 'zrvctl %s\ndriver: zorvik.sys %s (C:\\windows\\system32\\drivers\\zorvik.sys)\n' "$version" "$version" |
    diff -u - "$work/version"
}
help_for_users() {
  client 0 /? && windows_lines && grep -q '^  status ' "$work/out" &&
    ! grep -Eq -- '--board-port|^  (advance|pinset|pinget|resets) |emulated board' "$work/out"
}
refused() {  # WORD ARGS...: a usage error naming WORD
  local word=$1
  shift
  client 2 "$@" && grep -q -- "$word" "$work/err"
}

testbed_start_board "$testbed_src/boards/default.json" || exit 1
testbed_start_session
testbed_import_registry
testbed_start_service zorvik || { echo "FAIL  the driver did not start"; exit 1; }
check "sensors: CRLF lines, the degree sign and the label in ASCII" sensors_text
check "--json sensors: CRLF lines, the label in UTF-8" sensors_json
check "sensors on a console: the degree sign as the console shows it" console_degree
check "--version: the client's and the driver file's version" version_lines
check "/?: the commands, none of the testbed's or the emulated board's" help_for_users
check "--board-port is no option" refused board-port --board-port 5555 status
check "advance is no command" refused advance advance 1s
testbed_stop_service zorvik
testbed_end_session
testbed_stop_board
check_summary
