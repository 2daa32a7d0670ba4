#include "sim/devices/superio.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint8_t kRegBaseHigh = 0x60;
constexpr uint8_t kRegBaseLow = 0x61;
}  // namespace

SuperIo::SuperIo(uint16_t configPort, const SioKeys& keys, std::initializer_list<uint8_t> readOnly)
    : indexPort_(configPort), config_(configPort, keys, violations_), readOnly_(readOnly) {}

// ---- Bus side ------------------------------------------------------------------

bool SuperIo::claims(uint16_t port) const {
    std::lock_guard lock(mutex_);
    if (port == indexPort_ || port == indexPort_ + 1) return true;
    return blockDecodes(block_.base, block_.first, block_.size, port);
}

uint8_t SuperIo::read(uint16_t port) {
    if (port == indexPort_) return config_.readIndex();
    if (port == indexPort_ + 1) return dataRead();
    return blockRead(blockOffset(block_.base, port));
}

void SuperIo::write(uint16_t port, uint8_t value) {
    if (port == indexPort_) return indexWrite(value);
    if (port == indexPort_ + 1) return dataWrite(value);
    blockWrite(blockOffset(block_.base, port), value);
}

void SuperIo::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    advanceLocked(fromMs, ms);
}

bool SuperIo::readOnly(uint8_t r) const {
    return std::find(readOnly_.begin(), readOnly_.end(), r) != readOnly_.end();
}

uint8_t SuperIo::dataRead() {
    if (!config_.dataAccess(false)) return 0xFF;
    const uint8_t r = config_.index();
    return r < kSioFirstDeviceReg ? file(kGlobal)[r] : deviceRead(selectedDevice(), r);
}

void SuperIo::dataWrite(uint8_t value) {
    if (!config_.dataAccess(true, value)) return;
    const uint8_t r = config_.index();
    if (r == kSioRegDevice)
        file(kGlobal)[r] = value;
    else if (readOnly(r))
        return;
    else if (r < kSioFirstDeviceReg)
        globalWrite(r, value);
    else
        deviceWrite(selectedDevice(), r, value);
    refreshDecode();
}

uint16_t SuperIo::baseOf(int device) const {
    const RegFile& f = file(device);
    return static_cast<uint16_t>(f[kRegBaseHigh] << 8 | f[kRegBaseLow]);
}

void SuperIo::refreshDecode() {
    const Block now = blockLocked();
    if (now == block_) return;
    block_ = now;
    decodeChanged();
}

std::vector<std::string> SuperIo::violations() const {
    std::lock_guard lock(mutex_);
    auto out = violations_;
    config_.addLeftOpen(out);
    return out;
}

std::vector<uint64_t> SuperIo::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

// ---- Test and board side -------------------------------------------------------

uint8_t SuperIo::reg(int device, uint8_t r) const {
    std::lock_guard lock(mutex_);
    return file(device)[r];
}

void SuperIo::setReg(int device, uint8_t r, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (device == kGlobal && readOnly(r)) return;
    file(device)[r] = value;
    preset(device, r);
    refreshDecode();
}

bool SuperIo::configOpen() const {
    std::lock_guard lock(mutex_);
    return config_.open();
}

uint16_t SuperIo::blockBase() const {
    std::lock_guard lock(mutex_);
    return blockBaseLocked();
}

// ---- Hardware monitor ------------------------------------------------------------

MonitorSuperIo::MonitorSuperIo(uint16_t configPort, const SioKeys& keys,
                               std::initializer_list<uint8_t> idRegs, std::span<const FanCount> fanCounts,
                               std::span<const uint8_t> temperatures)
    : SuperIo(configPort, keys, idRegs), fanCounts_(fanCounts), temperatures_(temperatures) {}

uint8_t MonitorSuperIo::measuredLocked(uint8_t r, int bank) const {
    for (size_t fan = 0; fan < fanCounts_.size(); ++fan) {
        const FanCount& c = fanCounts_[fan];
        if (!c.holds(r, bank) || !fanRpm_[fan]) continue;
        const uint16_t count = fanCountAt(fan, *fanRpm_[fan]);
        return static_cast<uint8_t>(r == c.high ? count >> 8 : count);
    }
    return hwmCellValue(r, bank);
}

uint8_t MonitorSuperIo::hwm(uint8_t r, int bank) const {
    std::lock_guard lock(mutex_);
    return measuredLocked(r, bank);
}

void MonitorSuperIo::setHwm(uint8_t r, uint8_t value, int bank) {
    std::lock_guard lock(mutex_);
    for (size_t fan = 0; fan < fanCounts_.size(); ++fan)
        if (fanCounts_[fan].holds(r, bank)) fanRpm_[fan].reset();
    hwmPreset(r, value);
    hwmCell(r, bank) = value;
}

void MonitorSuperIo::setFanRpm(int fan, uint32_t rpm) {
    std::lock_guard lock(mutex_);
    if (fan >= 1 && static_cast<size_t>(fan) <= fanCounts_.size())
        fanRpm_[static_cast<size_t>(fan - 1)] = rpm;
}

void MonitorSuperIo::setTemperature(int sensor, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (sensor >= 1 && static_cast<size_t>(sensor) <= temperatures_.size())
        hwm_[temperatures_[static_cast<size_t>(sensor - 1)]] = value;
}

// ---- Board file ------------------------------------------------------------------

uint16_t superIoPort(const nlohmann::json& entry, const std::string& where) {
    const uint32_t port = entry.contains("config_port")
                              ? boardNumber(entry["config_port"], where + ": config_port", 0xFFFF)
                              : 0x2E;
    if (port != 0x2E && port != 0x4E)
        throw BoardError(fmt::format("{}: config_port is 0x2e or 0x4e, not {:#x}", where, port));
    return static_cast<uint16_t>(port);
}

uint16_t superIoId(const nlohmann::json& entry, const std::string& where, uint16_t fallback, uint32_t max) {
    return static_cast<uint16_t>(entry.contains("id") ? boardNumber(entry["id"], where + ": id", max)
                                                      : fallback);
}

const nlohmann::json* superIoObject(const nlohmann::json& entry, const char* key, const std::string& where) {
    if (!entry.contains(key)) return nullptr;
    if (!entry[key].is_object()) throw BoardError(fmt::format("{}: \"{}\" is an object", where, key));
    return &entry[key];
}

}  // namespace sim
