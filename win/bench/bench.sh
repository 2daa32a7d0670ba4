# The Wine test bench, sourced by win/wine-run and the Wine suite's scripts.
#
# One run: a board server (zrvboard, Linux) serves the emulated board; a
# 32-bit Wine prefix has zorvik.sys installed as the kernel service
# "zorvik" and the bench's stand-in hal.dll, which sends every port access
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
#   ZRV_LINUX_BUILD    Linux build with zrvboard     (default: build/default)
#   ZRV_WINDOWS_BUILD  windows-x86 build             (default: build/windows-x86)
#   WINEPREFIX         the bench prefix, set up on first use and reused
#                      (default: build/wine-prefix)
# Only 127.0.0.1 is used for the board server.

bench_src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
: "${ZRV_LINUX_BUILD:=$bench_src/build/default}"
: "${ZRV_WINDOWS_BUILD:=$bench_src/build/windows-x86}"
: "${WINEPREFIX:=$bench_src/build/wine-prefix}"
export WINEPREFIX
export WINEARCH=win32
# Wine wants a home directory even with its prefix given.
if [ -z "${HOME:-}" ]; then HOME=$(getent passwd "$(id -u)" | cut -d: -f6); fi
export HOME
# The stand-in hal.dll instead of Wine's own; no Mono or Gecko installs.
export WINEDLLOVERRIDES="hal=n;mscoree=;mshtml="
# Errors, and the debugger print. Setting WINEDEBUG at all also keeps
# Debian's wrapper from switching every "fixme" message off and on again.
export WINEDEBUG="-all,err+all,warn+debugstr"
bench_timeout=${ZRV_BENCH_TIMEOUT:-120}

bench_die() {
  echo "wine-run: $*" >&2
  exit 2
}

