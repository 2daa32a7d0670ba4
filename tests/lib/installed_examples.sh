#!/usr/bin/env bash
# The library as a management-software developer gets it: cmake --install
# into a fresh prefix, the examples built against that prefix once with
# find_package(zorvik) and once with pkg-config, then run on the default
# virtual board (named by ZORVIK_BOARD, and found by the library itself);
# their output must be the expected files. The installed zrvctl runs on the
# installed default board, and the alert rules are installed.
#
#   installed_examples.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name libzorvik.so.1 | head -1)")
[ -f "$work/prefix/include/zorvik/zorvik.h" ] || { echo "zorvik.h not installed"; exit 1; }

cmake -S "$src/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
export PKG_CONFIG_PATH=$libdir/pkgconfig
for example in wdt_keepalive dio_lines; do
  cc -std=c89 -pedantic -Werror -o "$work/pc_$example" "$src/examples/$example.c" $(pkg-config --cflags --libs zorvik)
done

boards=$(realpath "$(pkg-config --variable=boards zorvik)")
status=0
check() {  # expected-file command...
  local expected=$1
  shift
  # As a developer runs them: the library found by the run path the
  # package gave them, not by LD_LIBRARY_PATH.
  if ! env -u LD_LIBRARY_PATH "$@" >"$work/out" 2>&1 || ! diff -u "$expected" "$work/out"; then
    echo "FAILED: $*"; status=1
  fi
}
profile=$boards/default.profile.json
# The board named, and the board the library finds installed beside it.
named=(env ZORVIK_BOARD="$boards/default.json")
found=(env -u ZORVIK_BOARD)
check "$src/tests/lib/expected/wdt_keepalive.out" "${named[@]}" "$work/cmake/wdt_keepalive" "$profile" 2 0
check "$src/tests/lib/expected/wdt_keepalive.out" "${found[@]}" "$work/pc_wdt_keepalive" "$profile" 2 0
check "$src/tests/lib/expected/dio_lines.out" "${named[@]}" "$work/cmake/dio_lines"
check "$src/tests/lib/expected/dio_lines.out" "${found[@]}" "$work/pc_dio_lines"
# Python, with the library named and the board found.
out=$(env -u ZORVIK_BOARD ZORVIK_LIBRARY="$libdir/libzorvik.so.1" PYTHONPATH="$src/bindings/python" \
  python3 "$src/examples/keepalive.py" "$profile" 1 0 2>&1) || true
grep -qx '  Vcore             1.12 V  min 0.80  max 1.40' <<<"$out" || { echo "FAILED: keepalive.py: $out"; status=1; }

# zrvctl as installed: its library by its run path, the installed board.
if ! env -u LD_LIBRARY_PATH "${found[@]}" "$work/prefix/bin/zrvctl" config >"$work/config" 2>&1 ||
  [ "$(head -1 "$work/config")" != "configuration: $boards/default.reg" ]; then
  echo "FAILED: the installed zrvctl config:"; cat "$work/config"; status=1
fi
check "$src/monitoring/zorvik-alerts.yml" cat "$work/prefix/share/zorvik/monitoring/zorvik-alerts.yml"
check "$src/monitoring/zorvik-alerts.test.yml" cat "$work/prefix/share/zorvik/monitoring/zorvik-alerts.test.yml"
exit $status
