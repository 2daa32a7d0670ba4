#include "sim/devices/sch3114.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"

namespace sim {

namespace {

// Configuration mode: 0x55 once to open, 0xAA to close.
constexpr SioKeys kKeys{{0x55}, 1, false, "entry key 0x55 written inside an open bracket"};

constexpr uint8_t kRegDeviceId = 0x20;

constexpr int kDeviceRuntime = 0x0A;
constexpr uint16_t kRuntimeSize = 0x80;

// Runtime block offsets.
constexpr uint8_t kGpioFirst = 0x4B;  // GP1x data; GP2x..GP6x follow
constexpr int kGpioGroups = 6;
constexpr uint8_t kWdtUnit = 0x65;
constexpr uint8_t kWdtCount = 0x66;
constexpr uint8_t kWdtControl = 0x68;
constexpr uint8_t kWdtUnitSeconds = 0x80;
constexpr uint8_t kWdtTimedOut = 0x01;         // control bit 0
constexpr uint8_t kWdtSetup[] = {0x67, 0x68};  // written before a count is loaded
constexpr uint8_t kMonitorIndex = 0x70;
constexpr uint8_t kMonitorData = 0x71;

// Monitor registers the measuring side owns (driver writes are lost).
constexpr uint8_t kMonitorReadOnly[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
                                        0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x99, 0x9A};
constexpr MonitorSuperIo::FanCount kTachs[] = {{0x28, 0x29, -1}, {0x2A, 0x2B, -1}, {0x2C, 0x2D, -1}};
constexpr uint8_t kMonitorStart = 0x40;  // bit 0 starts the measuring
constexpr uint8_t kMonitorSpecial = 0x7C;
constexpr uint8_t kMonitorSpecialSetup = 0x42;
constexpr uint8_t kFanDuty[] = {0x30, 0x31, 0x32};
constexpr uint8_t kFanConfig[] = {0x5C, 0x5D, 0x5E};
constexpr uint8_t kTempRegs[] = {0x25, 0x26, 0x27};
constexpr uint8_t kDriveMask = 0xE0;
constexpr uint8_t kDriveOff = 0x80;
constexpr uint8_t kDriveDuty = 0xE0;
constexpr uint32_t kFanClock = 5400000;
constexpr uint16_t kFanStopped = 0xFFFF;

bool isGpio(uint8_t offset) { return offset >= kGpioFirst && offset < kGpioFirst + kGpioGroups; }

}  // namespace

SCH3114::SCH3114(uint16_t configPort, uint8_t id)
    : MonitorSuperIo("sch3114", configPort, kKeys, {kRegDeviceId}, id, kTachs, kTempRegs) {
    runtime_[kWdtUnit] = kWdtUnitSeconds;
    for (const FanCount& c : kTachs) {  // no fan: full-scale count
        hwm_[c.low] = 0xFF;
        hwm_[static_cast<uint8_t>(c.high)] = 0xFF;
    }
}

// ---- Bus side ------------------------------------------------------------------

SuperIo::Block SCH3114::blockLocked() const { return Block{baseOf(kDeviceRuntime), 0, kRuntimeSize}; }

uint8_t SCH3114::blockRead(uint16_t offset) {
    if (offset == kMonitorIndex) return hwmIndex_;
    if (offset == kMonitorData) {
        monitorAccess(false, offset);
        if (isReading(hwmIndex_) && !specialSetUp_ && !readingReported_) {
            readingReported_ = true;
            violation(fmt::format("monitor reading 0x{:02x} read before register 0x7c was written with 0x42",
                                  hwmIndex_));
        }
        return hwmReadLocked(hwmIndex_);
    }
    return runtimeReadLocked(static_cast<uint8_t>(offset));
}

void SCH3114::blockWrite(uint16_t offset, uint8_t value) {
    if (offset == kMonitorIndex || offset == kMonitorData) monitorAccess(offset == kMonitorIndex, offset);
    if (offset == kMonitorIndex) {
        hwmIndex_ = value;
    } else if (offset == kMonitorData) {
        monitorWriteLocked(hwmIndex_, value);
    } else {
        runtimeWriteLocked(static_cast<uint8_t>(offset), value);
    }
}

uint8_t SCH3114::runtimeReadLocked(uint8_t offset) const {
    if (isGpio(offset)) {
        const size_t g = offset - kGpioFirst;
        return gpioWires(g);
    }
    return runtime_[offset];
}

void SCH3114::runtimeWriteLocked(uint8_t offset, uint8_t value) {
    if (offset == kWdtCount) clock_.restartUnit();  // a (re)load starts a full unit
    // What 0x67 and 0x68 do is not known; the chip's programming sequence
    // writes both before it loads a count, and so must a driver.
    for (size_t i = 0; i < std::size(kWdtSetup); ++i)
        if (offset == kWdtSetup[i]) wdtSetupWritten_[i] = true;
    if (offset == kWdtCount && value != 0 && runtime_[kWdtCount] == 0 &&
        !(wdtSetupWritten_[0] && wdtSetupWritten_[1]))
        violation(
            fmt::format("watchdog count 0x{:02x} loaded before runtime registers 0x67 and 0x68 were "
                        "written",
                        value));
    runtime_[offset] = value;
}

// Configuration registers change while the monitor is stopped (0x40 bit 0
// clear): the chip's own sequence stops it, writes 0x7C and starts it.
void SCH3114::monitorWriteLocked(uint8_t r, uint8_t value) {
    if (isReading(r)) return;
    if (r == kMonitorSpecial) {
        if ((hwm_[kMonitorStart] & 1) != 0)
            violation(fmt::format("monitor register 0x7c written (0x{:02x}) while the monitor runs", value));
        if (value == kMonitorSpecialSetup) specialSetUp_ = true;
    }
    if (r == kMonitorStart && (value & 1) != 0) measured_ = true;
    hwm_[r] = value;
}

bool SCH3114::isReading(uint8_t r) {
    return std::find(std::begin(kMonitorReadOnly), std::end(kMonitorReadOnly), r) !=
           std::end(kMonitorReadOnly);
}

void SCH3114::monitorAccess(bool index, uint16_t offset) {
    const uint16_t port = blockPort(blockBaseLocked(), offset);
    if (index && hwmIndexFresh_)
        violation(fmt::format("monitor index port 0x{:x} written twice with no data access between", port));
    if (!index && !hwmIndexFresh_)
        violation(fmt::format("monitor data port 0x{:x} accessed with no index write before it", port));
    hwmIndexFresh_ = index;
}

// While the count is non-zero it falls by one a unit; at zero the board
// resets and the time-out status sets.
void SCH3114::advanceLocked(uint64_t fromMs, uint64_t ms) {
    clock_.run(
        fromMs, ms,
        [&] {
            if (runtime_[kWdtCount] == 0) return uint64_t{0};
            return (runtime_[kWdtUnit] & kWdtUnitSeconds) != 0 ? WatchdogClock::kSecondMs
                                                               : WatchdogClock::kMinuteMs;
        },
        [&](uint64_t now) {
            if (--runtime_[kWdtCount] != 0) return;
            runtime_[kWdtControl] |= kWdtTimedOut;
            boardReset(now);
        });
}

// Until the monitor was first started nothing was measured: the readings
// show no reading (temperature 0x80, tachometer 0xFFFF, voltage 0).
uint8_t SCH3114::hwmReadLocked(uint8_t r) const {
    if (measured_ || !isReading(r)) return measuredLocked(r);
    if (std::find(std::begin(kTempRegs), std::end(kTempRegs), r) != std::end(kTempRegs)) return 0x80;
    return r >= kTachs[0].low && r <= kTachs[2].high ? 0xFF : 0x00;
}

uint16_t SCH3114::fanCountAt(size_t fan, uint32_t rpm) const {
    const uint8_t drive = hwm_[kFanConfig[fan]] & kDriveMask;
    if (drive == kDriveOff) rpm = 0;
    if (drive == kDriveDuty) rpm = rpm * hwm_[kFanDuty[fan]] / 255;
    return static_cast<uint16_t>(rpm == 0 ? kFanStopped : std::min<uint32_t>(kFanClock / rpm, kFanStopped));
}

// ---- Pins ------------------------------------------------------------------------

std::optional<SuperIo::GpioPin> SCH3114::gpioPin(const std::string& line) const {
    const auto at = splitLine(line, "gp");
    if (!at || at->first < 1 || at->first > kGpioGroups) return std::nullopt;
    return GpioPin{static_cast<size_t>(at->first - 1), at->second};
}

uint8_t SCH3114::gpioWires(size_t group) const {
    return wires(group, outputs_[group], runtime_[kGpioFirst + group]);
}

// ---- Test and board side -------------------------------------------------------

uint8_t SCH3114::runtime(uint8_t offset) const {
    std::lock_guard lock(mutex_);
    return offset < kRuntimeSize ? runtimeReadLocked(offset) : 0xFF;
}

void SCH3114::setRuntime(uint8_t offset, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (offset < kRuntimeSize) runtime_[offset] = value;
}

void SCH3114::hwmPreset(uint8_t r, uint8_t value) {
    if (r == kMonitorStart && (value & 1) != 0) measured_ = true;  // the firmware started it
}

void SCH3114::setGpioOutputs(int group, uint8_t pins) {
    std::lock_guard lock(mutex_);
    if (group >= 1 && group <= kGpioGroups) outputs_[static_cast<size_t>(group - 1)] = pins;
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "sch3114", "config_port": "0x4e", "id": "0x7c",
//    "config": {"0x0a": {"0x60": "0x0a", "0x61": "0x80"}},
//    "runtime": {"0x50": "0xe3"}, "gpio_outputs": {"6": "0x83"},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45},
//    "pins": {"gp10": 0}}

std::unique_ptr<Device> SCH3114::fromBoard(const nlohmann::json& entry, const std::string& where) {
    auto chip = std::make_unique<SCH3114>(superIoPort(entry, where),
                                          static_cast<uint8_t>(superIoId(entry, where, 0x7C, 0xFF)));

    // Each entry of a {"number": number} object, numbers range-checked.
    auto pairs = [&](const char* key, uint32_t maxKey, uint32_t maxValue, auto apply) {
        if (auto* obj = superIoObject(entry, key, where))
            for (auto& [k, v] : obj->items()) {
                const std::string at = fmt::format("{}: {} {}", where, key, k);
                apply(boardNumber(k, at, maxKey), boardNumber(v, at, maxValue));
            }
    };
    pairs("runtime", kRuntimeSize - 1, 0xFF, [&](uint32_t offset, uint32_t value) {
        chip->setRuntime(static_cast<uint8_t>(offset), static_cast<uint8_t>(value));
    });
    pairs("gpio_outputs", kGpioGroups, 0xFF, [&](uint32_t group, uint32_t pins) {
        if (group == 0) throw BoardError(fmt::format("{}: gpio_outputs: groups are numbered 1 to 6", where));
        chip->setGpioOutputs(static_cast<int>(group), static_cast<uint8_t>(pins));
    });
    applySuperIoPresets(*chip, entry, where);
    return chip;
}

}  // namespace sim
