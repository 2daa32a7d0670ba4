// The clock of an emulated watchdog's count: virtual time cut into the
// chip's count units (a second or a minute). What a unit's end does (lower
// the count, fire at zero, stop) belongs to the chip.
#pragma once

#include <algorithm>
#include <cstdint>

namespace sim {

class WatchdogClock {
public:
    static constexpr uint64_t kSecondMs = 1000;
    static constexpr uint64_t kMinuteMs = 60000;

    // A (re)load or a fresh start begins a whole unit.
    void restartUnit() { elapsedMs_ = 0; }

    // Runs `ms` of virtual time from `fromMs`. unitMs() gives the length of
    // the current unit, 0 while the count does not run; it is asked again
    // after every unit's end, tick(nowMs).
    template <typename Unit, typename Tick>
    void run(uint64_t fromMs, uint64_t ms, Unit unitMs, Tick tick) {
        uint64_t now = fromMs;
        while (ms != 0) {
            const uint64_t unit = unitMs();
            if (unit == 0) return;
            const uint64_t step = std::min(ms, unit - elapsedMs_);
            elapsedMs_ += step;
            now += step;
            ms -= step;
            if (elapsedMs_ < unit) return;
            elapsedMs_ = 0;
            tick(now);
        }
    }

private:
    uint64_t elapsedMs_ = 0;  // into the current unit
};

}  // namespace sim
