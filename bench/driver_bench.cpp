// The driver's own cost per request, next to the port accesses it makes.
//
// For every request kind on every example board, three timings on the same
// emulated board: the request through the driver's dispatch with the
// debugger prints, the same without them, and a bare replay of the port
// sequence the request made (recorded once). The difference is the driver's
// software cost; on a real board each port access costs about 1 us on the
// LPC bus, so it is also given as a share of port count x 1 us. Then the
// simulator's bus rate and the cost of a hardware lock, uncontended and
// under two threads.
//
// Run with repetitions and random interleaving; the medians of the CPU time
// go into the table printed at the end (markdown, see
// docs/performance.md):
//   zorvik_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstring>
#include <iostream>
#include <map>

#include "bench/bench.h"
#include "driver/platform/platform.h"
#include "tests/support/census.h"

namespace zrvbench {
namespace {

// What the census measured, by board name and kind.
std::map<std::string, std::vector<zrvtest::RequestCost>> censusOf;

// Runs one request of `kind` through the driver's dispatch only, the way
// the I/O manager hands it over: the input in a buffer of the larger length.
class DirectRequest {
public:
    DirectRequest(sim::Machine& m, int handle, const zrvtest::RequestKind& kind)
        : kind_(kind),
          dispatch_(m.dispatchRoutine()),
          device_(m.handleDevice(handle)),
          buffer_(std::max<size_t>({kind.input.size(), kind.outputLength, 1})) {}
    ZrvStatus send() {
        if (!kind_.input.empty()) std::memcpy(buffer_.data(), kind_.input.data(), kind_.input.size());
        ZrvRequest r{};
        r.Major = ZRV_IRP_MJ_DEVICE_CONTROL;
        r.Code = kind_.code;
        r.InputLength = static_cast<uint32_t>(kind_.input.size());
        r.OutputLength = kind_.outputLength;
        r.Buffer = kind_.input.empty() && kind_.outputLength == 0 ? nullptr : buffer_.data();
        bool completed = false;
        r.PlatformRequest = &completed;
        return dispatch_(device_, &r);
    }

private:
    const zrvtest::RequestKind& kind_;
    ZrvDispatchRoutine dispatch_;
    PlatDevice* device_;
    std::vector<uint8_t> buffer_;
};

void throughDriver(benchmark::State& state, const std::string& path, size_t index, bool prints) {
    LoadedBoard board(path);
    runEveryKind(board);
    sim::Machine& m = *board.machine;
    m.setDebugPrints(prints);
    DirectRequest request(m, board.handle, zrvtest::requestKinds()[index]);
    const uint64_t ports = m.bus().accessCount();
    const uint32_t allocations = m.allocationCount();
    for (auto _ : state) benchmark::DoNotOptimize(request.send());
    const double n = static_cast<double>(state.iterations());
    state.counters["ports"] = static_cast<double>(m.bus().accessCount() - ports) / n;
    state.counters["allocs"] = static_cast<double>(m.allocationCount() - allocations) / n;
}

void replay(benchmark::State& state, const std::string& path, size_t index) {
    LoadedBoard board(path);
    const PortSequence sequence = runEveryKind(board)[index];
    sim::Machine& m = *board.machine;
    sim::PortBus& bus = m.bus();
    for (auto _ : state) {
        for (const auto& e : sequence) {
            switch (e.kind) {
                case sim::TraceEntry::In: benchmark::DoNotOptimize(bus.read(e.port)); break;
                case sim::TraceEntry::Out: bus.write(e.port, e.value); break;
                case sim::TraceEntry::Wait: m.waitOneSecond(); break;
            }
        }
    }
}

PlatLock benchLock;  // initialised in main, before any thread uses it

void lockCycle(benchmark::State& state) {
    for (auto _ : state) {
        PlatLockAcquire(&benchLock);
        PlatLockRelease(&benchLock);
    }
}

// Collects the medians (or the single runs without repetitions) by name.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            Result& r = results[run.run_name.str()];
            if (run.run_type == Run::RT_Iteration && r.fromMedian) continue;
            // CPU time, which other load on the machine disturbs least; wall
            // time where several threads share the work.
            r.ns = run.threads > 1 ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            r.fromMedian = median;
            if (auto it = run.counters.find("items_per_second"); it != run.counters.end())
                r.rate = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct Result {
        double ns = 0;
        double rate = 0;
        bool fromMedian = false;
    };
    std::map<std::string, Result> results;
};

std::string statusText(ZrvStatus s) {
    switch (static_cast<uint32_t>(s)) {
        case 0: return "ok";
        case 0xC00000BBu: return "not supported";
        case 0xC000000Du: return "invalid parameter";
        case 0xC0000001u: return "unsuccessful";
    }
    return fmt::format("0x{:08x}", static_cast<uint32_t>(s));
}

std::string share(double overheadNs, uint64_t ports) {
    if (ports == 0) return "-";
    return fmt::format("{:.2f} %", overheadNs / (static_cast<double>(ports) * 1000.0) * 100.0);
}

void printTable(const std::vector<zrvtest::ExampleBoard>& boards, TableReporter& r) {
    auto has = [&](const std::string& name) { return r.results.count(name) != 0; };
    auto ns = [&](const std::string& name) { return has(name) ? r.results[name].ns : 0.0; };
    std::cout << "\n## Driver overhead per request (median CPU ns)\n";
    for (const auto& b : boards) {
        std::cout << fmt::format(
            "\n### {}\n\n| request | status | ports | locks | allocs | replay ns | driver ns | overhead ns | "
            "of ports x 1 us | driver ns, no prints | overhead ns, no prints | of ports x 1 us, no prints |\n"
            "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n",
            b.name);
        const auto& kinds = zrvtest::requestKinds();
        for (size_t i = 0; i < kinds.size(); ++i) {
            const zrvtest::RequestCost& c = censusOf[b.name][i];
            const std::string base = "request/" + b.name + "/" + kinds[i].name;
            if (!has(base + "/replay") || !has(base + "/driver") || !has(base + "/driver-noprints")) continue;
            const double bare = ns(base + "/replay");
            const double with = ns(base + "/driver");
            const double without = ns(base + "/driver-noprints");
            std::cout << fmt::format(
                "| {} | {} | {} | {} | {} | {:.1f} | {:.1f} | {:.1f} | {} | {:.1f} | {:.1f} | {} |\n",
                kinds[i].name, statusText(c.status), c.ports, c.locks, c.allocations, bare, with, with - bare,
                share(with - bare, c.ports), without, without - bare, share(without - bare, c.ports));
        }
    }
    std::cout << "\n## Simulator bus (median)\n\n| board | port accesses per second |\n|---|---:|\n";
    for (const auto& b : boards)
        if (r.results.count("bus/" + b.name))
            std::cout << fmt::format("| {} | {:.1f} M |\n", b.name, r.results["bus/" + b.name].rate / 1e6);
    std::cout << "\n## Hardware lock, acquire + release (median ns; wall time with two threads)\n\n| case | ns |\n|---|---:|\n";
    for (const auto& [name, result] : r.results)
        if (name.rfind("lock/", 0) == 0) std::cout << fmt::format("| {} | {:.1f} |\n", name, result.ns);
}

}  // namespace
}  // namespace zrvbench

