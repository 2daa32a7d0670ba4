#include "sim/devices/dio_ports.h"

#include <fmt/format.h>

#include "sim/board.h"
#include "sim/registry.h"

namespace sim {

std::optional<PortLine> parsePortLine(const std::string& text) {
    const size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 2 != text.size()) return std::nullopt;
    const char bit = text[dot + 1];
    if (bit < '0' || bit > '7') return std::nullopt;
    try {
        const uint32_t port = boardNumber(text.substr(0, dot), "line", 0xFFFF);
        return PortLine{static_cast<uint16_t>(port), static_cast<uint8_t>(bit - '0')};
    } catch (const BoardError&) {
        return std::nullopt;
    }
}

std::optional<PortLine> LineNames::find(const std::string& name) const {
    if (auto it = names_.find(name); it != names_.end()) return it->second;
    return parsePortLine(name);
}

LineNames LineNames::fromBoard(const nlohmann::json& entry, const std::string& where) {
    LineNames names;
    if (!entry.contains("lines")) return names;
    if (!entry["lines"].is_object())
        throw BoardError(fmt::format("{}: \"lines\" maps names to \"PORT.BIT\"", where));
    for (auto& [name, value] : entry["lines"].items()) {
        const auto line = value.is_string() ? parsePortLine(value.get<std::string>()) : std::nullopt;
        if (!line)
            throw BoardError(
                fmt::format("{}: line '{}': expected \"PORT.BIT\", got {}", where, name, value.dump()));
        names.add(name, *line);
    }
    return names;
}

namespace {

std::map<uint16_t, uint8_t> portMap(const nlohmann::json& entry, const char* key, const std::string& where) {
    std::map<uint16_t, uint8_t> ports;
    if (!entry.contains(key)) return ports;
    if (!entry[key].is_object()) throw BoardError(fmt::format("{}: \"{}\" maps ports to bytes", where, key));
    for (auto& [port, value] : entry[key].items()) {
        const std::string at = fmt::format("{}: {} {}", where, key, port);
        const uint16_t p = static_cast<uint16_t>(boardNumber(port, at, 0xFFFF));
        if (p == 0) throw BoardError(fmt::format("{}: port 0 is no port", at));
        ports[p] = static_cast<uint8_t>(boardNumber(value, at, 0xFF));
    }
    return ports;
}

// The ports the device answers at: its input and output ports, the data
// and direction ports where it has them.
std::vector<uint16_t> portsOf(const DioPorts::Config& c) {
    std::vector<uint16_t> ports;
    for (const auto& [port, _] : c.inputs) ports.push_back(port);
    for (const auto& [port, _] : c.outputs) ports.push_back(port);
    for (uint16_t port : {c.dataPort, c.directionPort})
        if (port != 0) ports.push_back(port);
    return ports;
}

}  // namespace

DioPorts::DioPorts(Config config)
    : PortDevice("dio-ports", portsOf(config)),
      config_(std::move(config)),
      levels_(config_.inputs),
      latches_(config_.outputs),
      dataLevels_(config_.dataLevels),
      direction_(config_.directionReset) {}

std::unique_ptr<Device> DioPorts::fromBoard(const nlohmann::json& entry, const std::string& where) {
    Config c;
    c.inputs = portMap(entry, "inputs", where);
    c.outputs = portMap(entry, "outputs", where);
    if (entry.contains("data") != entry.contains("direction"))
        throw BoardError(fmt::format("{}: \"data\" and \"direction\" come together", where));
    if (entry.contains("data")) {
        c.dataPort = static_cast<uint16_t>(boardNumber(entry["data"], where + ": data", 0xFFFF));
        c.directionPort =
            static_cast<uint16_t>(boardNumber(entry["direction"], where + ": direction", 0xFFFF));
        if (c.dataPort == 0 || c.directionPort == 0 || c.dataPort == c.directionPort)
            throw BoardError(fmt::format("{}: data and direction are two non-zero ports", where));
    }
    if (entry.contains("direction_reset"))
        c.directionReset =
            static_cast<uint8_t>(boardNumber(entry["direction_reset"], where + ": direction_reset", 0xFF));
    if (entry.contains("data_levels"))
        c.dataLevels = static_cast<uint8_t>(boardNumber(entry["data_levels"], where + ": data_levels", 0xFF));
    std::map<uint16_t, int> seen;
    for (auto& [p, _] : c.inputs) ++seen[p];
    for (auto& [p, _] : c.outputs) ++seen[p];
    if (c.dataPort != 0) ++seen[c.dataPort], ++seen[c.directionPort];
    for (auto& [p, n] : seen)
        if (n > 1) throw BoardError(fmt::format("{}: port 0x{:04x} is given twice", where, p));
    c.names = LineNames::fromBoard(entry, where);
    return std::make_unique<DioPorts>(std::move(c));
}

uint8_t DioPorts::read(uint16_t port) {
    if (isDirection(port)) return direction_;
    return wiresLocked(port);
}

void DioPorts::write(uint16_t port, uint8_t value) {
    if (isDirection(port)) {
        direction_ = value;
    } else if (isData(port)) {
        dataLatch_ = value;
    } else if (auto it = latches_.find(port); it != latches_.end()) {
        it->second = value;
    } else {
        violation(fmt::format("write of 0x{:02x} to input port 0x{:04x}", value, port));
    }
}

uint8_t DioPorts::wiresLocked(uint16_t port) const {
    if (isData(port)) return static_cast<uint8_t>((dataLevels_ & direction_) | (dataLatch_ & ~direction_));
    if (auto it = latches_.find(port); it != latches_.end()) return it->second;
    if (auto it = levels_.find(port); it != levels_.end()) return it->second;
    return 0xFF;
}

bool DioPorts::setPin(const std::string& name, bool level) {
    const auto line = config_.names.find(name);
    if (!line) return false;
    const uint8_t bit = static_cast<uint8_t>(1u << line->bit);
    std::lock_guard lock(mutex_);
    // A data-port line takes an outside level whatever its direction; it
    // shows while the line is an input.
    uint8_t* levels = isData(line->port) ? &dataLevels_ : nullptr;
    if (auto it = levels_.find(line->port); it != levels_.end()) levels = &it->second;
    if (levels == nullptr) return false;
    *levels = static_cast<uint8_t>(level ? *levels | bit : *levels & ~bit);
    return true;
}

std::optional<bool> DioPorts::pin(const std::string& name) const {
    const auto line = config_.names.find(name);
    if (!line || !claims(line->port) || isDirection(line->port)) return std::nullopt;
    std::lock_guard lock(mutex_);
    return ((wiresLocked(line->port) >> line->bit) & 1u) != 0;
}

uint8_t DioPorts::latch(uint16_t port) const {
    std::lock_guard lock(mutex_);
    if (isData(port)) return dataLatch_;
    return latches_.at(port);
}

uint8_t DioPorts::direction() const {
    std::lock_guard lock(mutex_);
    return direction_;
}

uint8_t DioPorts::wires(uint16_t port) const {
    std::lock_guard lock(mutex_);
    return wiresLocked(port);
}

void DioPorts::setLevels(uint16_t port, uint8_t levels) {
    std::lock_guard lock(mutex_);
    if (isData(port))
        dataLevels_ = levels;
    else
        levels_.at(port) = levels;
}

}  // namespace sim
