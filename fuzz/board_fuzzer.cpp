// The board file loader on any text, in the example boards' directory so
// that their registry exports can be named. It builds the board or refuses
// the file with a BoardError that leaves the machine empty; a board it
// builds loads and unloads the driver within the I/O manager's rules.
#include <cstdio>
#include <cstdlib>

#include "sim/board.h"

namespace {

void fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::Machine machine;
    machine.setWaitMode(sim::WaitMode::Virtual);
    try {
        sim::loadBoardText(machine, std::string(reinterpret_cast<const char*>(data), size),
                           ZRV_SOURCE_DIR "/boards/fuzz.json");
    } catch (const sim::BoardError&) {
        if (!machine.registry().keys().empty() || !machine.bus().devices().empty())
            fail("a refused board file left something in the machine");
        return 0;
    }
    // Hardware from a random file need not match its registry, so only the
    // driver's own rules are checked, not the devices'.
    if (machine.load() == ZRV_STATUS_SUCCESS) machine.unload();
    for (const auto& v : machine.ioViolations()) fail("platform rule broken: " + v);
    if (machine.outstandingAllocations() != 0) fail("pool blocks left after unload");
    return 0;
}
