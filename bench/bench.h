// Pieces shared by the benchmark programs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/machine.h"
#include "tests/support/requests.h"

namespace zrvbench {

// An example board with the driver loaded and one read/write handle open.
// The one-second wait moves virtual time instead of sleeping.
struct LoadedBoard {
    explicit LoadedBoard(const std::string& path);
    ~LoadedBoard();
    std::unique_ptr<sim::Machine> machine;
    int handle = 0;
};

// Port accesses (and waits) of one request as the bus traced them.
using PortSequence = std::vector<sim::TraceEntry>;

// Runs every request kind once, in order, and returns what each did on the
// bus; the board is left in the state the census and the benchmarks start
// from.
std::vector<PortSequence> runEveryKind(LoadedBoard& board);

// The simulator's bus: replays every recorded access of each example board.
void registerBusBenchmarks(const std::vector<zrvtest::ExampleBoard>& boards);

}  // namespace zrvbench
