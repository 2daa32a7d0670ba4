// The virtual board's clock. Time moves only when a test, a script or the
// driver's one-second wait advances it; devices that count (watchdogs) are
// told by the machine each time it does. It never runs backwards: at
// kEndOfTime (2^64 - 1 ms, some 584 million years) it stops.
#pragma once

#include <cstdint>

namespace sim {

constexpr uint64_t kEndOfTime = ~uint64_t{0};

class VirtualClock {
public:
    uint64_t nowMs() const { return now_; }
    // How far the clock moves for an advance of `ms`: all of it, or up to
    // its end.
    uint64_t reach(uint64_t ms) const { return ms < kEndOfTime - now_ ? ms : kEndOfTime - now_; }
    void advance(uint64_t ms) { now_ += reach(ms); }

private:
    uint64_t now_ = 0;
};

}  // namespace sim
