#!/usr/bin/env bash
# The installer files under Wine, on a prefix of their own (created once,
# beside the testbed prefix) with the testbed's stand-in HAL and the default
# board behind it:
#   1. win/install.cmd with the default board's .reg: the kernel service
#      "zorvik" is registered to start at boot, runs, and answers zrvctl.exe
#      (zorvik.dll beside it, and copied to system32 for other programs)
#      as zrvctl --sim answers on the same board; zrvctl.exe and the board's
#      profile are in system32, and without a profile beside the .reg the
#      readings are raw; a second install saves the configuration first;
#      the keepalive service, installed from the unpack folder, runs the
#      zrvctl.exe in system32, says its state, and its errors go to the
#      event log; an install while it runs stops it before the driver and
#      starts it after (the order Windows needs, which Wine does not
#      enforce: the calls are logged through a stand-in for sc); a
#      broken .reg is refused with reg's error text and leaves the old
#      configuration in place; win/uninstall.cmd removes the service and the
#      driver file, and with /purge the configuration; zrvctl.exe then says
#      the driver is not installed; install.cmd registers the System event
#      log's source "zorvik" with zorvik.sys as its message file and
#      uninstall.cmd removes it;
#   2. win/zorvik.inf through setupapi's InstallHinfSection: the driver file
#      and zorvik.dll are copied, the service and the event log source
#      registered; the uninstall section removes them.
# The package has the x86 and x64 folders of install.cmd's layout, each from
# its build when that is there (ZRV_WINDOWS_X86_BUILD, ZRV_WINDOWS_X64_BUILD;
# default build/windows-x86, build/windows-x64): both installers must take
# the folder of the prefix's architecture (ZRV_WINDOWS_ARCH). On x64,
# install.cmd started from a 32-bit command prompt installs the x64 driver
# too, and puts the 32-bit zorvik.dll in SysWOW64.
set -uo pipefail
. "$(dirname "$0")/../../win/testbed/testbed.sh"
testbed_check_builds
work=$(mktemp -d)
trap 'testbed_cleanup; rm -rf "$work"' EXIT
testbed_begin_bare installers "$work"
sys32=$WINEPREFIX/drive_c/windows/system32
dist=$WINEPREFIX/drive_c/zorvik-dist
testbed_package "$dist"
cp "$testbed_src/boards/default.reg" "$testbed_src/boards/default.profile.json" "$dist/"
echo "installers: $ZRV_WINDOWS_ARCH prefix, package folders: $(cd "$dist" && echo x*)"
syswow64=$WINEPREFIX/drive_c/windows/syswow64
cp "$testbed_src/boards/default.reg" "$dist/bare.reg"  # no profile beside it
# A stand-in for sc that logs its calls (install.cmd's ZRV_SC).
printf '@echo %%*>>"%%~dp0sc.log"\r\n@sc %%*\r\n@exit /b %%errorlevel%%\r\n' >"$dist/sc_log.cmd"
# Not a registry file at all (no header): reg import refuses it.
printf 'board configuration\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\r\n"DeviceType"=dword:00000000\r\n' \
  >"$dist/broken.reg"

