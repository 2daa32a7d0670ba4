#include "sim/devices/f81216.h"

#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"

namespace sim {

namespace {

// Keys a board strap can give the chip; the exit key is the same for all.
constexpr uint8_t kEntryKeys[] = {0x77, 0xA0, 0x87, 0x67};
constexpr uint8_t kExitKey = 0xAA;

bool isEntryKey(int value) {
    return std::find(std::begin(kEntryKeys), std::end(kEntryKeys), value) != std::end(kEntryKeys);
}

// Global configuration registers.
constexpr uint8_t kRegDevice = 0x07;
constexpr uint8_t kRegIdHigh = 0x20;
constexpr uint8_t kRegIdLow = 0x21;
constexpr uint8_t kFirstDeviceReg = 0x30;
constexpr uint8_t kRegActivate = 0x30;

// Watchdog of device 8.
constexpr int kDeviceWdt = 8;
constexpr uint8_t kWdtMode = 0xF0;
constexpr uint8_t kWdtCount = 0xF1;
constexpr uint8_t kWdtSeconds = 0x02;
constexpr uint8_t kWdtMinutes = 0x04;
constexpr uint8_t kWdtSetup = 0x70;  // written 0x00 before the watchdog is used

}  // namespace

F81216::F81216(uint16_t configPort, uint16_t chipId, uint8_t entryKey)
    : indexPort_(configPort), chipId_(chipId), entryKey_(entryKey), config_(configPort, entryKey) {
    regs_.file(kGlobal)[kRegIdHigh] = static_cast<uint8_t>(chipId >> 8);
    regs_.file(kGlobal)[kRegIdLow] = static_cast<uint8_t>(chipId);
}

// ---- Bus side ------------------------------------------------------------------

bool F81216::claims(uint16_t port) const { return port == indexPort_ || port == indexPort_ + 1; }

uint8_t F81216::read(uint16_t port) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return config_.readIndex();
    return dataRead();
}

void F81216::write(uint16_t port, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (port == indexPort_) return indexWrite(value);
    dataWrite(value);
}

// A driver that does not know the chip's key tries candidates: a candidate
// written twice, the ID read (unanswered) and 0xAA make one such round. Those
// accesses are kept from the configuration-mode checker; everything else
// goes through it.
void F81216::indexWrite(uint8_t value) {
    const int previous = lastClosedIndex_;
    lastClosedIndex_ = -1;
    if (!config_.open()) {
        if (value == kExitKey && probing_) {
            probing_ = false;
            return;
        }
        if (value != entryKey_ && isEntryKey(value) && previous == value) probing_ = true;
        lastClosedIndex_ = value;
    }
    config_.writeIndex(value);
    if (config_.open()) probing_ = false;
}

bool F81216::probeRead() const {
    return !config_.open() && probing_ && (lastClosedIndex_ == kRegIdHigh || lastClosedIndex_ == kRegIdLow);
}

uint8_t F81216::dataRead() {
    const bool probe = probeRead();
    lastClosedIndex_ = -1;
    if (probe || !config_.dataAccess(false)) return 0xFF;
    const uint8_t r = config_.index();
    return holder(r)[r];
}

void F81216::dataWrite(uint8_t value) {
    lastClosedIndex_ = -1;
    if (!config_.dataAccess(true, value)) return;
    const uint8_t r = config_.index();
    if (r == kRegIdHigh || r == kRegIdLow) return;  // read-only
    RegFile& f = holder(r);
    const bool wdt = &f == &regs_.file(kDeviceWdt);
    const bool wasRunning = watchdogRunning();
    // A reload or a change of unit starts the unit afresh.
    if (wdt && (r == kWdtCount || r == kWdtMode)) unitElapsedMs_ = 0;
    f[r] = value;
    // What 0x70 does is not known; the chip's programming sequence clears
    // it before the watchdog runs, and so must a driver.
    if (!wasRunning && watchdogRunning() && !setupCleared_)
        violation("watchdog countdown started before register 0x70 of device 8 was written with 0x00");
    if (wdt && r == kWdtSetup && value == 0x00) setupCleared_ = true;
}

bool F81216::watchdogRunning() const {
    const RegFile& f = regs_.file(kDeviceWdt);
    return (f[kRegActivate] & 1) != 0 && f[kWdtCount] != 0;
}

// The mode register clocks the count: bit 2 by minutes, else bit 1 by
// seconds; with neither set (its power-on state) the count does not fall.
uint64_t F81216::unitMs() const {
    const uint8_t mode = regs_.file(kDeviceWdt)[kWdtMode];
    if ((mode & kWdtMinutes) != 0) return 60000;
    return (mode & kWdtSeconds) != 0 ? 1000 : 0;
}

void F81216::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    RegFile& f = regs_.file(kDeviceWdt);
    uint64_t now = fromMs;
    uint64_t left = ms;
    while (left > 0 && watchdogRunning() && unitMs() != 0) {
        const uint64_t unit = unitMs();
        const uint64_t step = std::min(left, unit - unitElapsedMs_);
        unitElapsedMs_ += step;
        now += step;
        left -= step;
        if (unitElapsedMs_ < unit) break;
        unitElapsedMs_ = 0;
        if (--f[kWdtCount] == 0) resets_.push_back(now);
    }
}

std::vector<std::string> F81216::violations() const {
    std::lock_guard lock(mutex_);
    auto out = violations_;
    for (auto& v : config_.violations()) out.push_back(v);
    return out;
}

void F81216::violation(std::string what) { violations_.push_back(std::move(what)); }

std::vector<uint64_t> F81216::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

// ---- Test side -------------------------------------------------------------------

// Registers below 0x30 are the chip's own; from 0x30 up they belong to the
// logical device register 0x07 selects.
F81216::RegFile& F81216::holder(uint8_t r) {
    return r < kFirstDeviceReg ? regs_.file(kGlobal) : regs_.file(regs_.file(kGlobal)[kRegDevice]);
}

uint8_t F81216::reg(int device, uint8_t r) const {
    std::lock_guard lock(mutex_);
    return regs_.file(device)[r];
}

void F81216::setReg(int device, uint8_t r, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (device == kGlobal && (r == kRegIdHigh || r == kRegIdLow)) return;  // the ID comes with the chip
    regs_.file(device)[r] = value;
}

bool F81216::configOpen() const {
    std::lock_guard lock(mutex_);
    return config_.open();
}

// ---- Board file ------------------------------------------------------------------
//
//   {"type": "f81216", "config_port": "0x4e", "id": "0x0216", "entry_key": "0x87"}

std::unique_ptr<Device> F81216::fromBoard(const nlohmann::json& entry, const std::string& where) {
    const uint32_t key =
        entry.contains("entry_key") ? boardNumber(entry["entry_key"], where + ": entry_key", 0xFF) : 0x77;
    if (!isEntryKey(static_cast<int>(key)))
        throw BoardError(fmt::format("{}: entry_key is 0x77, 0xa0, 0x87 or 0x67, not {:#x}", where, key));
    return std::make_unique<F81216>(superIoPort(entry, where), superIoId(entry, where, 0x0216),
                                    static_cast<uint8_t>(key));
}

}  // namespace sim
