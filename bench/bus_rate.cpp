// The simulator's port bus on its own: how many port accesses a second it
// carries on each example board, with the access mix the driver's requests
// make there.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "bench/bench.h"

namespace zrvbench {

LoadedBoard::LoadedBoard(const std::string& path) : machine(std::make_unique<sim::Machine>()) {
    machine->setWaitMode(sim::WaitMode::Virtual);
    sim::loadBoard(*machine, path);
    if (machine->load() != ZRV_STATUS_SUCCESS ||
        machine->open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handle) != ZRV_STATUS_SUCCESS)
        throw std::runtime_error(fmt::format("{}: the driver did not load", path));
}

LoadedBoard::~LoadedBoard() {
    machine->close(handle);
    machine->unload();
}

std::vector<PortSequence> runEveryKind(LoadedBoard& board) {
    std::vector<PortSequence> out;
    for (const auto& kind : zrvtest::requestKinds()) {
        board.machine->bus().clearTrace();
        board.machine->ioctl(board.handle, kind.code, kind.input, kind.outputLength);
        out.push_back(board.machine->bus().trace());
    }
    return out;
}

namespace {

void busRate(benchmark::State& state, const std::string& path) {
    LoadedBoard board(path);
    PortSequence mix;
    for (auto& sequence : runEveryKind(board))
        for (auto& e : sequence)
            if (e.kind != sim::TraceEntry::Wait) mix.push_back(e);
    sim::PortBus& bus = board.machine->bus();
    if (mix.empty()) {
        state.SkipWithError("no port accesses on this board");
        return;
    }
    for (auto _ : state) {
        for (const auto& e : mix) {
            if (e.kind == sim::TraceEntry::In)
                benchmark::DoNotOptimize(bus.read(e.port));
            else
                bus.write(e.port, e.value);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * mix.size()));
}

}  // namespace

void registerBusBenchmarks(const std::vector<zrvtest::ExampleBoard>& boards) {
    for (const auto& b : boards)
        benchmark::RegisterBenchmark(("bus/" + b.name).c_str(), busRate, b.path)
            ->Unit(benchmark::kNanosecond);
}

}  // namespace zrvbench
