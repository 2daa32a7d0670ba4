#!/usr/bin/env bash
# The installer files under Wine, on a prefix of their own (created once,
# beside the bench prefix) with the bench's stand-in HAL and the default
# board behind it:
#   1. win/install.cmd with the default board's .reg: the kernel service
#      "zorvik" is registered to start at boot, runs, and answers zrvctl.exe
#      (zorvik.dll beside it, and copied to system32 for other programs)
#      as zrvctl --sim answers on the same board, with the board's profile
#      beside zrvctl.exe; a second install saves the configuration first; a
#      broken .reg is refused with reg's error text and leaves the old
#      configuration in place; win/uninstall.cmd removes the service and the
#      driver file, and with /purge the configuration; zrvctl.exe then says
#      the driver is not installed;
#   2. win/zorvik.inf through setupapi's InstallHinfSection: the driver file
#      and zorvik.dll are copied and the service registered; the uninstall
#      section removes them.
set -uo pipefail
. "$(dirname "$0")/../../win/bench/bench.sh"
bench_check_builds
export WINEDLLOVERRIDES="hal=n;mscoree=;mshtml="
WINEPREFIX=${WINEPREFIX}-installers
export WINEPREFIX

work=$(mktemp -d)
trap 'bench_cleanup; rm -rf "$work"' EXIT
bench_work=$work
exec 8>"$WINEPREFIX.lock"
flock 8
if [ ! -f "$WINEPREFIX/.zorvik-installers" ]; then
  rm -rf "$WINEPREFIX"
  echo "installers: setting up the Wine prefix $WINEPREFIX (once)"
  timeout 300 wineboot -i >"$work/setup.log" 2>&1 || { cat "$work/setup.log"; exit 1; }
  timeout 120 wineserver -w
  touch "$WINEPREFIX/.zorvik-installers"
fi
timeout 60 wineserver -k 2>/dev/null || true
sys32=$WINEPREFIX/drive_c/windows/system32
cp -f "$ZRV_WINDOWS_BUILD/bench/hal.dll" "$sys32/hal.dll"
dist=$WINEPREFIX/drive_c/zorvik-dist
rm -rf "$dist"
mkdir -p "$dist" "$WINEPREFIX/drive_c/zorvik-bench"
cp "$bench_src/win/install.cmd" "$bench_src/win/uninstall.cmd" "$bench_src/win/zorvik.inf" \
  "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_WINDOWS_BUILD/zrvctl.exe" "$ZRV_WINDOWS_BUILD/zorvik.dll" \
  "$bench_src/boards/default.reg" \
  "$bench_src/boards/default.profile.json" "$dist/"
# Not a registry file at all (no header): reg import refuses it.
printf 'board configuration\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\r\n"DeviceType"=dword:00000000\r\n' \
  >"$dist/broken.reg"

