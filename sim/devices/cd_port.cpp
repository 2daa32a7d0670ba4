#include "sim/devices/cd_port.h"

#include <fmt/format.h>

#include "sim/board.h"
#include "sim/registry.h"

namespace sim {

CdPort::CdPort(Config config)
    : PortDevice("cd-port", {config.port, config.outPort != 0 ? config.outPort : config.port}),
      config_(std::move(config)),
      latch_(config_.latch),
      levels_(config_.levels) {
    for (uint8_t bit = 0; bit < 8; ++bit)
        if ((config_.outputs >> bit) & 1u) edges_[bit].push_back({0, ((latch_ >> bit) & 1u) != 0});
}

std::unique_ptr<Device> CdPort::fromBoard(const nlohmann::json& entry, const std::string& where) {
    Config c;
    if (!entry.contains("port")) throw BoardError(fmt::format("{}: a cd-port needs a \"port\"", where));
    c.port = static_cast<uint16_t>(boardNumber(entry["port"], where + ": port", 0xFFFF));
    if (entry.contains("out_port"))
        c.outPort = static_cast<uint16_t>(boardNumber(entry["out_port"], where + ": out_port", 0xFFFF));
    if (c.port == 0 || c.outPort == c.port)
        throw BoardError(fmt::format("{}: \"port\" is non-zero and \"out_port\" another port", where));
    const std::pair<const char*, uint8_t*> bytes[] = {
        {"inputs", &c.inputs}, {"outputs", &c.outputs}, {"levels", &c.levels}, {"latch", &c.latch}};
    for (auto& [key, field] : bytes)
        if (entry.contains(key))
            *field = static_cast<uint8_t>(boardNumber(entry[key], fmt::format("{}: {}", where, key), 0xFF));
    if (c.outPort == 0 && (c.inputs & c.outputs) != 0)
        throw BoardError(fmt::format("{}: a line is either an input or an output", where));
    c.names = LineNames::fromBoard(entry, where);
    return std::make_unique<CdPort>(std::move(c));
}

uint8_t CdPort::read(uint16_t port) {
    if (config_.outPort == 0)
        return static_cast<uint8_t>((levels_ & config_.inputs) | (latch_ & ~config_.inputs));
    return port == config_.port ? levels_ : latch_;
}

void CdPort::write(uint16_t port, uint8_t value) {
    if (port != outPort()) {
        violation(fmt::format("write of 0x{:02x} to the input port 0x{:04x}", value, port));
        return;
    }
    const uint8_t changed = static_cast<uint8_t>((latch_ ^ value) & config_.outputs);
    latch_ = value;
    for (uint8_t bit = 0; bit < 8; ++bit)
        if ((changed >> bit) & 1u) edges_[bit].push_back({now_, ((value >> bit) & 1u) != 0});
}

void CdPort::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    now_ = fromMs + ms;
}

std::optional<uint8_t> CdPort::outputBit(const std::string& name) const {
    const auto line = config_.names.find(name);
    if (!line || line->port != outPort() || ((config_.outputs >> line->bit) & 1u) == 0) return std::nullopt;
    return line->bit;
}

std::optional<uint8_t> CdPort::inputBit(const std::string& name) const {
    const auto line = config_.names.find(name);
    if (!line || line->port != config_.port || ((config_.inputs >> line->bit) & 1u) == 0) return std::nullopt;
    return line->bit;
}

bool CdPort::setPin(const std::string& name, bool level) {
    const auto bit = inputBit(name);
    if (!bit) return false;
    std::lock_guard lock(mutex_);
    levels_ = static_cast<uint8_t>(level ? levels_ | 1u << *bit : levels_ & ~(1u << *bit));
    return true;
}

std::optional<bool> CdPort::pin(const std::string& name) const {
    std::lock_guard lock(mutex_);
    if (const auto bit = outputBit(name)) return ((latch_ >> *bit) & 1u) != 0;
    if (const auto bit = inputBit(name)) return ((levels_ >> *bit) & 1u) != 0;
    return std::nullopt;
}

uint8_t CdPort::latch() const {
    std::lock_guard lock(mutex_);
    return latch_;
}

void CdPort::setLevels(uint8_t levels) {
    std::lock_guard lock(mutex_);
    levels_ = levels;
}

std::vector<CdPort::Edge> CdPort::history(const std::string& line) const {
    const auto bit = outputBit(line);
    return bit ? history(*bit) : std::vector<Edge>{};
}

std::vector<CdPort::Edge> CdPort::history(uint8_t bit) const {
    std::lock_guard lock(mutex_);
    return bit < 8 ? edges_[bit] : std::vector<Edge>{};
}

}  // namespace sim
