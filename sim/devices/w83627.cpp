#include "sim/devices/w83627.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"

namespace sim {

namespace {

// Configuration mode: 0x87 twice to open, 0xAA to close.
constexpr SioKeys kKeys{{0x87, 0x87}, 2, false, "configuration mode opened again inside an open bracket"};

// Configuration registers.
constexpr uint8_t kRegId = 0x20;
constexpr uint8_t kRegActivate = 0x30;
constexpr uint8_t kRegMonitorOn = 0x40;  // device 0x0B: bit 0 decodes the monitor

constexpr int kDeviceWdt = 8;
constexpr int kDeviceHwm = 0x0B;

constexpr uint8_t kWdtTimedOut = 0x10;  // control/status bit 4
constexpr uint8_t kIdWdtPinShared = 0x88;
constexpr uint8_t kRegPinSelect = 0x2D;  // ID 0x88, bit 0: the WDTO# pin is a GPIO pin

// Monitor.
constexpr uint8_t kHwmBankSelect = 0x4E;
constexpr uint8_t kHwmBankMask = 0x07;
constexpr uint8_t kFirstBanked = 0x50;
constexpr uint8_t kLastBanked = 0x5F;
constexpr int kBanks[] = {0, 1, 2, 5};
// Readings the measuring side owns, outside the banks and per bank.
constexpr uint8_t kReadOnly[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x3F};
struct BankedReading {
    int bank;
    uint8_t reg;
};
constexpr BankedReading kBankedReadOnly[] = {{5, 0x50}, {5, 0x51}, {5, 0x52},
                                             {5, 0x53}, {1, 0x50}, {2, 0x50}};

// Fan count registers (8-bit; the fifth in bank 5) and divisor bits by fan:
// bits 1..0 of the exponent from (lowReg >> lowShift), bit 2 from
// (highReg >> highBit); bank-0 registers for 0x59 and 0x5D.
constexpr MonitorSuperIo::FanCount kFanCounts[] = {
    {0x28, -1, -1}, {0x29, -1, -1}, {0x2A, -1, -1}, {0x3F, -1, -1}, {0x53, -1, 5}};
struct FanDivisor {
    uint8_t lowReg, lowShift, highReg, highBit;
};
constexpr FanDivisor kFanDivisors[] = {
    {0x47, 4, 0x5D, 5}, {0x47, 6, 0x5D, 6}, {0x4B, 6, 0x5D, 7}, {0x59, 0, 0x4C, 7}, {0x59, 2, 0x59, 7}};
// Fan control: a fan whose mode bits are all clear runs at the duty its
// output register gives (0xFF full speed, the power-on value).
struct FanDuty {
    uint8_t output, mode, modeBits;
};
constexpr FanDuty kFanDuty[] = {
    {0x01, 0x04, 0x0D}, {0x03, 0x04, 0x32}, {0x11, 0x12, 0x07}, {0x61, 0x62, 0x70}};
constexpr uint32_t kFanClock = 1350000;
constexpr uint8_t kFanNoReading = 0xFF;

bool banked(uint8_t r) { return r >= kFirstBanked && r <= kLastBanked; }
bool bankExists(int bank) {
    return std::find(std::begin(kBanks), std::end(kBanks), bank) != std::end(kBanks);
}

}  // namespace

W83627::W83627(uint16_t configPort, uint8_t chipId)
    : MonitorSuperIo("w83627", configPort, kKeys, {kRegId}, chipId, kFanCounts, {}),
      wdt_(chipId == 0x60 || chipId == 0x68 ? WdtRegs{0xF3, 0xF4, 0xF5, 0x04}
                                            : WdtRegs{0xF5, 0xF6, 0xF7, 0x08}) {
    for (int bank : kBanks) bankHeld_[static_cast<size_t>(bank)] = true;
    for (const FanCount& c : kFanCounts) hwmCell(c.low, c.bank < 0 ? 0 : c.bank) = kFanNoReading;
    for (const FanDuty& d : kFanDuty) hwm_[d.output] = 0xFF;
}

const W83627::GpioGroup W83627::kGpioGroups[] = {{1, 7, 0xF0, 0xF1}, {6, 7, 0xF4, 0xF5}, {2, 9, 0xE4, 0xE5}};

// ---- Bus side ------------------------------------------------------------------

SuperIo::Block W83627::blockLocked() const {
    if ((file(kDeviceHwm)[kRegMonitorOn] & 1) == 0) return {};
    return monitorPair(baseOf(kDeviceHwm) & 0xFFF8);
}

uint8_t W83627::blockRead(uint16_t offset) {
    if (offset == 5) return hwmIndex_;
    hwmAccess(hwmIndex_);
    return measuredLocked(hwmIndex_, hwm_[kHwmBankSelect] & kHwmBankMask);
}

void W83627::blockWrite(uint16_t offset, uint8_t value) {
    if (offset == 5) {
        hwmIndex_ = value;
        return;
    }
    hwmAccess(hwmIndex_);
    const int bank = hwm_[kHwmBankSelect] & kHwmBankMask;
    if (std::find(std::begin(kReadOnly), std::end(kReadOnly), hwmIndex_) != std::end(kReadOnly)) return;
    for (const BankedReading& b : kBankedReadOnly)
        if (banked(hwmIndex_) && b.bank == bank && b.reg == hwmIndex_) return;
    hwmCell(hwmIndex_, bank) = value;
}

void W83627::hwmAccess(uint8_t r) {
    const int bank = hwm_[kHwmBankSelect] & kHwmBankMask;
    if (banked(r) && !bankExists(bank))
        violation(fmt::format("monitor register 0x{:02x} accessed with bank {} selected", r, bank));
}

void W83627::deviceWrite(int device, uint8_t r, uint8_t value) {
    if (device == kDeviceWdt && r == wdt_.count) clock_.restartUnit();  // a load restarts the unit
    file(device)[r] = value;
    preset(device, r);
}

// Writing the control/status register, from either side, settles whether
// its time-out bit came from this run.
void W83627::preset(int device, uint8_t r) {
    if (device == kDeviceWdt && r == wdt_.control) statusFromTimeout_ = false;
}

const W83627::GpioGroup* W83627::gpioAt(int device, uint8_t r) const {
    for (const GpioGroup& g : kGpioGroups)
        if (g.device == device && g.data == r) return &g;
    return nullptr;
}

uint8_t W83627::deviceRead(int device, uint8_t r) {
    const RegFile& f = file(device);
    if (const GpioGroup* g = gpioAt(device, r)) return gpioWires(static_cast<size_t>(g - kGpioGroups));
    return f[r];
}

// While device 8 is active and the count is nonzero it falls by one a unit.
uint64_t W83627::watchdogUnitMs() const {
    const RegFile& f = file(kDeviceWdt);
    if ((f[kRegActivate] & 1) == 0 || f[wdt_.count] == 0) return 0;
    return (f[wdt_.mode] & wdt_.minutes) != 0 ? WatchdogClock::kMinuteMs : WatchdogClock::kSecondMs;
}

void W83627::watchdogTick(uint64_t nowMs) {
    RegFile& f = file(kDeviceWdt);
    if (--f[wdt_.count] != 0) return;
    // The time-out pulses WDTO# as it sets the status bit. A status found
    // set (a time-out before this boot that nobody cleared) gives no new
    // edge until it is written clear; one that a time-out of this run set
    // does not hold it, as the reset recorded then stands for the board's
    // restart. On ID 0x88 the pin carries WDTO# only while global 0x2D bit 0
    // is clear (set, it is a GPIO pin).
    const bool held = (f[wdt_.control] & kWdtTimedOut) != 0 && !statusFromTimeout_;
    const bool pinIsWdto = chipId_ != kIdWdtPinShared || (file(kGlobal)[kRegPinSelect] & 1) == 0;
    f[wdt_.control] |= kWdtTimedOut;
    statusFromTimeout_ = true;
    if (!held && pinIsWdto) boardReset(nowMs);
}

void W83627::advanceLocked(uint64_t fromMs, uint64_t ms) {
    clock_.run(
        fromMs, ms, [&] { return watchdogUnitMs(); }, [&](uint64_t now) { watchdogTick(now); });
}

uint8_t& W83627::hwmCell(uint8_t r, int bank) {
    if (!banked(r)) return hwm_[r];
    const size_t b = static_cast<size_t>(bank) & 7;
    bankHeld_[b] = true;
    return banks_[b][r - kFirstBanked];
}

uint8_t W83627::hwmCellValue(uint8_t r, int bank) const {
    if (!banked(r)) return hwm_[r];
    const size_t b = static_cast<size_t>(bank) & 7;
    return bankHeld_[b] ? banks_[b][r - kFirstBanked] : 0xFF;
}

uint8_t W83627::fanDivisorLocked(int fan) const {
    // IDs 0x60 and 0xA2 have no divisor bits for fan 3: it counts undivided.
    if (fan == 2 && (chipId_ == 0x60 || chipId_ == 0xA2)) return 1;
    const FanDivisor& f = kFanDivisors[fan];
    const unsigned exponent =
        (hwmCellValue(f.lowReg, 0) >> f.lowShift & 3u) | (hwmCellValue(f.highReg, 0) >> f.highBit & 1u) << 2;
    return static_cast<uint8_t>(1u << exponent);
}

uint16_t W83627::fanCountAt(size_t fan, uint32_t rpm) const {
    if (fan < std::size(kFanDuty) && (hwm_[kFanDuty[fan].mode] & kFanDuty[fan].modeBits) == 0)
        rpm = rpm * hwm_[kFanDuty[fan].output] / 255;
    const uint32_t perCount = rpm * fanDivisorLocked(static_cast<int>(fan));
    const uint32_t count = perCount == 0 ? kFanNoReading : kFanClock / perCount;
    return static_cast<uint16_t>(std::min<uint32_t>(count, kFanNoReading));
}

// ---- Pins ------------------------------------------------------------------------

// Groups by the order of kGpioGroups; a line names its group by number.
std::optional<SuperIo::GpioPin> W83627::gpioPin(const std::string& line) const {
    const auto at = splitLine(line, "gpio");
    if (!at) return std::nullopt;
    for (size_t i = 0; i < std::size(kGpioGroups); ++i)
        if (kGpioGroups[i].group == at->first) return GpioPin{i, at->second};
    return std::nullopt;
}

// A set selection bit makes the pin an input.
uint8_t W83627::gpioWires(size_t group) const {
    const GpioGroup& g = kGpioGroups[group];
    const RegFile& f = file(g.device);
    return wires(group, static_cast<uint8_t>(~f[g.direction]), f[g.data]);
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "w83627", "config_port": "0x2e", "id": "0x88",
//    "config": {"global": {"0x2d": "0x5b"}, "0x0b": {"0x60": "0x02", "0x61": "0x90", "0x40": "0x01"},
//               "7": {"0x30": "0x01", "0xf0": "0x0f"}},
//    "hwm": {"0x20": "0x8c"}, "hwm_banks": {"5": {"0x50": "0xb0"}},
//    "fan_rpm": {"1": 2400}, "pins": {"gpio10": 0}}

std::unique_ptr<Device> W83627::fromBoard(const nlohmann::json& entry, const std::string& where) {
    auto chip = std::make_unique<W83627>(superIoPort(entry, where),
                                         static_cast<uint8_t>(superIoId(entry, where, 0x88, 0xFF)));

    if (auto* hwm = superIoObject(entry, "hwm", where))
        for (auto& [r, v] : hwm->items())
            if (banked(static_cast<uint8_t>(boardNumber(r, where + ": hwm", 0xFF))))
                throw BoardError(
                    fmt::format("{}: hwm: register {} is banked, give it in \"hwm_banks\"", where, r));
    if (auto* banks = superIoObject(entry, "hwm_banks", where)) {
        for (auto& [bank, regs] : banks->items()) {
            const std::string at = fmt::format("{}: hwm_banks {}", where, bank);
            const int b = static_cast<int>(boardNumber(bank, at, 0xFF));
            if (!bankExists(b)) throw BoardError(fmt::format("{}: the banks are 0, 1, 2 and 5", at));
            if (!regs.is_object()) throw BoardError(fmt::format("{}: registers are an object", at));
            for (auto& [r, v] : regs.items()) {
                const auto reg = static_cast<uint8_t>(boardNumber(r, at, 0xFF));
                if (!banked(reg)) throw BoardError(fmt::format("{}: banked registers are 0x50 to 0x5f", at));
                chip->setHwm(reg, static_cast<uint8_t>(boardNumber(v, at + " " + r, 0xFF)), b);
            }
        }
    }
    // After the banks: a speed given in "fan_rpm" wins over a raw count.
    applySuperIoPresets(*chip, entry, where);
    return chip;
}

}  // namespace sim
