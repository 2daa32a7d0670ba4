#!/usr/bin/env bash
# The library as a management-software developer gets it: cmake --install
# into a fresh prefix, the examples built against that prefix once with
# find_package(zorvik) and once with pkg-config, then run on the default
# virtual board; their output must be the expected files.
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
  cc -std=c89 -pedantic -Werror -o "$work/${example}_pc" "$src/examples/$example.c" $(pkg-config --cflags --libs zorvik)
done

export ZORVIK_BOARD=$(pkg-config --variable=boards zorvik)/default.json
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
profile=$(dirname "$ZORVIK_BOARD")/default.profile.json
for exe in "$work/cmake/wdt_keepalive" "$work/wdt_keepalive_pc"; do
  check "$src/tests/lib/expected/wdt_keepalive.out" "$exe" "$profile" 2 0
done
for exe in "$work/cmake/dio_lines" "$work/dio_lines_pc"; do
  check "$src/tests/lib/expected/dio_lines.out" "$exe"
done
exit $status
