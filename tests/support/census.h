// What one request costs in hardware terms: port accesses, hardware-lock
// acquisitions and pool allocations.
#pragma once

#include <cstdint>

#include "sim/machine.h"
#include "tests/support/requests.h"

namespace zrvtest {

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