. "$(dirname "$0")/check.sh"
service_key='HKLM\System\CurrentControlSet\Services\zorvik'
registered_to_start_at_boot() {
  testbed_wine reg query "$service_key" 2>&1 | tr -d '\r' >"$work/service" || return 1
  cat "$work/service"
  grep -Eq 'Type +REG_DWORD +0x1$' "$work/service" &&
    grep -Eq 'Start +REG_DWORD +0x2$' "$work/service" &&
    grep -Eiq 'ImagePath +REG_(EXPAND_)?SZ +.*system32\\drivers\\zorvik\.sys' "$work/service"
}
not_registered() { ! testbed_wine reg query "$service_key"; }
event_source='HKLM\System\CurrentControlSet\Services\EventLog\System\zorvik'
event_source_registered() {
  testbed_wine reg query "$event_source" 2>&1 | tr -d '\r' | tee /dev/stderr >"$work/source" || return 1
  grep -Eq 'EventMessageFile +REG_EXPAND_SZ +%SystemRoot%\\System32\\drivers\\zorvik\.sys$' "$work/source" &&
    grep -Eq 'TypesSupported +REG_DWORD +0x7$' "$work/source"
}
no_event_source() { ! testbed_wine reg query "$event_source"; }
runs() { testbed_wine sc query zorvik | tee /dev/stderr | grep -q RUNNING; }
same_status_as_native() {
  "$ZRV_LINUX_BUILD/zrvctl" --sim "$testbed_src/boards/default.json" status >"$work/native" &&
    testbed_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" status | tr -d '\r' | sed 's/degC/°C/g' >"$work/wine" && diff -u "$work/native" "$work/wine"
}
installed='C:\windows\system32\zrvctl.exe'
# zrvctl.exe (ZRVCTL) finds the installed profile: beside itself in
# system32, or there from another folder.
sensors_in_volts() {
  testbed_wine "$1" sensors | tr -d '\r' | tee /dev/stderr | grep -qx 'Vcore:         +1.12 V  (min = +0.80 V, max = +1.40 V)'
}
client_installed() { cmp "$sys32/zrvctl.exe" "$ZRV_WINDOWS_BUILD/zrvctl.exe"; }
# A .reg without a profile beside it: install.cmd says so, removes the old
# profile, and sensors shows raw readings and exits 0.
raw_without_profile() {
  testbed_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\bare.reg' | tr -d '\r' | tee /dev/stderr |
    grep -q '^install: no board profile .*bare.profile.json: sensors shows raw readings' &&
    [ ! -e "$sys32/zorvik.profile.json" ] &&
    testbed_wine "$installed" sensors | tr -d '\r' | tee /dev/stderr >"$work/raw" &&
    grep -q '(raw)' "$work/raw" && ! grep -q ' V  (min' "$work/raw"
}
keepalive_runs_installed_client() {
  testbed_wine "C:\\zorvik-dist\\$ZRV_WINDOWS_ARCH\\zrvctl.exe" service install --every 1s --timeout 10s "$@" &&
    testbed_wine reg query 'HKLM\System\CurrentControlSet\Services\zrvwdt' /v ImagePath | tr -d '\r' | tee /dev/stderr |
    grep -Eiq 'REG_(EXPAND_)?SZ +"C:\\windows\\system32\\zrvctl\.exe" service run --every 1s --timeout 10s'
}
keepalive_state() {  # STATE
  testbed_wine "$installed" service status | tr -d '\r' | tee /dev/stderr |
    grep -Eiq "^service zrvwdt: $1, started at boot: \"C:\\\\windows\\\\system32\\\\zrvctl\.exe\" service run"
}
keepalive_remove() { testbed_wine "$installed" service remove; }
upgrade_order() {
  rm -f "$dist/sc.log"
  ZRV_SC='C:\zorvik-dist\sc_log.cmd' testbed_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg' &&
    tr -d '\r' <"$dist/sc.log" | sed 's/ *$//' | grep -E '^(stop|start) ' | tee /dev/stderr >"$work/order" &&
    printf 'stop zrvwdt\nstop zorvik\nstart zorvik\nstart zrvwdt\n' | diff -u - "$work/order"
}
keepalive_runs() { testbed_wine sc query zrvwdt | tee /dev/stderr | grep -q RUNNING; }
# The service cannot listen where the board server listens: its error is
# an event of the source zrvwdt (Wine prints error events on the session's
# standard error).
error_in_event_log() {
  keepalive_runs_installed_client --listen "127.0.0.1:$testbed_port" || return 1
  local i
  for ((i = 0; i < 50; i++)); do
    grep -q "err:eventlog:.*metrics: cannot listen at 127.0.0.1:$testbed_port" "$work/wine.err" && return 0
    sleep 0.2
  done
  grep eventlog "$work/wine.err"
  return 1
}
install_ends_with_status() {
  testbed_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg' | tr -d '\r' | tee /dev/stderr >"$work/install.out" &&
    grep -q '^install: the old configuration is saved in C:\\zorvik-dist\\zorvik-backup.reg' "$work/install.out" &&
    tail -4 "$work/install.out" | head -1 | grep -q '^hardware monitor: bound' &&
    grep -q 'DeviceType"=dword:00000001' <(iconv -f UTF-16 -t UTF-8 "$dist/zorvik-backup.reg" 2>/dev/null || cat "$dist/zorvik-backup.reg")
}
broken_reg_keeps_the_old_configuration() {
  if testbed_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\broken.reg' | tr -d '\r' >"$work/broken.out"; then
    cat "$work/broken.out"; return 1
  fi
  cat "$work/broken.out"
  grep -q '^install: reg import of .*broken.reg failed:' "$work/broken.out" &&
    grep -q '^install: the old configuration is back in place' "$work/broken.out" &&
    testbed_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT' /v SuperIO | tr -d '\r' | grep -Eq 'SuperIO +REG_DWORD +0x6$' &&
    testbed_wine reg query 'HKLM\Software\Varnel\Zorvik\DIO' /v GPIOOutGroup | tr -d '\r' | grep -Eq 'REG_DWORD +0x8$'
}
says_not_installed() {
  ! testbed_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" status 2>&1 | tr -d '\r' | tee /dev/stderr >"$work/ni.out" || return 1
  grep -q 'zorvik is not installed or not running' "$work/ni.out"
}
spare_echo() {
  testbed_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" ioctl 0x88202010 in=3412 out=2 | tr -d '\r' | tee /dev/stderr |
    grep -qx 'status=0x00000000 bytes=2 data=3412'
}
config_present() { testbed_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT' /v DeviceType; }
config_absent() { ! testbed_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT'; }
driver_file_present() { [ -f "$sys32/drivers/zorvik.sys" ] && cmp "$sys32/drivers/zorvik.sys" "$ZRV_WINDOWS_BUILD/zorvik.sys"; }
driver_file_absent() { [ ! -e "$sys32/drivers/zorvik.sys" ]; }
library_present() { cmp "$sys32/zorvik.dll" "$ZRV_WINDOWS_BUILD/zorvik.dll"; }
library_absent() { [ ! -e "$sys32/zorvik.dll" ] && [ ! -e "$syswow64/zorvik.dll" ]; }
wow64_library_present() { cmp "$syswow64/zorvik.dll" "$dist/x86/zorvik.dll"; }
# From a 32-bit command prompt: install.cmd goes on in the 64-bit one.
install_from_32bit_prompt() {
  rm -f "$sys32/drivers/zorvik.sys"
  testbed_wine32 cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg' | tr -d '\r' | tee /dev/stderr |
    grep -q '^install: x64 Windows: ' && driver_file_present
}
cmd_script() { testbed_wine cmd /c "$@"; }
refused_without_board() { ! testbed_wine cmd /c 'C:\zorvik-dist\install.cmd'; }

# ---- install.cmd / uninstall.cmd ------------------------------------------
rm -f "$sys32/drivers/zorvik.sys"
testbed_start_board "$testbed_src/boards/default.json" || exit 1
testbed_start_session
check "no service before the install" not_registered
check "install.cmd with the board's .reg" cmd_script 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg'
check "the service is a kernel driver started at boot" registered_to_start_at_boot
check "the driver file is in system32\\drivers" driver_file_present
check "zorvik.dll is in system32 for management software" library_present
check "the event log source zorvik has zorvik.sys as its message file" event_source_registered
check "the board's configuration is in the registry" config_present
check "the service runs" runs
check "zrvctl.exe status answers as zrvctl --sim does" same_status_as_native
check "zrvctl.exe is in system32" client_installed
check "zrvctl.exe in system32 reads in volts with the profile beside it" sensors_in_volts "$installed"
check "zrvctl.exe in the unpack folder reads in volts with the installed profile" \
  sensors_in_volts "C:\\zorvik-dist\\$ZRV_WINDOWS_ARCH\\zrvctl.exe"
if [ "$ZRV_WINDOWS_ARCH" = x64 ] && [ -d "$dist/x86" ]; then
  check "the 32-bit zorvik.dll is in SysWOW64 for 32-bit programs" wow64_library_present
  if why=$("$testbed_src/win/testbed/runs-32bit"); then
    check "install.cmd from a 32-bit command prompt installs the x64 driver" install_from_32bit_prompt
    check "the service runs after the install from the 32-bit prompt" runs
  else
    skip "install.cmd from a 32-bit command prompt" "$why"
  fi
fi
check "install.cmd without a profile: raw readings, exit 0" raw_without_profile
check "install.cmd again saves the configuration first and ends with zrvctl status" install_ends_with_status
check "the service runs after the second install" runs
check "the keepalive service, installed from the unpack folder, runs zrvctl.exe in system32" keepalive_runs_installed_client
check "service status: running" keepalive_state running
check "install.cmd while it runs: stop it, stop the driver, start the driver, start it" upgrade_order
check "the driver runs after the upgrade" runs
check "the keepalive service runs after the upgrade" keepalive_runs
check "service remove" keepalive_remove
check "the keepalive service's errors go to the event log" error_in_event_log
check "service status: stopped after its error" keepalive_state stopped
check "service remove of the stopped service" keepalive_remove
check "install.cmd with a broken .reg fails and leaves the old configuration" broken_reg_keeps_the_old_configuration
check "the service runs after the refused install" runs
check "uninstall.cmd" cmd_script 'C:\zorvik-dist\uninstall.cmd'
check "no service after the uninstall" not_registered
check "no driver file after the uninstall" driver_file_absent
check "no event log source after the uninstall" no_event_source
check "no zorvik.dll after the uninstall" library_absent
check "the configuration stays without /purge" config_present
check "uninstall.cmd /purge" cmd_script 'C:\zorvik-dist\uninstall.cmd' /purge
check "no configuration after /purge" config_absent
check "zrvctl.exe says the driver is not installed" says_not_installed
check "install.cmd without a board's .reg is refused" refused_without_board
testbed_end_session

# ---- zorvik.inf --------------------------------------------------------------
# Wine's setupapi reads only the plain SourceDisksNames, not the one of the
# architecture: it takes the files from beside the INF.
cp "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_WINDOWS_BUILD/zorvik.dll" "$dist/"
testbed_start_session
inf_section() { testbed_wine rundll32 setupapi.dll,InstallHinfSection "$1" 128 'C:\zorvik-dist\zorvik.inf'; }
check "InstallHinfSection DefaultInstall" inf_section DefaultInstall
check "the INF copied the driver file" driver_file_present
check "the INF copied zorvik.dll to system32" library_present
check "the INF registered a kernel driver started at boot" registered_to_start_at_boot
check "the INF registered the event log source" event_source_registered
check "the board's configuration imported" testbed_wine reg import 'C:\zorvik-dist\default.reg'
check "the INF-installed service starts" testbed_start_service zorvik
check "the device answers" spare_echo
# As the INF says: a running driver's file is not deleted before a restart.
testbed_stop_service zorvik
check "InstallHinfSection DefaultUninstall" inf_section DefaultUninstall
check "no service after the INF uninstall" not_registered
check "no driver file after the INF uninstall" driver_file_absent
check "no event log source after the INF uninstall" no_event_source
check "no zorvik.dll after the INF uninstall" library_absent
testbed_end_session
testbed_stop_board

check_summary
