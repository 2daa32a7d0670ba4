#include "sim/devices/it87.h"

#include <fmt/format.h>

#include <algorithm>

namespace sim {

namespace {

// Configuration mode: 0x87, 0x01, 0x55 and the pair's own fourth byte to
// open; register 0x02 written with bit 1 set to close.
constexpr uint8_t kFourthKey2E = 0x55;
constexpr uint8_t kFourthKey4E = 0xAA;
constexpr const char* kReopened = "configuration key written again inside an open bracket";
SioKeys keysFor(uint16_t configPort) {
    return SioKeys{{0x87, 0x01, 0x55, configPort == 0x2E ? kFourthKey2E : kFourthKey4E}, 4, true, kReopened};
}

// Configuration registers.
constexpr uint8_t kRegIdHigh = 0x20;
constexpr uint8_t kRegIdLow = 0x21;
constexpr uint8_t kRegVersion = 0x22;
constexpr uint8_t kRegActivate = 0x30;

constexpr int kDeviceEc = 4;
constexpr int kDeviceWdt = 7;

// Watchdog registers of device 7.
constexpr uint8_t kWdtControl = 0x72;
constexpr uint8_t kWdtCountLow = 0x73;
constexpr uint8_t kWdtCountHigh = 0x74;
constexpr uint8_t kWdtSeconds = 0x80;
constexpr uint8_t kWdtRun = 0x40;
constexpr uint8_t kWdtControlBit5 = 0x20;
constexpr uint8_t kRegWdtGlobal = 0x23;
constexpr uint8_t kWdtGlobalBit = 0x10;
constexpr uint8_t kWideCountVersion = 8;  // IT8712F from this version on
constexpr uint16_t kNarrowCountChip = 0x8712;

// Monitor registers.
constexpr uint8_t kEcFanDivisor = 0x0B;
constexpr uint8_t kEcFanCounter = 0x0C;  // written once with kEcFanSetup before fans are read
constexpr uint8_t kEcFanSetup = 0x37;
constexpr uint8_t kEcFanMain = 0x13;   // bits 2..0: fan 1..3 under PWM (set) or on/off
constexpr uint8_t kEcFanOnOff = 0x14;  // bits 2..0: fan 1..3 on
constexpr uint8_t kEcPwm[] = {0x15, 0x16, 0x17, 0x88, 0x89};
constexpr uint8_t kEcPwmAuto = 0x80;
constexpr uint8_t kEcPwmDuty = 0x7F;
constexpr uint8_t kEcReadingsFirst = 0x20;  // voltages 0x20-0x28, temperatures 0x29-0x2B
constexpr uint8_t kEcReadingsLast = 0x2B;
constexpr uint8_t kEcTemps[] = {0x29, 0x2A, 0x2B};
constexpr MonitorSuperIo::FanCount kEcFanCounts[] = {
    {0x0D, 0x18, -1}, {0x0E, 0x19, -1}, {0x0F, 0x1A, -1}, {0x80, 0x81, -1}, {0x82, 0x83, -1}};
constexpr uint32_t kFanClock = 1350000;
constexpr uint16_t kFanStopped = 0xFFFF;

bool isFanCount(uint8_t r) {
    return std::any_of(std::begin(kEcFanCounts), std::end(kEcFanCounts),
                       [r](const MonitorSuperIo::FanCount& c) { return c.holds(r, 0); });
}

}  // namespace

It87::It87(uint16_t configPort, uint16_t chipId)
    : MonitorSuperIo("it87", configPort, keysFor(configPort), {kRegIdHigh, kRegIdLow}, chipId, kEcFanCounts,
                     kEcTemps) {
    file(kGlobal)[kRegVersion] = chipId == kNarrowCountChip ? 0x07 : 0x01;
    hwm_[kEcFanDivisor] = 0x09;  // fans 1 and 2 divide by 2
    hwm_[kEcFanMain] = 0x07;     // fans 1 to 3 under PWM, full duty
    for (uint8_t pwm : kEcPwm) hwm_[pwm] = kEcPwmDuty;
    for (const FanCount& c : kEcFanCounts) {  // no fan: full-scale count
        hwm_[static_cast<uint8_t>(c.high)] = static_cast<uint8_t>(kFanStopped >> 8);
        hwm_[c.low] = static_cast<uint8_t>(kFanStopped);
    }
}

// ---- Bus side ------------------------------------------------------------------

// The chip ignores the low three bits of the base.
SuperIo::Block It87::blockLocked() const {
    if ((file(kDeviceEc)[kRegActivate] & 1) == 0) return {};
    return monitorPair(baseOf(kDeviceEc) & 0xFFF8);
}

bool It87::wideCount() const {
    return chipId_ != kNarrowCountChip || file(kGlobal)[kRegVersion] >= kWideCountVersion;
}

uint8_t It87::blockRead(uint16_t offset) {
    if (offset == 5) return hwmIndex_;
    if (isFanCount(hwmIndex_) && !fanCountsSetUp_ && !fanReadReported_) {
        fanReadReported_ = true;
        violation(
            fmt::format("fan count 0x{:02x} read before monitor register 0x0c was written with 0x{:02x}",
                        hwmIndex_, kEcFanSetup));
    }
    return measuredLocked(hwmIndex_);
}

void It87::blockWrite(uint16_t offset, uint8_t value) {
    if (offset == 5) {
        hwmIndex_ = value;
        return;
    }
    if (hwmIndex_ == kEcFanCounter && value == kEcFanSetup) fanCountsSetUp_ = true;
    const bool reading = hwmIndex_ >= kEcReadingsFirst && hwmIndex_ <= kEcReadingsLast;
    if (!reading && !isFanCount(hwmIndex_)) hwm_[hwmIndex_] = value;  // the measuring side owns the rest
}

// A key that ends in the other pair's fourth byte is a driver's mistake;
// the skeleton's key check does the rest.
void It87::indexWrite(uint8_t value) {
    const uint8_t otherFourth = indexPort_ == 0x2E ? kFourthKey4E : kFourthKey2E;
    if (!config_.open() && config_.keysSeen() == 3 && value == otherFourth)
        violation(fmt::format("key 0x87 0x01 0x55 0x{:02x} is the other pair's; 0x{:x} takes 0x{:02x}", value,
                              indexPort_, indexPort_ == 0x2E ? kFourthKey2E : kFourthKey4E));
    config_.writeIndex(value);
}

void It87::globalWrite(uint8_t r, uint8_t value) {
    if (r == kRegVersion) return;  // read-only
    if (r == kRegWdtGlobal && (value & kWdtGlobalBit) != 0) wdtGlobalSet_ = true;
    file(kGlobal)[r] = value;
}

void It87::deviceWrite(int device, uint8_t r, uint8_t value) {
    RegFile& f = file(device);
    if (device != kDeviceWdt) {
        f[r] = value;
        return;
    }
    if (r == kWdtCountHigh && !wideCount()) {
        violation(
            fmt::format("count high byte 0x74 written (0x{:02x}) on a chip with an 8-bit count", value));
        return;
    }
    const bool wasRunning = watchdogRunning();
    const bool bit5WasCleared = controlBit5Cleared_;
    if (r == kWdtControl && (value & kWdtControlBit5) == 0) controlBit5Cleared_ = true;
    f[r] = value;
    const bool started = !wasRunning && watchdogRunning();
    // A reload or a fresh start begins a whole unit.
    if (r == kWdtCountLow || r == kWdtCountHigh || started) clock_.restartUnit();
    // What global 0x23 bit 4 and control bit 5 do is not known; the chip's
    // programming sequence sets the one and clears the other before a
    // countdown is started, and so must a driver.
    if (started && !wdtGlobalSet_)
        violation("watchdog countdown started before global register 0x23 bit 4 was set");
    if (started && !bit5WasCleared)
        violation("watchdog countdown started before a write to 0x72 cleared its bit 5");
}

bool It87::watchdogRunning() const {
    const RegFile& f = file(kDeviceWdt);
    const bool counting = f[kWdtCountLow] != 0 || (wideCount() && f[kWdtCountHigh] != 0);
    return (f[kWdtControl] & kWdtRun) != 0 && counting;
}

void It87::watchdogTick(uint64_t nowMs) {
    RegFile& f = file(kDeviceWdt);
    uint16_t count = static_cast<uint16_t>((wideCount() ? f[kWdtCountHigh] << 8 : 0) | f[kWdtCountLow]);
    --count;
    f[kWdtCountLow] = static_cast<uint8_t>(count);
    if (wideCount()) f[kWdtCountHigh] = static_cast<uint8_t>(count >> 8);
    if (count != 0) return;
    f[kWdtControl] = static_cast<uint8_t>(f[kWdtControl] & ~kWdtRun);
    boardReset(nowMs);
}

void It87::advanceLocked(uint64_t fromMs, uint64_t ms) {
    clock_.run(
        fromMs, ms,
        [&] {
            if (!watchdogRunning()) return uint64_t{0};
            return (file(kDeviceWdt)[kWdtControl] & kWdtSeconds) != 0 ? WatchdogClock::kSecondMs
                                                                      : WatchdogClock::kMinuteMs;
        },
        [&](uint64_t now) { watchdogTick(now); });
}

uint32_t It87::fanRpmLocked(size_t fan, uint32_t rpm) const {
    const uint8_t bit = static_cast<uint8_t>(1u << fan);
    if (fan < 3 && (hwm_[kEcFanMain] & bit) == 0) return (hwm_[kEcFanOnOff] & bit) != 0 ? rpm : 0;
    const uint8_t pwm = hwm_[kEcPwm[fan]];
    return (pwm & kEcPwmAuto) != 0 ? rpm : rpm * (pwm & kEcPwmDuty) / kEcPwmDuty;
}

uint16_t It87::fanCountAt(size_t fan, uint32_t rpm) const {
    uint32_t divisor = 2;
    const uint8_t d = hwm_[kEcFanDivisor];
    if (chipId_ == kNarrowCountChip && fan < 3) {
        const uint32_t fromReg[] = {1u << (d & 7), 1u << ((d >> 3) & 7), (d & 0x40) != 0 ? 8u : 2u};
        divisor = fromReg[fan];
    }
    rpm = fanRpmLocked(fan, rpm);
    return static_cast<uint16_t>(rpm == 0 ? kFanStopped
                                          : std::clamp<uint32_t>(kFanClock / (rpm * divisor), 1, 0xFFFE));
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "it87", "config_port": "0x2e", "id": "0x8718",
//    "config": {"global": {"0x22": "0x04"}, "4": {"0x60": "0x02", "0x61": "0x90", "0x30": "0x01"}},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45}}

std::unique_ptr<Device> It87::fromBoard(const nlohmann::json& entry, const std::string& where) {
    auto chip = std::make_unique<It87>(superIoPort(entry, where), superIoId(entry, where, 0x8718));
    applySuperIoPresets(*chip, entry, where);
    return chip;
}

}  // namespace sim
