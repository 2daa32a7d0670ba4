// zorvik_bus_bench: the bus rate alone. It uses nothing of the simulator
// but what older trees have too, so bench/against.sh can build it on an
// earlier commit and measure both side by side.
#include <benchmark/benchmark.h>

#include "bench/bench.h"

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    zrvbench::registerBusBenchmarks(zrvtest::exampleBoards(ZRV_SOURCE_DIR));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
