#include "sim/devices/superio.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint8_t kRegBaseHigh = 0x60;
constexpr uint8_t kRegBaseLow = 0x61;
}  // namespace

SuperIo::SuperIo(const char* type, uint16_t configPort, const SioKeys& keys,
                 std::initializer_list<uint8_t> idRegs, uint16_t chipId)
    : indexPort_(configPort),
      chipId_(chipId),
      config_(configPort, keys, violations_),
      type_(type),
      readOnly_(idRegs) {
    gpioInputs_.fill(0xFF);  // input pins float high
    size_t shift = 8 * idRegs.size();
    for (uint8_t r : idRegs) file(kGlobal)[r] = static_cast<uint8_t>(chipId >> (shift -= 8));
}

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
    auto out = violations_.list();
    config_.addLeftOpen(out);
    return out;
}

std::vector<uint64_t> SuperIo::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

// ---- Test and board side -------------------------------------------------------

bool SuperIo::setPin(const std::string& line, bool level) {
    std::lock_guard lock(mutex_);
    const auto at = gpioPin(line);
    if (!at) return false;
    uint8_t& in = gpioInputs_[at->group];
    in = static_cast<uint8_t>(level ? in | at->bit : in & ~at->bit);
    return true;
}

std::optional<bool> SuperIo::pin(const std::string& line) const {
    std::lock_guard lock(mutex_);
    const auto at = gpioPin(line);
    if (!at) return std::nullopt;
    return (gpioWires(at->group) & at->bit) != 0;
}

std::optional<std::pair<int, uint8_t>> SuperIo::splitLine(const std::string& line, const char* prefix) {
    const size_t n = std::char_traits<char>::length(prefix);
    if (line.size() != n + 2 || line.compare(0, n, prefix) != 0) return std::nullopt;
    const int pin = line[n + 1] - '0';
    if (pin < 0 || pin > 7) return std::nullopt;
    return std::make_pair(line[n] - '0', static_cast<uint8_t>(1u << pin));
}

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

MonitorSuperIo::MonitorSuperIo(const char* type, uint16_t configPort, const SioKeys& keys,
                               std::initializer_list<uint8_t> idRegs, uint16_t chipId,
                               std::span<const FanCount> fanCounts, std::span<const uint8_t> temperatures)
    : SuperIo(type, configPort, keys, idRegs, chipId), fanCounts_(fanCounts), temperatures_(temperatures) {}

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
