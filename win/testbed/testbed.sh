# The Wine testbed, sourced by win/wine-run and the Wine suite's scripts.
#
# One run: a board server (zrvboard, Linux) serves the emulated board; a
# Wine prefix of the driver's architecture has zorvik.sys installed as the kernel service
# "zorvik" and the testbed's stand-in hal.dll, which sends every port access
# of the driver to the board server; the board's .reg file is imported; the
# service is started; Windows programs talk to "\\.\ZRVDev" through Wine's
# I/O manager; the service is stopped and the server writes the port trace.
#
# Wine stops its services and driver hosts when the last Wine process of a
# prefix exits, so a run keeps one process (a waiting cmd.exe) alive from
# its start to its end. The driver's DbgPrint lines come out on the standard
# error of the processes that this first process starts, as Wine's
# "warn:debugstr" messages.
#
# Settings (environment):
#   ZRV_WINDOWS_ARCH   the driver's architecture: x86 (32-bit prefix) or x64
#                      (64-bit prefix)                      (default: x86)
#   ZRV_LINUX_BUILD    Linux build with zrvboard     (default: build/default)
#   ZRV_WINDOWS_BUILD  the driver's build: zorvik.sys, the stand-in HAL, the
#                      probe driver           (default: build/windows-ARCH)
#   ZRV_CLIENT_BUILD   the build of the programs that run on it: zrvctl.exe,
#                      zorvik.dll, the examples (default: ZRV_WINDOWS_BUILD;
#                      build/windows-x86 on the x64 driver runs the 32-bit
#                      programs under WOW64)
#   WINEPREFIX         the testbed prefix, set up on first use and reused
#                      (default: build/wine-prefix, build/wine-prefix-x64)
#   ZRV_WINE_VERSION   the Windows version the prefix reports (winecfg's
#                      names: winxp, win7, ...; default: Wine's)
# Only 127.0.0.1 is used for the board server.

testbed_src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${ZRV_WINDOWS_ARCH:=x86}"
case $ZRV_WINDOWS_ARCH in
  x86) testbed_prefix_name=wine-prefix WINEARCH=win32 ;;
  x64) testbed_prefix_name=wine-prefix-x64 WINEARCH=win64 ;;
  *)
    echo "wine-run: ZRV_WINDOWS_ARCH is x86 or x64, not $ZRV_WINDOWS_ARCH" >&2
    exit 2
    ;;
esac
export ZRV_WINDOWS_ARCH WINEARCH
: "${ZRV_LINUX_BUILD:=$testbed_src/build/default}"
: "${ZRV_WINDOWS_BUILD:=$testbed_src/build/windows-$ZRV_WINDOWS_ARCH}"
: "${ZRV_CLIENT_BUILD:=$ZRV_WINDOWS_BUILD}"
: "${WINEPREFIX:=$testbed_src/build/$testbed_prefix_name}"
: "${ZRV_WINE_VERSION:=}"
export WINEPREFIX ZRV_WINDOWS_BUILD ZRV_CLIENT_BUILD
# Wine's programs (sc, reg, cmd, wineboot) of the prefix's own architecture.
# Debian's "wine" runs the 32-bit ones first, which in a 64-bit prefix see
# the 32-bit views of the registry and of system32 (and sc marks the services
# it creates as WOW64 ones); its 64-bit loader runs the 64-bit ones, and
# hands 32-bit programs on to the 32-bit loader. $testbed_wine_loader is the
# prefix's; testbed_wine32 runs a program in a 32-bit process.
testbed_wine_loader=wine
[ "$ZRV_WINDOWS_ARCH" = x64 ] && testbed_wine_loader=/usr/lib/wine/wine64
# Wine wants a home directory even with its prefix given.
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); fi
export HOME
# The stand-in hal.dll instead of Wine's own; no Mono or Gecko installs.
export WINEDLLOVERRIDES="hal=n;mscoree=;mshtml="
# Errors, and the debugger print. Setting WINEDEBUG at all also keeps
# Debian's wrapper from switching every "fixme" message off and on again.
export WINEDEBUG="-all,err+all,warn+debugstr"
testbed_timeout=${ZRV_TESTBED_TIMEOUT:-120}

testbed_die() {
  echo "wine-run: $*" >&2
  exit 2
}

