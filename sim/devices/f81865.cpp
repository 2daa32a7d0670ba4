#include "sim/devices/f81865.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"
#include "sim/registry.h"

namespace sim {

namespace {

// Configuration mode keys, written to the index port.
constexpr uint8_t kEntryKey = 0x87;
constexpr uint8_t kExitKey = 0xAA;

// Global configuration registers.
constexpr uint8_t kRegDevice = 0x07;
constexpr uint8_t kRegIdHigh = 0x20;
constexpr uint8_t kRegIdLow = 0x21;
constexpr uint8_t kFirstDeviceReg = 0x30;
constexpr uint8_t kRegActivate = 0x30;
constexpr uint8_t kRegBaseHigh = 0x60;
constexpr uint8_t kRegBaseLow = 0x61;

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
constexpr uint32_t kFanClock = 1500000;
constexpr uint16_t kFanStopped = 0x0FFF;

}  // namespace

F81865::F81865(uint16_t configPort, uint16_t chipId)
    : indexPort_(configPort), chipId_(chipId), gpioGroups_(chipId == 0x0704 ? 7 : 9) {
    global_[kRegIdHigh] = static_cast<uint8_t>(chipId >> 8);
    global_[kRegIdLow] = static_cast<uint8_t>(chipId);
    devices_[kDeviceHwm][kRegActivate] = 0x01;  // the monitor decodes from power-on
    for (uint8_t duty : kFanDuty) hwm_[duty] = 0xFF;
    for (uint8_t high : kFanCountHigh) {  // no fan: full-scale count
        hwm_[high] = static_cast<uint8_t>(kFanStopped >> 8);
        hwm_[high + 1] = static_cast<uint8_t>(kFanStopped);
    }
    inputs_.fill(0xFF);  // input pins float high
}

// ---- Bus side ------------------------------------------------------------------

uint16_t F81865::monitorBaseLocked() const { return monitorBase_; }

// The monitor block's decode, kept from the registers that set it.
void F81865::monitorRegWritten(int device, uint8_t r) {
    if (device != kDeviceHwm || (r != kRegActivate && r != kRegBaseHigh && r != kRegBaseLow)) return;
    const RegFile& f = file(kDeviceHwm);
    const uint16_t base = (f[kRegActivate] & 1) == 0
                              ? 0
                              : static_cast<uint16_t>((f[kRegBaseHigh] << 8 | f[kRegBaseLow]) & 0xFFF8);
    if (base == monitorBase_) return;
    monitorBase_ = base;
    decodeChanged();
}

bool F81865::claims(uint16_t port) const {
    std::lock_guard lock(mutex_);
    if (port == indexPort_ || port == indexPort_ + 1) return true;
    return blockDecodes(monitorBaseLocked(), 5, 2, port);
}

uint8_t F81865::read(uint16_t port) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return open_ ? index_ : 0xFF;
    if (port == indexPort_ + 1) return dataRead();
    const uint16_t base = monitorBaseLocked();
    if (port == static_cast<uint16_t>(base + 5)) return hwmIndex_;
    return hwmReadLocked(hwmIndex_);
}

void F81865::write(uint16_t port, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return indexWrite(value);
    if (port == indexPort_ + 1) return dataWrite(value);
    const uint16_t base = monitorBaseLocked();
    if (port == static_cast<uint16_t>(base + 5))
        hwmIndex_ = value;
    else
        hwmWriteLocked(hwmIndex_, value);
}

void F81865::indexWrite(uint8_t value) {
    if (!open_) {
        if (value == kEntryKey) {
            if (++keys_ == 2) {
                open_ = true;
                keys_ = 0;
                selected_ = false;
                lastIndexKey_ = false;
            }
            return;
        }
        keys_ = 0;
        if (value == kExitKey) violation("exit key 0xaa written while configuration mode is closed");
        return;
    }
    if (value == kExitKey) {
        open_ = false;
        return;
    }
    if (value == kEntryKey && lastIndexKey_) {
        violation("configuration mode opened again inside an open bracket");
        lastIndexKey_ = false;
    } else {
        lastIndexKey_ = value == kEntryKey;
    }
    index_ = value;
}

