// The virtual board's clock. Time moves only when a test, a script or the
// driver's one-second wait advances it; devices that count (watchdogs) are
// told by the machine each time it does.
#pragma once

#include <cstdint>

namespace sim {

class VirtualClock {
public:
    uint64_t nowMs() const { return now_; }
    void advance(uint64_t ms) { now_ += ms; }

private:
    uint64_t now_ = 0;
};

}  // namespace sim
