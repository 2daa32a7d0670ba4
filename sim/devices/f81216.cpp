#include "sim/devices/f81216.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"

namespace sim {

namespace {

// Keys a board strap can give the chip; 0xAA closes the mode for all.
constexpr uint8_t kEntryKeys[] = {0x77, 0xA0, 0x87, 0x67};

bool isEntryKey(int value) {
    return std::find(std::begin(kEntryKeys), std::end(kEntryKeys), value) != std::end(kEntryKeys);
}

// Configuration registers.
constexpr uint8_t kRegIdHigh = 0x20;
constexpr uint8_t kRegIdLow = 0x21;
constexpr uint8_t kRegActivate = 0x30;

// Watchdog of device 8.
constexpr int kDeviceWdt = 8;
constexpr uint8_t kWdtMode = 0xF0;
constexpr uint8_t kWdtCount = 0xF1;
constexpr uint8_t kWdtSeconds = 0x02;
constexpr uint8_t kWdtMinutes = 0x04;
constexpr uint8_t kWdtSetup = 0x70;  // written 0x00 before the watchdog is used

// The chip's key twice to open, 0xAA to close.
SioKeys keysFor(uint8_t entryKey) {
    return SioKeys{{entryKey, entryKey}, 2, false, "configuration mode opened again inside an open bracket"};
}

}  // namespace

F81216::F81216(uint16_t configPort, uint16_t chipId, uint8_t entryKey)
    : SuperIo("f81216", configPort, keysFor(entryKey), {kRegIdHigh, kRegIdLow}, chipId),
      entryKey_(entryKey) {}

// ---- Bus side ------------------------------------------------------------------

void F81216::deviceWrite(int device, uint8_t r, uint8_t value) {
    const bool wdt = device == kDeviceWdt;
    const bool wasRunning = watchdogRunning();
    // A reload or a change of unit starts the unit afresh.
    if (wdt && (r == kWdtCount || r == kWdtMode)) clock_.restartUnit();
    file(device)[r] = value;
    // What 0x70 does is not known; the chip's programming sequence clears
    // it before the watchdog runs, and so must a driver.
    if (!wasRunning && watchdogRunning() && !setupCleared_)
        violation("watchdog countdown started before register 0x70 of device 8 was written with 0x00");
    if (wdt && r == kWdtSetup && value == 0x00) setupCleared_ = true;
}

bool F81216::watchdogRunning() const {
    const RegFile& f = file(kDeviceWdt);
    return (f[kRegActivate] & 1) != 0 && f[kWdtCount] != 0;
}

// The mode register clocks the count: bit 2 by minutes, else bit 1 by
// seconds; with neither set (its power-on state) the count does not fall.
uint64_t F81216::unitMs() const {
    const uint8_t mode = file(kDeviceWdt)[kWdtMode];
    if ((mode & kWdtMinutes) != 0) return 60000;
    return (mode & kWdtSeconds) != 0 ? 1000 : 0;
}

void F81216::advanceLocked(uint64_t fromMs, uint64_t ms) {
    clock_.run(
        fromMs, ms, [&] { return watchdogRunning() ? unitMs() : 0; },
        [&](uint64_t now) {
            if (--file(kDeviceWdt)[kWdtCount] == 0) boardReset(now);
        });
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "f81216", "config_port": "0x4e", "id": "0x0216", "entry_key": "0x87",
//    "config": {"8": {"0x30": "0x01"}}}

std::unique_ptr<Device> F81216::fromBoard(const nlohmann::json& entry, const std::string& where) {
    const uint32_t key =
        entry.contains("entry_key") ? boardNumber(entry["entry_key"], where + ": entry_key", 0xFF) : 0x77;
    if (!isEntryKey(static_cast<int>(key)))
        throw BoardError(fmt::format("{}: entry_key is 0x77, 0xa0, 0x87 or 0x67, not {:#x}", where, key));
    auto chip = std::make_unique<F81216>(superIoPort(entry, where), superIoId(entry, where, 0x0216),
                                         static_cast<uint8_t>(key));
    applySuperIoPresets(*chip, entry, where);
    return chip;
}

}  // namespace sim