uint8_t F81865::dataRead() {
    lastIndexKey_ = false;
    if (!open_) {
        violation(fmt::format("data port 0x{:x} read while configuration mode is closed", indexPort_ + 1));
        return 0xFF;
    }
    if (index_ < kFirstDeviceReg) return global_[index_];
    if (!selected_)
        violation(fmt::format("register 0x{:02x} read before a logical device was selected", index_));
    return deviceRead(index_);
}

void F81865::dataWrite(uint8_t value) {
    lastIndexKey_ = false;
    if (!open_) {
        violation(fmt::format("data port 0x{:x} written (0x{:02x}) while configuration mode is closed",
                              indexPort_ + 1, value));
        return;
    }
    if (index_ == kRegDevice) {
        global_[kRegDevice] = value;
        selected_ = true;
        return;
    }
    if (index_ == kRegIdHigh || index_ == kRegIdLow) return;  // read-only
    if (index_ < kFirstDeviceReg) {
        global_[index_] = value;
        return;
    }
    if (!selected_)
        violation(fmt::format("register 0x{:02x} written before a logical device was selected", index_));
    deviceWrite(index_, value);
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

uint8_t F81865::deviceRead(uint8_t r) {
    const int device = global_[kRegDevice];
    const RegFile& f = file(device);
    int kind = 0;
    if (device == kDeviceGpio) {
        const int g = gpioGroupOf(r, &kind);
        if (g >= 0 && kind == kGpioStatus) {
            const uint8_t enable = f[kGpioBlocks[g] + kGpioEnable];
            const uint8_t data = f[kGpioBlocks[g] + kGpioData];
            return static_cast<uint8_t>((enable & data) | (~enable & inputs_[g]));
        }
    }
    return f[r];
}

void F81865::deviceWrite(uint8_t r, uint8_t value) {
    const int device = global_[kRegDevice];
    RegFile& f = file(device);
    int kind = 0;
    if (device == kDeviceGpio && gpioGroupOf(r, &kind) >= 0 && kind == kGpioStatus) return;  // read-only
    if (device == kDeviceWdt && r == kWdtControl) return watchdogWriteControl(value);
    if (device == kDeviceWdt && r == kWdtCount) unitElapsedMs_ = 0;  // a reload restarts the unit
    f[r] = value;
    monitorRegWritten(device, r);
}

bool F81865::watchdogRunning() const {
    auto it = devices_.find(kDeviceWdt);
    return it != devices_.end() && (it->second[kRegActivate] & 1) != 0 &&
           (it->second[kWdtControl] & kWdtEnable) != 0;
}

void F81865::watchdogWriteControl(uint8_t value) {
    RegFile& f = file(kDeviceWdt);
    const bool wasRunning = watchdogRunning();
    uint8_t status = f[kWdtControl] & kWdtStatus;
    if ((value & kWdtStatus) != 0) status = 0;
    f[kWdtControl] = static_cast<uint8_t>((value & ~kWdtStatus) | status);
    if (!wasRunning && watchdogRunning()) unitElapsedMs_ = 0;
}

void F81865::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    RegFile& f = file(kDeviceWdt);
    uint64_t now = fromMs;
    uint64_t left = ms;
    while (watchdogRunning()) {
        if (f[kWdtCount] == 0) {
            f[kWdtControl] = static_cast<uint8_t>((f[kWdtControl] & ~kWdtEnable) | kWdtStatus);
            if ((f[kWdtOutput] & kWdtResetOutput) != 0) resets_.push_back(now);
            break;
        }
        if (left == 0) break;
        const uint64_t unit = (f[kWdtControl] & kWdtMinutes) != 0 ? 60000 : 1000;
        const uint64_t step = std::min(left, unit - unitElapsedMs_);
        unitElapsedMs_ += step;
        now += step;
        left -= step;
        if (unitElapsedMs_ >= unit) {
            unitElapsedMs_ = 0;
            --f[kWdtCount];
        }
    }
}

