#include "sim/devices/w83627.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"
#include "sim/devices/superio_common.h"

namespace sim {

namespace {

// Configuration mode opens with this key written twice to the index port.
constexpr uint8_t kEntryKey = 0x87;

// Global configuration registers.
constexpr uint8_t kRegDevice = 0x07;
constexpr uint8_t kRegId = 0x20;
constexpr uint8_t kFirstDeviceReg = 0x30;
constexpr uint8_t kRegActivate = 0x30;
constexpr uint8_t kRegBaseHigh = 0x60;
constexpr uint8_t kRegBaseLow = 0x61;
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

// Fan count register (and its bank, -1 for any) and divisor bits by fan:
// bits 1..0 of the exponent from (lowReg >> lowShift), bit 2 from
// (highReg >> highBit); bank-0 registers for 0x59 and 0x5D.
struct FanRegs {
    uint8_t count;
    int bank;
    uint8_t lowReg, lowShift, highReg, highBit;
};
constexpr FanRegs kFans[] = {
    {0x28, -1, 0x47, 4, 0x5D, 5}, {0x29, -1, 0x47, 6, 0x5D, 6}, {0x2A, -1, 0x4B, 6, 0x5D, 7},
    {0x3F, -1, 0x59, 0, 0x4C, 7}, {0x53, 5, 0x59, 2, 0x59, 7},
};
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
    : indexPort_(configPort),
      chipId_(chipId),
      wdt_(chipId == 0x60 || chipId == 0x68 ? WdtRegs{0xF3, 0xF4, 0xF5, 0x04}
                                            : WdtRegs{0xF5, 0xF6, 0xF7, 0x08}),
      config_(configPort, kEntryKey) {
    global_[kRegId] = chipId;
    for (int bank : kBanks) banks_[bank].fill(0);
    for (const FanRegs& f : kFans) hwmCell(f.count, f.bank < 0 ? 0 : f.bank) = kFanNoReading;
    for (const FanDuty& d : kFanDuty) hwm_[d.output] = 0xFF;
    for (const GpioGroup& g : kGpioGroups) inputs_[g.group] = 0xFF;  // input pins float high
}

const W83627::GpioGroup W83627::kGpioGroups[] = {{1, 7, 0xF0, 0xF1}, {6, 7, 0xF4, 0xF5}, {2, 9, 0xE4, 0xE5}};

// ---- Bus side ------------------------------------------------------------------

uint16_t W83627::monitorBaseLocked() const {
    const RegFile& f = file(kDeviceHwm);
    if ((f[kRegMonitorOn] & 1) == 0) return 0;
    return static_cast<uint16_t>((f[kRegBaseHigh] << 8 | f[kRegBaseLow]) & 0xFFF8);
}

bool W83627::claims(uint16_t port) const {
    std::lock_guard lock(mutex_);
    if (port == indexPort_ || port == indexPort_ + 1) return true;
    return blockDecodes(monitorBaseLocked(), 5, 2, port);
}

uint8_t W83627::read(uint16_t port) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return config_.readIndex();
    if (port == indexPort_ + 1) return dataRead();
    if (port == static_cast<uint16_t>(monitorBaseLocked() + 5)) return hwmIndex_;
    hwmAccess(hwmIndex_);
    return hwmReadLocked(hwmIndex_, hwm_[kHwmBankSelect] & kHwmBankMask);
}

void W83627::write(uint16_t port, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return config_.writeIndex(value);
    if (port == indexPort_ + 1) return dataWrite(value);
    if (port == static_cast<uint16_t>(monitorBaseLocked() + 5)) {
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

uint8_t W83627::dataRead() {
    if (!config_.dataAccess(false)) return 0xFF;
    const uint8_t r = config_.index();
    return r < kFirstDeviceReg ? global_[r] : deviceRead(r);
}

void W83627::dataWrite(uint8_t value) {
    if (!config_.dataAccess(true, value)) return;
    const uint8_t r = config_.index();
    if (r == kRegId) return;  // read-only
    if (r < kFirstDeviceReg) {
        global_[r] = value;
        return;
    }
    const int device = global_[kRegDevice];
    if (device == kDeviceWdt && r == wdt_.count) unitElapsedMs_ = 0;  // a load restarts the unit
    if (device == kDeviceWdt && r == wdt_.control) statusFromTimeout_ = false;
    file(device)[r] = value;
}

const W83627::GpioGroup* W83627::gpioAt(int device, uint8_t r) const {
    for (const GpioGroup& g : kGpioGroups)
        if (g.device == device && g.data == r) return &g;
    return nullptr;
}

uint8_t W83627::deviceRead(uint8_t r) {
    const int device = global_[kRegDevice];
    const RegFile& f = file(device);
    if (const GpioGroup* g = gpioAt(device, r)) {
        const uint8_t inputs = f[g->direction];
        return static_cast<uint8_t>((f[r] & ~inputs) | (inputs_.at(g->group) & inputs));
    }
    return f[r];
}

bool W83627::watchdogRunning() const {
    const RegFile& f = file(kDeviceWdt);
    return (f[kRegActivate] & 1) != 0 && f[wdt_.count] != 0;
}

void W83627::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    RegFile& f = file(kDeviceWdt);
    uint64_t now = fromMs;
    uint64_t left = ms;
    while (watchdogRunning() && left != 0) {
        const uint64_t unit = (f[wdt_.mode] & wdt_.minutes) != 0 ? 60000 : 1000;
        const uint64_t step = std::min(left, unit - unitElapsedMs_);
        unitElapsedMs_ += step;
        now += step;
        left -= step;
        if (unitElapsedMs_ < unit) continue;
        unitElapsedMs_ = 0;
        if (--f[wdt_.count] == 0) {
            // The time-out pulses WDTO# as it sets the status bit. A status
            // found set (a time-out before this boot that nobody cleared)
            // gives no new edge until it is written clear; one that a
            // time-out of this run set does not hold it, as the reset
            // recorded then stands for the board's restart. On ID 0x88 the
            // pin carries WDTO# only while global 0x2D bit 0 is clear (set,
            // it is a GPIO pin).
            const bool held = (f[wdt_.control] & kWdtTimedOut) != 0 && !statusFromTimeout_;
            const bool pinIsWdto = chipId_ != kIdWdtPinShared || (global_[kRegPinSelect] & 1) == 0;
            f[wdt_.control] |= kWdtTimedOut;
            statusFromTimeout_ = true;
            if (!held && pinIsWdto) resets_.push_back(now);
        }
    }
}

uint8_t& W83627::hwmCell(uint8_t r, int bank) {
    if (!banked(r)) return hwm_[r];
    return banks_[bank][r - kFirstBanked];
}

uint8_t W83627::hwmCellValue(uint8_t r, int bank) const {
    if (!banked(r)) return hwm_[r];
    auto it = banks_.find(bank);
    return it != banks_.end() ? it->second[r - kFirstBanked] : 0xFF;
}

uint8_t W83627::fanDivisorLocked(int fan) const {
    // IDs 0x60 and 0xA2 have no divisor bits for fan 3: it counts undivided.
    if (fan == 2 && (chipId_ == 0x60 || chipId_ == 0xA2)) return 1;
    const FanRegs& f = kFans[fan];
    const unsigned exponent =
        (hwmCellValue(f.lowReg, 0) >> f.lowShift & 3u) | (hwmCellValue(f.highReg, 0) >> f.highBit & 1u) << 2;
    return static_cast<uint8_t>(1u << exponent);
}

uint8_t W83627::hwmReadLocked(uint8_t r, int bank) const {
    for (size_t fan = 0; fan < fanRpm_.size(); ++fan) {
        const FanRegs& f = kFans[fan];
        if (r != f.count || (f.bank >= 0 && f.bank != bank) || !fanRpm_[fan]) continue;
        uint32_t rpm = *fanRpm_[fan];
        if (fan < std::size(kFanDuty) && (hwm_[kFanDuty[fan].mode] & kFanDuty[fan].modeBits) == 0)
            rpm = rpm * hwm_[kFanDuty[fan].output] / 255;
        const uint32_t perCount = rpm * fanDivisorLocked(static_cast<int>(fan));
        const uint32_t count = perCount == 0 ? kFanNoReading : kFanClock / perCount;
        return static_cast<uint8_t>(std::min<uint32_t>(count, kFanNoReading));
    }
    return hwmCellValue(r, bank);
}

void W83627::violation(std::string what) { violations_.push_back(std::move(what)); }

std::vector<std::string> W83627::violations() const {
    std::lock_guard lock(mutex_);
    auto out = violations_;
    for (auto& v : config_.violations()) out.push_back(v);
    return out;
}

std::vector<uint64_t> W83627::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

// ---- Pins ------------------------------------------------------------------------

const W83627::GpioGroup* W83627::parseLine(const std::string& line, int* pin) const {
    if (line.size() != 6 || line.rfind("gpio", 0) != 0) return nullptr;
    *pin = line[5] - '0';
    if (*pin < 0 || *pin > 7) return nullptr;
    for (const GpioGroup& g : kGpioGroups)
        if (line[4] - '0' == g.group) return &g;
    return nullptr;
}

bool W83627::setPin(const std::string& line, bool level) {
    std::lock_guard lock(mutex_);
    int pinNo = 0;
    const GpioGroup* g = parseLine(line, &pinNo);
    if (g == nullptr) return false;
    uint8_t& in = inputs_[g->group];
    const uint8_t bit = static_cast<uint8_t>(1u << pinNo);
    in = static_cast<uint8_t>(level ? in | bit : in & ~bit);
    return true;
}

std::optional<bool> W83627::pin(const std::string& line) const {
    std::lock_guard lock(mutex_);
    int pinNo = 0;
    const GpioGroup* g = parseLine(line, &pinNo);
    if (g == nullptr) return std::nullopt;
    const RegFile& f = file(g->device);
    const uint8_t bit = static_cast<uint8_t>(1u << pinNo);
    const bool input = (f[g->direction] & bit) != 0;
    return ((input ? inputs_.at(g->group) : f[g->data]) & bit) != 0;
}

// ---- Test and board side -------------------------------------------------------

W83627::RegFile& W83627::file(int device) { return device == kGlobal ? global_ : devices_[device]; }

const W83627::RegFile& W83627::file(int device) const {
    static const RegFile kEmpty{};
    if (device == kGlobal) return global_;
    auto it = devices_.find(device);
    return it != devices_.end() ? it->second : kEmpty;
}

uint8_t W83627::reg(int device, uint8_t r) const {
    std::lock_guard lock(mutex_);
    return file(device)[r];
}

void W83627::setReg(int device, uint8_t r, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (device == kGlobal && r == kRegId) return;  // the ID comes with the chip
    if (device == kDeviceWdt && r == wdt_.control) statusFromTimeout_ = false;
    file(device)[r] = value;
}

uint8_t W83627::hwm(uint8_t r, int bank) const {
    std::lock_guard lock(mutex_);
    return hwmReadLocked(r, bank);
}

void W83627::setHwm(uint8_t r, uint8_t value, int bank) {
    std::lock_guard lock(mutex_);
    for (size_t fan = 0; fan < fanRpm_.size(); ++fan)  // a raw count replaces the fan's speed
        if (r == kFans[fan].count && (kFans[fan].bank < 0 || kFans[fan].bank == bank)) fanRpm_[fan].reset();
    hwmCell(r, bank) = value;
}

void W83627::setFanRpm(int fan, uint32_t rpm) {
    std::lock_guard lock(mutex_);
    if (fan >= 1 && fan <= static_cast<int>(fanRpm_.size())) fanRpm_[static_cast<size_t>(fan - 1)] = rpm;
}

bool W83627::configOpen() const {
    std::lock_guard lock(mutex_);
    return config_.open();
}

uint16_t W83627::monitorBase() const {
    std::lock_guard lock(mutex_);
    return monitorBaseLocked();
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

    auto object = [&](const nlohmann::json& in, const std::string& key, const std::string& at) {
        if (!in.is_object()) throw BoardError(fmt::format("{}: \"{}\" is an object", at, key));
        return in.items();
    };
    auto byte = [](const nlohmann::json& v, const std::string& at) {
        return static_cast<uint8_t>(boardNumber(v, at, 0xFF));
    };
    if (entry.contains("config")) {
        for (auto& [device, regs] : object(entry["config"], "config", where)) {
            const std::string at = fmt::format("{}: config {}", where, device);
            const int d = device == "global" ? kGlobal : static_cast<int>(boardNumber(device, at, 0xFF));
            for (auto& [r, v] : object(regs, device, at)) chip->setReg(d, byte(r, at), byte(v, at + " " + r));
        }
    }
    if (entry.contains("hwm")) {
        for (auto& [r, v] : object(entry["hwm"], "hwm", where)) {
            const uint8_t reg = byte(r, where + ": hwm");
            if (banked(reg))
                throw BoardError(
                    fmt::format("{}: hwm: register {} is banked, give it in \"hwm_banks\"", where, r));
            chip->setHwm(reg, byte(v, where + ": hwm " + r));
        }
    }
    if (entry.contains("hwm_banks")) {
        for (auto& [bank, regs] : object(entry["hwm_banks"], "hwm_banks", where)) {
            const std::string at = fmt::format("{}: hwm_banks {}", where, bank);
            const int b = static_cast<int>(boardNumber(bank, at, 0xFF));
            if (!bankExists(b)) throw BoardError(fmt::format("{}: the banks are 0, 1, 2 and 5", at));
            for (auto& [r, v] : object(regs, bank, at)) {
                const uint8_t reg = byte(r, at);
                if (!banked(reg)) throw BoardError(fmt::format("{}: banked registers are 0x50 to 0x5f", at));
                chip->setHwm(reg, byte(v, at + " " + r), b);
            }
        }
    }
    if (entry.contains("fan_rpm")) {
        for (auto& [fan, rpm] : object(entry["fan_rpm"], "fan_rpm", where)) {
            const uint32_t n = boardNumber(fan, where + ": fan_rpm", 5);
            if (n == 0) throw BoardError(fmt::format("{}: fan_rpm: fans are numbered 1 to 5", where));
            chip->setFanRpm(static_cast<int>(n), boardNumber(rpm, where + ": fan_rpm " + fan, 100000));
        }
    }
    if (entry.contains("pins")) {
        for (auto& [line, level] : object(entry["pins"], "pins", where))
            if (!chip->setPin(line, boardNumber(level, where + ": pins " + line, 1) != 0))
                throw BoardError(fmt::format("{}: pins: no GPIO line '{}' on this chip", where, line));
    }
    return chip;
}

}  // namespace sim