int main(int argc, char** argv) {
    using namespace zrvbench;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const auto boards = zrvtest::exampleBoards(ZRV_SOURCE_DIR);
    for (const auto& b : boards) {
        {
            // The census of each board, for the table's count columns.
            LoadedBoard board(b.path);
            for (const auto& kind : zrvtest::requestKinds())
                censusOf[b.name].push_back(zrvtest::measureRequest(*board.machine, board.handle, kind));
        }
        const auto& kinds = zrvtest::requestKinds();
        for (size_t i = 0; i < kinds.size(); ++i) {
            const std::string base = "request/" + b.name + "/" + kinds[i].name;
            benchmark::RegisterBenchmark((base + "/replay").c_str(), replay, b.path, i)
                ->Unit(benchmark::kNanosecond);
            benchmark::RegisterBenchmark((base + "/driver").c_str(), throughDriver, b.path, i, true)
                ->Unit(benchmark::kNanosecond);
            benchmark::RegisterBenchmark((base + "/driver-noprints").c_str(), throughDriver, b.path, i, false)
                ->Unit(benchmark::kNanosecond);
        }
    }
    registerBusBenchmarks(boards);
    PlatLockInit(&benchLock);
    benchmark::RegisterBenchmark("lock/uncontended", lockCycle)->Unit(benchmark::kNanosecond);
    benchmark::RegisterBenchmark("lock/two-threads", lockCycle)
        ->Threads(2)
        ->UseRealTime()
        ->Unit(benchmark::kNanosecond);

    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printTable(boards, reporter);
    return 0;
}
