#include "sim/devices/f81865.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"

namespace sim {

namespace {

// Configuration mode: 0x87 twice to open, 0xAA to close.
constexpr SioKeys kKeys{{0x87, 0x87}, 2, false, "configuration mode opened again inside an open bracket"};

// Configuration registers.
constexpr uint8_t kRegIdHigh = 0x20;
constexpr uint8_t kRegIdLow = 0x21;
constexpr uint8_t kRegActivate = 0x30;

constexpr int kDeviceHwm = 4;
constexpr int kDeviceGpio = 6;
constexpr int kDeviceWdt = 7;

// Watchdog registers of device 7.
constexpr uint8_t kWdtControl = 0xF5;
constexpr uint8_t kWdtCount = 0xF6;
constexpr uint8_t kWdtOutput = 0xFA;
constexpr uint8_t kWdtMinutes = 0x08;
constexpr uint8_t kWdtEnable = 0x20;
constexpr uint8_t kWdtStatus = 0x40;  // timeout happened; written 1 to clear
constexpr uint8_t kWdtResetOutput = 0x01;

// GPIO group register blocks of device 6: output enable, output data and pin
// status at the block's first three registers.
constexpr uint8_t kGpioBlocks[] = {0xF0, 0xE0, 0xD0, 0xC0, 0xB0, 0xA0, 0x90, 0x80, 0x88};
enum GpioKind { kGpioEnable = 0, kGpioData = 1, kGpioStatus = 2 };

// Monitor: registers the measuring side owns (driver writes are lost).
constexpr uint8_t kMonitorReadOnly[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x72,
                                        0x74, 0x7E, 0xA0, 0xA1, 0xB0, 0xB1, 0xC0, 0xC1};
constexpr uint8_t kFanCountHigh[] = {0xA0, 0xB0, 0xC0};
constexpr uint8_t kFanDuty[] = {0xA3, 0xB3, 0xC3};
constexpr uint8_t kFanModeReg = 0x96;
constexpr uint8_t kTempRegs[] = {0x72, 0x74, 0x7E};
constexpr MonitorSuperIo::FanCount kFanCounts[] = {{0xA1, 0xA0, -1}, {0xB1, 0xB0, -1}, {0xC1, 0xC0, -1}};
constexpr uint32_t kFanClock = 1500000;
constexpr uint16_t kFanStopped = 0x0FFF;

}  // namespace

F81865::F81865(uint16_t configPort, uint16_t chipId)
    : MonitorSuperIo("f81865", configPort, kKeys, {kRegIdHigh, kRegIdLow}, chipId, kFanCounts, kTempRegs),
      gpioGroups_(chipId == 0x0704 ? 7 : 9) {
    file(kDeviceHwm)[kRegActivate] = 0x01;  // the monitor decodes from power-on
    for (uint8_t duty : kFanDuty) hwm_[duty] = 0xFF;
    for (uint8_t high : kFanCountHigh) {  // no fan: full-scale count
        hwm_[high] = static_cast<uint8_t>(kFanStopped >> 8);
        hwm_[high + 1] = static_cast<uint8_t>(kFanStopped);
    }
}

// ---- Bus side ------------------------------------------------------------------

SuperIo::Block F81865::blockLocked() const {
    if ((file(kDeviceHwm)[kRegActivate] & 1) == 0) return {};
    return monitorPair(baseOf(kDeviceHwm) & 0xFFF8);
}

uint8_t F81865::blockRead(uint16_t offset) { return offset == 5 ? hwmIndex_ : measuredLocked(hwmIndex_); }

void F81865::blockWrite(uint16_t offset, uint8_t value) {
    if (offset == 5)
        hwmIndex_ = value;
    else if (std::find(std::begin(kMonitorReadOnly), std::end(kMonitorReadOnly), hwmIndex_) ==
             std::end(kMonitorReadOnly))
        hwm_[hwmIndex_] = value;
}

int F81865::gpioGroupOf(uint8_t r, int* kind) const {
    for (int g = 0; g < gpioGroups_; ++g) {
        if (r >= kGpioBlocks[g] && r <= kGpioBlocks[g] + kGpioStatus) {
            *kind = r - kGpioBlocks[g];
            return g;
        }
    }
    return -1;
}

uint8_t F81865::deviceRead(int device, uint8_t r) {
    const RegFile& f = file(device);
    int kind = 0;
    if (device == kDeviceGpio) {
        const int g = gpioGroupOf(r, &kind);
        if (g >= 0 && kind == kGpioStatus) {
            const uint8_t enable = f[kGpioBlocks[g] + kGpioEnable];
            const uint8_t data = f[kGpioBlocks[g] + kGpioData];
            return wires(static_cast<size_t>(g), enable, data);
        }
    }
    return f[r];
}

void F81865::deviceWrite(int device, uint8_t r, uint8_t value) {
    int kind = 0;
    if (device == kDeviceGpio && gpioGroupOf(r, &kind) >= 0 && kind == kGpioStatus) return;  // read-only
    if (device == kDeviceWdt && r == kWdtControl) return watchdogWriteControl(value);
    if (device == kDeviceWdt && r == kWdtCount) clock_.restartUnit();  // a reload restarts the unit
    file(device)[r] = value;
}

bool F81865::watchdogRunning() const {
    const RegFile& f = file(kDeviceWdt);
    return (f[kRegActivate] & 1) != 0 && (f[kWdtControl] & kWdtEnable) != 0;
}

void F81865::watchdogWriteControl(uint8_t value) {
    RegFile& f = file(kDeviceWdt);
    const bool wasRunning = watchdogRunning();
    uint8_t status = f[kWdtControl] & kWdtStatus;
    if ((value & kWdtStatus) != 0) status = 0;
    f[kWdtControl] = static_cast<uint8_t>((value & ~kWdtStatus) | status);
    if (!wasRunning && watchdogRunning()) clock_.restartUnit();
}

// Run out: the countdown stops, the status sets and, with the reset output
// enabled, the board resets.
void F81865::watchdogFire(uint64_t nowMs) {
    RegFile& f = file(kDeviceWdt);
    f[kWdtControl] = static_cast<uint8_t>((f[kWdtControl] & ~kWdtEnable) | kWdtStatus);
    if ((f[kWdtOutput] & kWdtResetOutput) != 0) boardReset(nowMs);
}

void F81865::advanceLocked(uint64_t fromMs, uint64_t ms) {
    RegFile& f = file(kDeviceWdt);
    if (watchdogRunning() && f[kWdtCount] == 0) return watchdogFire(fromMs);  // started with nothing left
    clock_.run(
        fromMs, ms,
        [&] {
            if (!watchdogRunning()) return uint64_t{0};
            return (f[kWdtControl] & kWdtMinutes) != 0 ? WatchdogClock::kMinuteMs : WatchdogClock::kSecondMs;
        },
        [&](uint64_t now) {
            if (--f[kWdtCount] == 0) watchdogFire(now);
        });
}

// Both mode bits set: the duty register scales the speed.
uint16_t F81865::fanCountAt(size_t fan, uint32_t rpm) const {
    if (((hwm_[kFanModeReg] >> (2 * fan)) & 3) == 3) rpm = rpm * hwm_[kFanDuty[fan]] / 255;
    return static_cast<uint16_t>(rpm == 0 ? kFanStopped : std::min<uint32_t>(kFanClock / rpm, 0xFFFF));
}

// ---- Pins ------------------------------------------------------------------------

std::optional<SuperIo::GpioPin> F81865::gpioPin(const std::string& line) const {
    const auto at = splitLine(line, "gpio");
    if (!at || at->first < 0 || at->first >= gpioGroups_) return std::nullopt;
    return GpioPin{static_cast<size_t>(at->first), at->second};
}

uint8_t F81865::gpioWires(size_t group) const {
    const RegFile& f = file(kDeviceGpio);
    const uint8_t block = kGpioBlocks[group];
    return wires(group, f[block + kGpioEnable], f[block + kGpioData]);
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "f81865", "config_port": "0x4e", "id": "0x1010",
//    "config": {"global": {"0x2d": "0x.."}, "4": {"0x60": "0x0a", "0x61": "0x00"}},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45},
//    "pins": {"gpio10": 0}}

std::unique_ptr<Device> F81865::fromBoard(const nlohmann::json& entry, const std::string& where) {
    auto chip = std::make_unique<F81865>(superIoPort(entry, where), superIoId(entry, where, 0x1010));
    applySuperIoPresets(*chip, entry, where);
    return chip;
}

}  // namespace sim
