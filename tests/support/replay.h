// Replaying a driver's port trace on a board: every write written again,
// every read read again (and what it reads now set against what it read
// then), every wait waited in virtual time. Leaving one access out of the
// replay shows what the hardware makes of a driver that skips it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/bus.h"
#include "sim/machine.h"

namespace sim {

struct ReplayResult {
    size_t reads = 0;
    std::vector<size_t> changedReads;  // trace positions of reads that read otherwise now
};

// A stretch of a trace: `count` entries from `first`.
struct TraceSpan {
    size_t first = 0;
    size_t count = 0;
};

// Replays `trace` on the machine's bus, without the entries of `skip`.
ReplayResult replayTrace(Machine& machine, const std::vector<TraceEntry>& trace, TraceSpan skip = {});

// Where `trace` writes register `reg` for the `occurrence`-th time (from 1):
// the index write of `reg` to `indexPort` and the data-port write after it,
// or with `indexPort` 0 the `occurrence`-th write at `dataPort` + `reg`, a
// register of a block reached directly. Nothing when there is no such write.
std::optional<TraceSpan> findRegisterWrite(const std::vector<TraceEntry>& trace, uint16_t indexPort,
                                           uint16_t dataPort, uint8_t reg, int occurrence = 1);

}  // namespace sim