uint8_t F81865::hwmReadLocked(uint8_t r) const {
    for (size_t fan = 0; fan < fanRpm_.size(); ++fan) {
        const uint8_t high = kFanCountHigh[fan];
        if ((r != high && r != high + 1) || !fanRpm_[fan]) continue;
        uint32_t rpm = *fanRpm_[fan];
        if (((hwm_[kFanModeReg] >> (2 * fan)) & 3) == 3) rpm = rpm * hwm_[kFanDuty[fan]] / 255;
        const uint32_t count = rpm == 0 ? kFanStopped : std::min<uint32_t>(kFanClock / rpm, 0xFFFF);
        return static_cast<uint8_t>(r == high ? count >> 8 : count);
    }
    return hwm_[r];
}

void F81865::hwmWriteLocked(uint8_t r, uint8_t value) {
    if (std::find(std::begin(kMonitorReadOnly), std::end(kMonitorReadOnly), r) != std::end(kMonitorReadOnly))
        return;
    hwm_[r] = value;
}

void F81865::violation(std::string what) { violations_.push_back(std::move(what)); }

std::vector<std::string> F81865::violations() const {
    std::lock_guard lock(mutex_);
    auto out = violations_;
    if (open_) out.push_back("configuration mode left open");
    return out;
}

std::vector<uint64_t> F81865::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

// ---- Pins ------------------------------------------------------------------------

std::optional<std::pair<int, int>> F81865::parseLine(const std::string& line) const {
    if (line.size() != 6 || line.rfind("gpio", 0) != 0) return std::nullopt;
    const int group = line[4] - '0';
    const int pin = line[5] - '0';
    if (group < 0 || group >= gpioGroups_ || pin < 0 || pin > 7) return std::nullopt;
    return std::make_pair(group, pin);
}

bool F81865::setPin(const std::string& line, bool level) {
    std::lock_guard lock(mutex_);
    auto at = parseLine(line);
    if (!at) return false;
    const uint8_t bit = static_cast<uint8_t>(1u << at->second);
    inputs_[at->first] = static_cast<uint8_t>(level ? inputs_[at->first] | bit : inputs_[at->first] & ~bit);
    return true;
}

std::optional<bool> F81865::pin(const std::string& line) const {
    std::lock_guard lock(mutex_);
    auto at = parseLine(line);
    if (!at) return std::nullopt;
    const RegFile& f = file(kDeviceGpio);
    const uint8_t block = kGpioBlocks[at->first];
    const uint8_t bit = static_cast<uint8_t>(1u << at->second);
    const bool output = (f[block + kGpioEnable] & bit) != 0;
    return ((output ? f[block + kGpioData] : inputs_[at->first]) & bit) != 0;
}

// ---- Test and board side -------------------------------------------------------

F81865::RegFile& F81865::file(int device) { return device == kGlobal ? global_ : devices_[device]; }

const F81865::RegFile& F81865::file(int device) const {
    static const RegFile kEmpty{};
    if (device == kGlobal) return global_;
    auto it = devices_.find(device);
    return it != devices_.end() ? it->second : kEmpty;
}

uint8_t F81865::reg(int device, uint8_t r) const {
    std::lock_guard lock(mutex_);
    return file(device)[r];
}

void F81865::setReg(int device, uint8_t r, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (device == kGlobal && (r == kRegIdHigh || r == kRegIdLow)) return;  // the ID comes with the chip
    file(device)[r] = value;
    monitorRegWritten(device, r);
}

uint8_t F81865::hwm(uint8_t r) const {
    std::lock_guard lock(mutex_);
    return hwmReadLocked(r);
}

void F81865::setHwm(uint8_t r, uint8_t value) {
    std::lock_guard lock(mutex_);
    for (size_t fan = 0; fan < fanRpm_.size(); ++fan)  // a raw count replaces the fan's speed
        if (r == kFanCountHigh[fan] || r == kFanCountHigh[fan] + 1) fanRpm_[fan].reset();
    hwm_[r] = value;
}