. "$(dirname "$0")/check.sh"
service_key='HKLM\System\CurrentControlSet\Services\zorvik'
registered_to_start_at_boot() {
  bench_wine reg query "$service_key" 2>&1 | tr -d '\r' >"$work/service" || return 1
  cat "$work/service"
  grep -Eq 'Type +REG_DWORD +0x1$' "$work/service" &&
    grep -Eq 'Start +REG_DWORD +0x2$' "$work/service" &&
    grep -Eiq 'ImagePath +REG_(EXPAND_)?SZ +.*system32\\drivers\\zorvik\.sys' "$work/service"
}
not_registered() { ! bench_wine reg query "$service_key"; }
runs() { bench_wine sc query zorvik | tee /dev/stderr | grep -q RUNNING; }
same_status_as_native() {
  "$ZRV_LINUX_BUILD/zrvctl" --sim "$bench_src/boards/default.json" status >"$work/native" &&
    bench_wine 'C:\zorvik-dist\zrvctl.exe' status >"$work/wine" && diff -u "$work/native" "$work/wine"
}
# The installed zrvctl.exe finds the board's profile beside itself.
sensors_in_volts() {
  bench_wine 'C:\zorvik-dist\zrvctl.exe' sensors | tr -d '\r' | tee /dev/stderr | grep -qx 'Vcore:         +1.12 V  (min = +0.80 V, max = +1.40 V)'
}
install_ends_with_status() {
  bench_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg' | tr -d '\r' | tee /dev/stderr >"$work/install.out" &&
    grep -q '^install: the old configuration is saved in C:\\zorvik-dist\\zorvik-backup.reg' "$work/install.out" &&
    tail -4 "$work/install.out" | head -1 | grep -q '^hardware monitor: bound' &&
    grep -q 'DeviceType"=dword:00000001' <(iconv -f UTF-16 -t UTF-8 "$dist/zorvik-backup.reg" 2>/dev/null || cat "$dist/zorvik-backup.reg")
}
broken_reg_keeps_the_old_configuration() {
  if bench_wine cmd /c 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\broken.reg' | tr -d '\r' >"$work/broken.out"; then
    cat "$work/broken.out"; return 1
  fi
  cat "$work/broken.out"
  grep -q '^install: reg import of .*broken.reg failed:' "$work/broken.out" &&
    grep -q '^install: the old configuration is back in place' "$work/broken.out" &&
    bench_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT' /v SuperIO | tr -d '\r' | grep -Eq 'SuperIO +REG_DWORD +0x6$' &&
    bench_wine reg query 'HKLM\Software\Varnel\Zorvik\DIO' /v GPIOOutGroup | tr -d '\r' | grep -Eq 'REG_DWORD +0x8$'
}
says_not_installed() {
  ! bench_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" status 2>&1 | tr -d '\r' | tee /dev/stderr >"$work/ni.out" || return 1
  grep -q 'zorvik is not installed or not running' "$work/ni.out"
}
spare_echo() {
  bench_wine "$ZRV_WINDOWS_BUILD/zrvctl.exe" ioctl 0x88202010 in=3412 out=2 | tee /dev/stderr |
    grep -qx 'status=0x00000000 bytes=2 data=3412'
}
config_present() { bench_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT' /v DeviceType; }
config_absent() { ! bench_wine reg query 'HKLM\Software\Varnel\Zorvik\WDT'; }
driver_file_present() { [ -f "$sys32/drivers/zorvik.sys" ] && cmp "$sys32/drivers/zorvik.sys" "$ZRV_WINDOWS_BUILD/zorvik.sys"; }
driver_file_absent() { [ ! -e "$sys32/drivers/zorvik.sys" ]; }
library_present() { cmp "$sys32/zorvik.dll" "$ZRV_WINDOWS_BUILD/zorvik.dll"; }
library_absent() { [ ! -e "$sys32/zorvik.dll" ]; }
cmd_script() { bench_wine cmd /c "$@"; }
refused_without_board() { ! bench_wine cmd /c 'C:\zorvik-dist\install.cmd'; }

# ---- install.cmd / uninstall.cmd ------------------------------------------
rm -f "$sys32/drivers/zorvik.sys"
bench_start_board "$bench_src/boards/default.json" || exit 1
bench_start_session
check "no service before the install" not_registered
check "install.cmd with the board's .reg" cmd_script 'C:\zorvik-dist\install.cmd' 'C:\zorvik-dist\default.reg'
check "the service is a kernel driver started at boot" registered_to_start_at_boot
check "the driver file is in system32\\drivers" driver_file_present
check "zorvik.dll is in system32 for management software" library_present
check "the board's configuration is in the registry" config_present
check "the service runs" runs
check "zrvctl.exe status answers as zrvctl --sim does" same_status_as_native
check "zrvctl.exe beside the profile reads in volts" sensors_in_volts
check "install.cmd again saves the configuration first and ends with zrvctl status" install_ends_with_status
check "the service runs after the second install" runs
check "install.cmd with a broken .reg fails and leaves the old configuration" broken_reg_keeps_the_old_configuration
check "the service runs after the refused install" runs
check "uninstall.cmd" cmd_script 'C:\zorvik-dist\uninstall.cmd'
check "no service after the uninstall" not_registered
check "no driver file after the uninstall" driver_file_absent
check "no zorvik.dll after the uninstall" library_absent
check "the configuration stays without /purge" config_present
check "uninstall.cmd /purge" cmd_script 'C:\zorvik-dist\uninstall.cmd' /purge
check "no configuration after /purge" config_absent
check "zrvctl.exe says the driver is not installed" says_not_installed
check "install.cmd without a board's .reg is refused" refused_without_board
bench_end_session

# ---- zorvik.inf --------------------------------------------------------------
bench_start_session
inf_section() { bench_wine rundll32 setupapi.dll,InstallHinfSection "$1" 128 'C:\zorvik-dist\zorvik.inf'; }
check "InstallHinfSection DefaultInstall" inf_section DefaultInstall
check "the INF copied the driver file" driver_file_present
check "the INF copied zorvik.dll to system32" library_present
check "the INF registered a kernel driver started at boot" registered_to_start_at_boot
check "the board's configuration imported" bench_wine reg import 'C:\zorvik-dist\default.reg'
check "the INF-installed service starts" bench_start_service zorvik
check "the device answers" spare_echo
# As the INF says: a running driver's file is not deleted before a restart.
bench_stop_service zorvik
check "InstallHinfSection DefaultUninstall" inf_section DefaultUninstall
check "no service after the INF uninstall" not_registered
check "no driver file after the INF uninstall" driver_file_absent
check "no zorvik.dll after the INF uninstall" library_absent
bench_end_session
bench_stop_board

check_summary