# "Z:\path\to\file" for a Linux path (Wine maps Z: to /).
bench_winpath() {
  local p
  p=$(realpath -m -- "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# A Windows program with no input (a run may have no standard input at all).
bench_wine() { timeout "$bench_timeout" wine "$@" </dev/null; }

bench_check_builds() {
  local f
  for f in "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_WINDOWS_BUILD/zrvctl.exe" \
    "$ZRV_WINDOWS_BUILD/bench/hal.dll" "$ZRV_WINDOWS_BUILD/bench/zrvsecprobe.sys"; do
    [ -f "$f" ] || bench_die "$f is missing: cmake --preset windows-x86 && cmake --build --preset windows-x86"
  done
  [ -x "$ZRV_LINUX_BUILD/zrvboard" ] || bench_die "$ZRV_LINUX_BUILD/zrvboard is missing: build the Linux preset"
  command -v wine >/dev/null || bench_die "wine is not installed (see docs/developers.md: the Wine run)"
}

# Creates the prefix once: boot it, register the two kernel services. Both
# share one driver host (service group), so that the security probe sees
# the control device. Serialised between runs by the caller's lock.
bench_setup_prefix() {
  [ -f "$WINEPREFIX/.zorvik-bench" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "wine-run: setting up the Wine prefix $WINEPREFIX (once)" >&2
  timeout 300 wineboot -i >"$WINEPREFIX/setup.log" 2>&1 || bench_die "wineboot failed (see $WINEPREFIX/setup.log)"
  timeout 120 wineserver -w
  local svc
  for svc in zorvik zrvsecprobe; do
    bench_wine sc create "$svc" type= kernel start= demand \
      binpath= "\\SystemRoot\\system32\\drivers\\$svc.sys" >>"$WINEPREFIX/setup.log" 2>&1 ||
      bench_die "cannot create the $svc service (see $WINEPREFIX/setup.log)"
  done
  # Changes made with reg need the server to have stored the services first.
  timeout 120 wineserver -w
  for svc in zorvik zrvsecprobe; do
    bench_wine reg add "HKLM\\System\\CurrentControlSet\\Services\\$svc" /v Group /t REG_SZ /d ZorvikBench /f \
      >>"$WINEPREFIX/setup.log" 2>&1 || bench_die "cannot set the service group of $svc"
  done
  timeout 120 wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/zorvik-bench"
  touch "$WINEPREFIX/.zorvik-bench"
}

# Puts the current builds into the prefix.
bench_install() {
  local sys32=$WINEPREFIX/drive_c/windows/system32
  cp -f "$ZRV_WINDOWS_BUILD/zorvik.sys" "$ZRV_WINDOWS_BUILD/bench/zrvsecprobe.sys" "$sys32/drivers/"
  cp -f "$ZRV_WINDOWS_BUILD/bench/hal.dll" "$sys32/hal.dll"
}

# bench_begin WORKDIR: takes the prefix's lock for the rest of the shell,
# sets the prefix up and installs the builds.
bench_begin() {
  bench_work=$1
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 8>"$WINEPREFIX.lock"
  flock 8
  bench_setup_prefix
  bench_install
  # A run that was cut short may have left its session behind.
  timeout 60 wineserver -k 2>/dev/null || true
  timeout 60 wineserver -w 2>/dev/null || true
}

# bench_start_board BOARD.json: starts zrvboard; sets bench_port and
# bench_registry (the board's .reg file, or empty).
bench_start_board() {
  local info=$bench_work/board.info
  rm -f "$info"
  "$ZRV_LINUX_BUILD/zrvboard" --board "$1" --info "$info" --trace "$bench_work/trace" \
    --violations "$bench_work/violations" --idle-exit 300 2>"$bench_work/zrvboard.err" &
  bench_board_pid=$!
  local i
  for ((i = 0; i < 200; i++)); do
    [ -f "$info" ] && break
    if ! kill -0 "$bench_board_pid" 2>/dev/null; then
      cat "$bench_work/zrvboard.err" | sed 's/^zrvboard: /zrvctl: /' >&2
      bench_board_pid=
      return 2
    fi
    sleep 0.05
  done
  [ -f "$info" ] || bench_die "the board server did not start"
  bench_port=$(sed -n 's/^port //p' "$info")
  bench_registry=$(sed -n 's/^registry //p' "$info")
  printf 'port %s\n' "$bench_port" >"$WINEPREFIX/drive_c/zorvik-bench/board.port"
}

# Asks the board server to write its files and stop.
bench_stop_board() {
  [ -n "${bench_board_pid:-}" ] || return 0
  if exec 7<>"/dev/tcp/127.0.0.1/$bench_port"; then
    printf 'quit\n' >&7
    read -r -t 10 _ <&7 || true
    exec 7>&-
  fi
  wait "$bench_board_pid" 2>/dev/null || true
  bench_board_pid=
}

# Starts the session's keep-alive process and waits until it runs.
bench_start_session() {
  rm -f "$bench_work/hold"
  mkfifo "$bench_work/hold"
  timeout "$bench_timeout" wine cmd /c "echo ready& set /p _=" <"$bench_work/hold" \
    >"$bench_work/hold.out" 2>"$bench_work/wine.err" &
  bench_hold_pid=$!
  exec 9>"$bench_work/hold"
  local i
  for ((i = 0; i < 600; i++)); do
    grep -q ready "$bench_work/hold.out" 2>/dev/null && return 0
    kill -0 "$bench_hold_pid" 2>/dev/null || break
    sleep 0.05
  done
  bench_die "the Wine session did not start (see $bench_work/wine.err)"
}

# Ends the session: the keep-alive process reads its end of input, and the
# server, the services and the driver host go away.
bench_end_session() {
  [ -n "${bench_hold_pid:-}" ] || return 0
  exec 9>&-
  wait "$bench_hold_pid" 2>/dev/null || true
  bench_hold_pid=
  timeout 60 wineserver -w 2>/dev/null || true
}

# The board's configuration in the Wine registry, replacing the last run's.
bench_import_registry() {
  bench_wine reg delete 'HKLM\Software\Varnel\Zorvik' /f >/dev/null 2>&1 || true
  if [ -n "$bench_registry" ]; then
    bench_wine reg import "$(bench_winpath "$bench_registry")" >"$bench_work/reg.out" 2>&1 ||
      bench_die "reg import of $bench_registry failed: $(cat "$bench_work/reg.out")"
  fi
}

# Starts a kernel service; 0 when it runs.
bench_start_service() {
  bench_wine sc start "$1" >"$bench_work/sc-$1.out" 2>&1 &&
    grep -q 'RUNNING' "$bench_work/sc-$1.out"
}

bench_stop_service() { bench_wine sc stop "$1" >/dev/null 2>&1 || true; }

# The debugger output of the session, as the driver printed it: Wine
# writes each DbgPrint as "TID:warn:debugstr:vDbgPrintExWithPrefix
# ID:LEVEL: TEXT", one message a line (the driver's messages end in "\n").
bench_debug_text() {
  sed -n 's/^[0-9a-f]*:warn:debugstr:vDbgPrintExWithPrefix [0-9a-f]*:[0-9a-f]*: //p' "$bench_work/wine.err"
}

# Ends whatever is still running; for an EXIT trap.
bench_cleanup() {
  if [ -n "${bench_board_pid:-}" ]; then kill "$bench_board_pid" 2>/dev/null || true; fi
  if [ -n "${bench_hold_pid:-}" ]; then
    exec 9>&- 2>/dev/null || true
    kill "$bench_hold_pid" 2>/dev/null || true
    timeout 30 wineserver -k 2>/dev/null || true
  fi
}
