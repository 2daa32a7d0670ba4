#!/usr/bin/env bash
# Builds the bus-rate benchmark and the soak run on another commit's
# simulator (default: main), beside this tree's, and runs both, so the
# numbers compare like with like.
#
#   bench/against.sh [REF] [BENCHMARK ARGS...]
# The other tree's programs land in build/bench-REF; this tree's are built
# with the bench preset first.
set -euo pipefail
cd "$(dirname "$0")/.."
ref=${1:-main}
shift || true
here=$PWD
other=$here/build/bench-$ref
src=$other/src
rm -rf "$src" && mkdir -p "$src"
git archive "$ref" | tar -x -C "$src"
# This tree's benchmark sources on the other tree's simulator.
mkdir -p "$src/bench" "$src/tests/support"
cp bench/CMakeLists.txt bench/bench.h bench/bus_rate.cpp bench/bus_main.cpp bench/soak.cpp "$src/bench/"
cp tests/support/requests.h tests/support/requests.cpp "$src/tests/support/"
grep -q ZRV_BUILD_BENCH "$src/CMakeLists.txt" || printf '\nadd_subdirectory(bench)\n' >>"$src/CMakeLists.txt"
cmake -S "$src" -B "$other" -DCMAKE_BUILD_TYPE=Release -DZRV_BUILD_TESTS=OFF -DZRV_BUILD_BENCH=ON \
  -DZRV_BENCH_BUS_ONLY=ON >/dev/null
cmake --build "$other" -j2 --target zorvik_bus_bench zorvik_soak >/dev/null
cmake --preset bench >/dev/null && cmake --build --preset bench --target zorvik_bus_bench zorvik_soak >/dev/null
for run in 1 2 3; do
  echo "== $ref, run $run" && "$other/bench/zorvik_bus_bench" "$@"
  echo "== this tree, run $run" && build/bench/bench/zorvik_bus_bench "$@"
done
