// A long run on the virtual board, for its memory profile: requests through
// the driver (every request kind in turn), or port accesses through the
// board server's request handler as the Wine bench sends them. Prints the
// resident set size and its peak at ten checkpoints; a flat profile has the
// same peak at the first checkpoint as at the last.
//
//   zorvik_soak [driver|server] [REQUESTS] [BOARD.json]
#include <fmt/format.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "sim/board.h"
#include "sim/machine.h"
#include "sim/server/board_server.h"
#include "tests/support/requests.h"

namespace {

// "VmRSS" or "VmHWM" of this process, in KiB.
long statusKib(const std::string& field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    return -1;
}

void checkpoint(uint64_t done) {
    std::cout << fmt::format("{:>9} requests  rss {:>7} KiB  peak {:>7} KiB\n", done, statusKib("VmRSS"),
                             statusKib("VmHWM"))
              << std::flush;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "driver";
    const uint64_t total = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    const std::string boardFile = argc > 3 ? argv[3] : ZRV_SOURCE_DIR "/boards/default.json";
    if ((mode != "driver" && mode != "server") || total < 10) {
        std::cerr << "usage: zorvik_soak [driver|server] [REQUESTS >= 10] [BOARD.json]\n";
        return 2;
    }
    sim::Machine machine;
    machine.setWaitMode(sim::WaitMode::Virtual);
    sim::loadBoard(machine, boardFile);
    std::cout << fmt::format("{} run of {} requests on {}\n", mode, total, boardFile);
    const uint64_t step = total / 10;

    if (mode == "server") {
        // The monitor block of the bundled board's chip: an index write and
        // a data read, as a polling client on the Wine bench makes them.
        sim::BoardServer server(machine);
        for (uint64_t i = 1; i <= total; ++i) {
            if (server.handle(i % 2 != 0 ? "out 0xa05 0x20" : "in 0xa06").rfind("ok", 0) != 0) return 1;
            if (i % step == 0) checkpoint(i);
        }
        return 0;
    }

    if (machine.load() != ZRV_STATUS_SUCCESS) return 1;
    const auto& kinds = zrvtest::requestKinds();
    for (uint64_t i = 1; i <= total; ++i) {
        const auto& kind = kinds[i % kinds.size()];
        int handle = 0;
        if (machine.open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handle) != ZRV_STATUS_SUCCESS)
            return 1;
        machine.ioctl(handle, kind.code, kind.input, kind.outputLength);
        machine.close(handle);
        if (i % step == 0) checkpoint(i);
    }
    machine.unload();
    return 0;
}