void F81865::setFanRpm(int fan, uint32_t rpm) {
    std::lock_guard lock(mutex_);
    if (fan >= 1 && fan <= static_cast<int>(fanRpm_.size())) fanRpm_[static_cast<size_t>(fan - 1)] = rpm;
}

void F81865::setTemperature(int sensor, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (sensor >= 1 && sensor <= 3) hwm_[kTempRegs[sensor - 1]] = value;
}

bool F81865::configOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

uint16_t F81865::monitorBase() const {
    std::lock_guard lock(mutex_);
    return monitorBaseLocked();
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "f81865", "config_port": "0x4e", "id": "0x1010",
//    "config": {"global": {"0x2d": "0x.."}, "4": {"0x60": "0x0a", "0x61": "0x00"}},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45},
//    "pins": {"gpio10": 0}}

std::unique_ptr<Device> F81865::fromBoard(const nlohmann::json& entry, const std::string& where) {
    const uint32_t port = entry.contains("config_port")
                              ? boardNumber(entry["config_port"], where + ": config_port", 0xFFFF)
                              : 0x2E;
    if (port != 0x2E && port != 0x4E)
        throw BoardError(fmt::format("{}: config_port is 0x2e or 0x4e, not {:#x}", where, port));
    const uint32_t id = entry.contains("id") ? boardNumber(entry["id"], where + ": id", 0xFFFF) : 0x1010;
    auto chip = std::make_unique<F81865>(static_cast<uint16_t>(port), static_cast<uint16_t>(id));

    auto object = [&](const char* key) -> const nlohmann::json* {
        if (!entry.contains(key)) return nullptr;
        if (!entry[key].is_object()) throw BoardError(fmt::format("{}: \"{}\" is an object", where, key));
        return &entry[key];
    };
    if (auto* config = object("config")) {
        for (auto& [device, regs] : config->items()) {
            const std::string at = fmt::format("{}: config {}", where, device);
            const int d = device == "global" ? kGlobal : static_cast<int>(boardNumber(device, at, 0xFF));
            if (!regs.is_object()) throw BoardError(fmt::format("{}: registers are an object", at));
            for (auto& [r, v] : regs.items())
                chip->setReg(d, static_cast<uint8_t>(boardNumber(r, at, 0xFF)),
                             static_cast<uint8_t>(boardNumber(v, at + " " + r, 0xFF)));
        }
    }
    if (auto* hwm = object("hwm"))
        for (auto& [r, v] : hwm->items())
            chip->setHwm(static_cast<uint8_t>(boardNumber(r, where + ": hwm", 0xFF)),
                         static_cast<uint8_t>(boardNumber(v, where + ": hwm " + r, 0xFF)));
    if (auto* fans = object("fan_rpm"))
        for (auto& [fan, rpm] : fans->items()) {
            const uint32_t n = boardNumber(fan, where + ": fan_rpm", 3);
            if (n == 0) throw BoardError(fmt::format("{}: fan_rpm: fans are numbered 1 to 3", where));
            chip->setFanRpm(static_cast<int>(n), boardNumber(rpm, where + ": fan_rpm " + fan, 100000));
        }
    if (auto* temps = object("temperature"))
        for (auto& [sensor, value] : temps->items()) {
            const uint32_t n = boardNumber(sensor, where + ": temperature", 3);
            if (n == 0) throw BoardError(fmt::format("{}: temperature: sensors are numbered 1 to 3", where));
            chip->setTemperature(static_cast<int>(n), static_cast<uint8_t>(boardNumber(
                                                          value, where + ": temperature " + sensor, 0xFF)));
        }
    if (auto* pins = object("pins"))
        for (auto& [line, level] : pins->items())
            if (!chip->setPin(line, boardNumber(level, where + ": pins " + line, 1) != 0))
                throw BoardError(fmt::format("{}: pins: no GPIO line '{}' on this chip", where, line));
    return chip;
}

}  // namespace sim