# "Z:\path\to\file" for a Linux path (Wine maps Z: to /).
testbed_winpath() {
  local p
  p=$(realpath -m -- "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# A Windows program with no input (a run may have no standard input at all);
# one that outlives the testbed's timeout is killed, and said on stderr.
testbed_timed() {
  timeout "$testbed_timeout" "$@" </dev/null
  local rc=$?
  [ $rc -eq 124 ] && echo "wine-run: ${*:2} did not end in $testbed_timeout s" >&2
  return $rc
}
testbed_wine() { testbed_timed "$testbed_wine_loader" "$@"; }
testbed_wine32() { testbed_timed /usr/lib/wine/wine "$@"; }

testbed_check_builds() {
  local f
  testbed_check_32bit
  for f in "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_CLIENT_BUILD/zrvctl.exe" "$ZRV_CLIENT_BUILD/zrvctl-testbed.exe" \
    "$ZRV_WINDOWS_BUILD/testbed/hal.dll" "$ZRV_WINDOWS_BUILD/testbed/zrvsecprobe.sys"; do
    [ -f "$f" ] || testbed_die "$f is missing: cmake --preset windows-$ZRV_WINDOWS_ARCH && cmake --build --preset windows-$ZRV_WINDOWS_ARCH"
  done
  [ -x "$ZRV_LINUX_BUILD/zrvboard" ] || testbed_die "$ZRV_LINUX_BUILD/zrvboard is missing: build the Linux preset"
  command -v "$testbed_wine_loader" >/dev/null ||
    testbed_die "$testbed_wine_loader is not installed (see docs/developers.md: the Wine run)"
}

# The machine of a Windows image: 014c for x86, 8664 for x64 (the PE
# header's Machine field, at the offset the DOS header names).
testbed_pe_machine() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

# A 32-bit prefix, or 32-bit programs in a 64-bit one, need a machine that
# runs 32-bit Linux programs (32-bit Wine): said at once where it does not,
# rather than failing in wineboot or waiting out a 32-bit client.
testbed_check_32bit() {
  local why
  if [ "$ZRV_WINDOWS_ARCH" = x86 ]; then
    why=$("$testbed_src/win/testbed/runs-32bit") || testbed_die "$why; ZRV_WINDOWS_ARCH=x64 runs the 64-bit driver"
  elif [ -f "$ZRV_CLIENT_BUILD/zrvctl-testbed.exe" ] &&
    [ "$(testbed_pe_machine "$ZRV_CLIENT_BUILD/zrvctl-testbed.exe")" = 014c ]; then
    why=$("$testbed_src/win/testbed/runs-32bit") ||
      testbed_die "$why: the 32-bit programs of $ZRV_CLIENT_BUILD need 32-bit Wine; leave ZRV_CLIENT_BUILD unset to run the 64-bit ones"
  fi
  return 0
}

# testbed_boot_prefix MARKER: boots a new prefix, unless the file MARKER in
# it says that was done (then 1).
testbed_boot_prefix() {
  [ -f "$WINEPREFIX/$1" ] && return 1
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "wine-run: setting up the Wine prefix $WINEPREFIX (once)" >&2
  timeout 300 "$testbed_wine_loader" wineboot -i >"$WINEPREFIX/setup.log" 2>&1 ||
    testbed_die "wineboot failed (see $WINEPREFIX/setup.log)"
  timeout 120 wineserver -w
  testbed_set_version
  return 0
}

# Creates the prefix once: boot it, register the two kernel services. Both
# share one driver host (service group), so that the security probe sees
# the control device. Serialised between runs by the caller's lock.
testbed_setup_prefix() {
  testbed_boot_prefix .zorvik-testbed || return 0
  testbed_create_services zorvik zrvsecprobe
  mkdir -p "$WINEPREFIX/drive_c/zorvik-testbed"
  touch "$WINEPREFIX/.zorvik-testbed"
}

# testbed_create_services NAME...: the kernel services of the testbed, each
# started on demand from system32\drivers\NAME.sys, in one service group.
testbed_create_services() {
  local svc
  for svc in "$@"; do
    testbed_wine sc create "$svc" type= kernel start= demand \
      binpath= "\\SystemRoot\\system32\\drivers\\$svc.sys" >>"$WINEPREFIX/setup.log" 2>&1 ||
      testbed_die "cannot create the $svc service (see $WINEPREFIX/setup.log)"
  done
  # Changes made with reg need the server to have stored the services first.
  timeout 120 wineserver -w
  for svc in "$@"; do
    testbed_wine reg add "HKLM\\System\\CurrentControlSet\\Services\\$svc" /v Group /t REG_SZ /d ZorvikTestbed /f \
      >>"$WINEPREFIX/setup.log" 2>&1 || testbed_die "cannot set the service group of $svc"
  done
  timeout 120 wineserver -w
}

# After testbed_start_service zorvik failed: when the prefix has no such
# service any more (sc's error 1060: win/uninstall.cmd, or install.cmd over
# it, run in this prefix deletes or replaces it), says so, creates the
# testbed's service again and starts it; 0 when it runs then.
testbed_repair_service() {
  grep -q 1060 "$testbed_work/sc-zorvik.out" || return 1
  echo "wine-run: the Wine prefix $WINEPREFIX has no zorvik service (uninstall.cmd run in it deletes it;" \
    "win/wine-try-installers runs the installers in a prefix of their own): creating it again" >&2
  # The session's processes keep the service database; the new service
  # needs a new session.
  testbed_end_session
  testbed_create_services zorvik
  testbed_start_session
  testbed_start_service zorvik
}

# testbed_package DIR: the installer package of docs/integrators.md in DIR:
# install.cmd, uninstall.cmd, zorvik.inf, and one folder per architecture
# (x86, x64) with zorvik.sys, zrvctl.exe and zorvik.dll, from its build
# where that is there (ZRV_WINDOWS_X86_BUILD, ZRV_WINDOWS_X64_BUILD; default
# build/windows-ARCH; the driver's own build for the prefix's architecture).
testbed_package() {
  local dist=$1 arch
  local -A build=([x86]=${ZRV_WINDOWS_X86_BUILD:-$testbed_src/build/windows-x86}
    [x64]=${ZRV_WINDOWS_X64_BUILD:-$testbed_src/build/windows-x64})
  build[$ZRV_WINDOWS_ARCH]=$ZRV_WINDOWS_BUILD
  rm -rf "$dist"
  mkdir -p "$dist"
  cp "$testbed_src/win/install.cmd" "$testbed_src/win/uninstall.cmd" "$testbed_src/win/zorvik.inf" "$dist/"
  for arch in x86 x64; do
    [ -f "${build[$arch]}/zorvik.sys" ] || continue
    mkdir -p "$dist/$arch"
    cp "${build[$arch]}/zorvik.sys" "${build[$arch]}/zrvctl.exe" "${build[$arch]}/zorvik.dll" "$dist/$arch/"
  done
}

# testbed_begin_bare PREFIX-SUFFIX WORKDIR: for the installer files, a
# prefix of their own ($WINEPREFIX-SUFFIX, exported as WINEPREFIX) with no
# testbed service in it, only the stand-in HAL: created once, then reused;
# locked for the rest of the shell like the testbed's.
testbed_begin_bare() {
  WINEPREFIX=$WINEPREFIX-$1
  export WINEPREFIX
  testbed_work=$2
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 8>"$WINEPREFIX.lock"
  flock 8
  testbed_boot_prefix ".zorvik-$1" && touch "$WINEPREFIX/.zorvik-$1"
  timeout 60 wineserver -k 2>/dev/null || true
  mkdir -p "$WINEPREFIX/drive_c/zorvik-testbed"
  cp -f "$ZRV_WINDOWS_BUILD/testbed/hal.dll" "$WINEPREFIX/drive_c/windows/system32/hal.dll"
}

# The Windows version the prefix reports, as winecfg sets it.
testbed_set_version() {
  [ -n "$ZRV_WINE_VERSION" ] || return 0
  testbed_wine reg add 'HKCU\Software\Wine' /v Version /d "$ZRV_WINE_VERSION" /f >>"$WINEPREFIX/setup.log" 2>&1 ||
    testbed_die "cannot set the Windows version $ZRV_WINE_VERSION"
  timeout 120 wineserver -w
}

# Puts the current builds into the prefix.
testbed_install() {
  local sys32=$WINEPREFIX/drive_c/windows/system32
  cp -f "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_WINDOWS_BUILD/testbed/zrvsecprobe.sys" "$sys32/drivers/"
  cp -f "$ZRV_WINDOWS_BUILD/testbed/hal.dll" "$sys32/hal.dll"
}

# testbed_begin WORKDIR: takes the prefix's lock for the rest of the shell,
# sets the prefix up and installs the builds.
testbed_begin() {
  testbed_work=$1
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 8>"$WINEPREFIX.lock"
  flock 8
  testbed_setup_prefix
  testbed_install
  # A run that was cut short may have left its session behind.
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
}

# testbed_start_board BOARD.json: starts zrvboard; sets testbed_port and
# testbed_registry (the board's .reg file, or empty).
testbed_start_board() {
  local info=$testbed_work/board.info
  rm -f "$info"
  "$ZRV_LINUX_BUILD/zrvboard" --board "$1" --info "$info" --trace "$testbed_work/trace" \
    --violations "$testbed_work/violations" --idle-exit 300 2>"$testbed_work/zrvboard.err" &
  testbed_board_pid=$!
  local i
  for ((i = 0; i < 200; i++)); do
    [ -f "$info" ] && break
    if ! kill -0 "$testbed_board_pid" 2>/dev/null; then
      cat "$testbed_work/zrvboard.err" | sed 's/^zrvboard: /zrvctl: /' >&2
      testbed_board_pid=
      return 2
    fi
    sleep 0.05
  done
  [ -f "$info" ] || testbed_die "the board server did not start"
  testbed_port=$(sed -n 's/^port //p' "$info")
  testbed_registry=$(sed -n 's/^registry //p' "$info")
  printf 'port %s\n' "$testbed_port" >"$WINEPREFIX/drive_c/zorvik-testbed/board.port"
}

# Asks the board server to write its files and stop.
testbed_stop_board() {
  [ -n "${testbed_board_pid:-}" ] || return 0
  if exec 7<>"/dev/tcp/127.0.0.1/$testbed_port"; then
    printf 'quit\n' >&7
    read -r -t 10 _ <&7 || true
    exec 7>&-
  fi
  wait "$testbed_board_pid" 2>/dev/null || true
  testbed_board_pid=
}

# Starts the session's keep-alive process and waits until it runs.
testbed_start_session() {
  rm -f "$testbed_work/hold"
  mkfifo "$testbed_work/hold"
  timeout "$testbed_timeout" "$testbed_wine_loader" cmd /c "echo ready& set /p _=" <"$testbed_work/hold" \
    >"$testbed_work/hold.out" 2>"$testbed_work/wine.err" &
  testbed_hold_pid=$!
  exec 9>"$testbed_work/hold"
  local i
  for ((i = 0; i < 600; i++)); do
    grep -q ready "$testbed_work/hold.out" 2>/dev/null && return 0
    kill -0 "$testbed_hold_pid" 2>/dev/null || break
    sleep 0.05
  done
  testbed_die "the Wine session did not start (see $testbed_work/wine.err)"
}

# Ends the session: the keep-alive process reads its end of input, and the
# server, the services and the driver host go away.
testbed_end_session() {
  [ -n "${testbed_hold_pid:-}" ] || return 0
  exec 9>&-
  wait "$testbed_hold_pid" 2>/dev/null || true
  testbed_hold_pid=
  timeout 60 wineserver -w 2>/dev/null || true
}

# The board's configuration in the Wine registry, replacing the last run's.
testbed_import_registry() {
  testbed_wine reg delete 'HKLM\Software\Varnel\Zorvik' /f >/dev/null 2>&1 || true
  if [ -n "$testbed_registry" ]; then
    testbed_wine reg import "$(testbed_winpath "$testbed_registry")" >"$testbed_work/reg.out" 2>&1 ||
      testbed_die "reg import of $testbed_registry failed: $(cat "$testbed_work/reg.out")"
  fi
}

# Starts a kernel service; 0 when it runs.
testbed_start_service() {
  testbed_wine sc start "$1" >"$testbed_work/sc-$1.out" 2>&1 &&
    grep -q 'RUNNING' "$testbed_work/sc-$1.out"
}

testbed_stop_service() { testbed_wine sc stop "$1" >/dev/null 2>&1 || true; }

# The debugger output of the session, as the driver printed it: Wine
# writes each DbgPrint as "TID:warn:debugstr:vDbgPrintExWithPrefix
# ID:LEVEL: TEXT", one message a line (the driver's messages end in "\n").
testbed_debug_text() {
  sed -n 's/^[0-9a-f]*:warn:debugstr:vDbgPrintExWithPrefix [0-9a-f]*:[0-9a-f]*: //p' "$testbed_work/wine.err"
}

# Ends whatever is still running; for an EXIT trap.
# The common start of a Wine test: the builds are there, a work folder
# (WORK, removed at exit with the session), the prefix set up and locked.
testbed_open() {
  testbed_check_builds
  work=$(mktemp -d)
  trap 'testbed_cleanup; rm -rf "$work"' EXIT
  testbed_begin "$work"
}
testbed_cleanup() {
  if [ -n "${testbed_board_pid:-}" ]; then kill "$testbed_board_pid" 2>/dev/null || true; fi
  if [ -n "${testbed_hold_pid:-}" ]; then
    exec 9>&- 2>/dev/null || true
    kill "$testbed_hold_pid" 2>/dev/null || true
    timeout 30 wineserver -k 2>/dev/null || true
  fi
}
