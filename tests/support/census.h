// The request kinds that the census test and the benchmark run on every
// example board, and what one request costs in hardware terms: port
// accesses, hardware-lock acquisitions and pool allocations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace zrvtest {

// One request code with a well-formed record. The list runs in this order
// on one loaded board: the watchdog is given its timeout before it starts.
struct RequestKind {
    const char* name;  // the code's name, "IOCTL_HWM_GET_DATA"
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outputLength;
};
const std::vector<RequestKind>& requestKinds();

// The example boards (boards/*.json under `sourceDir`), sorted by name.
struct ExampleBoard {
    std::string name;  // file name without ".json"
    std::string path;
};
std::vector<ExampleBoard> exampleBoards(const std::string& sourceDir);

struct RequestCost {
    ZrvStatus status = 0;
    uint64_t ports = 0;        // port reads and writes
    uint64_t locks = 0;        // hardware-lock acquisitions
    uint64_t releases = 0;     // hardware-lock releases
    uint64_t allocations = 0;  // pool allocations
};
// Sends one request of `kind` on an open handle and counts what it cost.
RequestCost measureRequest(sim::Machine& machine, int handle, const RequestKind& kind);

}  // namespace zrvtest
