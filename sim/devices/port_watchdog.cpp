#include "sim/devices/port_watchdog.h"

#include <fmt/format.h>

#include "sim/board.h"
#include "sim/registry.h"

namespace sim {

namespace {

struct AccessName {
    const char* name;
    PortWatchdog::Access access;
};
const AccessName kAccessNames[] = {{"read", PortWatchdog::Access::Read},
                                   {"write", PortWatchdog::Access::Write}};

struct UnitName {
    const char* name;
    uint64_t ms;
};
const UnitName kUnitNames[] = {{"s", 1000}, {"min", 60000}};

const char* accessName(PortWatchdog::Access a) { return a == PortWatchdog::Access::Read ? "read" : "write"; }

std::optional<PortWatchdog::PortAccess> portAccess(const nlohmann::json& entry, const char* key,
                                                   const std::string& where) {
    if (!entry.contains(key)) return std::nullopt;
    const std::string at = fmt::format("{}: {}", where, key);
    const nlohmann::json& a = entry[key];
    if (!a.is_object() || !a.contains("access") || !a["access"].is_string() || !a.contains("port"))
        throw BoardError(fmt::format("{}: expected {{\"access\": \"read\"|\"write\", \"port\": PORT}}", at));
    PortWatchdog::PortAccess result{};
    bool known = false;
    for (const AccessName& n : kAccessNames) {
        if (a["access"].get<std::string>() == n.name) {
            result.access = n.access;
            known = true;
        }
    }
    if (!known) throw BoardError(fmt::format("{}: access is \"read\" or \"write\"", at));
    result.port = static_cast<uint16_t>(boardNumber(a["port"], at, 0xFFFF));
    if (result.port == 0) throw BoardError(fmt::format("{}: port 0 is no port", at));
    return result;
}

// The ports the actions and the count take.
std::vector<uint16_t> portsOf(const PortWatchdog::Config& c) {
    std::vector<uint16_t> ports{c.start.port};
    for (const auto& action : {c.stop, c.refresh})
        if (action) ports.push_back(action->port);
    if (c.countPort != 0) ports.push_back(c.countPort);
    return ports;
}

}  // namespace

PortWatchdog::PortWatchdog(Config config)
    : PortDevice("port-watchdog", portsOf(config)), config_(config), count_(config.count) {}

std::unique_ptr<Device> PortWatchdog::fromBoard(const nlohmann::json& entry, const std::string& where) {
    Config c;
    const auto start = portAccess(entry, "start", where);
    if (!start) throw BoardError(fmt::format("{}: a port-watchdog needs a \"start\" action", where));
    c.start = *start;
    c.stop = portAccess(entry, "stop", where);
    c.refresh = portAccess(entry, "refresh", where);
    // A read carries no value, so one read cannot both start and stop.
    if (c.stop && c.stop->access == Access::Read &&
        ((c.start.access == Access::Read && c.start.port == c.stop->port) ||
         (c.refresh && c.refresh->access == Access::Read && c.refresh->port == c.stop->port)))
        throw BoardError(fmt::format("{}: the same read cannot start and stop the watchdog", where));
    if (entry.contains("count_port"))
        c.countPort = static_cast<uint16_t>(boardNumber(entry["count_port"], where + ": count_port", 0xFFFF));
    if (entry.contains("count"))
        c.count = static_cast<uint8_t>(boardNumber(entry["count"], where + ": count", 0xFF));
    if (entry.contains("unit")) {
        const std::string unit = entry["unit"].is_string() ? entry["unit"].get<std::string>() : "";
        bool known = false;
        for (const UnitName& u : kUnitNames) {
            if (unit == u.name) {
                c.unitMs = u.ms;
                known = true;
            }
        }
        if (!known) throw BoardError(fmt::format("{}: unit is \"s\" or \"min\"", where));
    }
    return std::make_unique<PortWatchdog>(c);
}

bool PortWatchdog::matches(const std::optional<PortAccess>& action, Access kind, uint16_t port) const {
    return action && action->access == kind && action->port == port;
}

uint8_t PortWatchdog::read(uint16_t port) {
    access(Access::Read, port, 0);
    return 0xFF;  // the byte read carries nothing
}

void PortWatchdog::write(uint16_t port, uint8_t value) { access(Access::Write, port, value); }

void PortWatchdog::access(Access kind, uint16_t port, uint8_t value) {
    const bool start = matches(config_.start, kind, port);
    const bool refresh = matches(config_.refresh, kind, port);
    const bool stop = matches(config_.stop, kind, port);
    const bool countPort = kind == Access::Write && config_.countPort != 0 && port == config_.countPort;
    if (!start && !refresh && !stop && !countPort) {
        violation(
            fmt::format("{} at port 0x{:04x}, which no action of the watchdog uses", accessName(kind), port));
        return;
    }
    if (countPort) count_ = value;
    if (!start && !refresh) {
        if (stop) running_ = false;
        return;
    }
    if (kind == Access::Write) count_ = value;  // the byte written is the count
    if (count_ == 0) {
        running_ = false;
        return;
    }
    if (start || running_) {
        if (!running_) ++starts_;
        running_ = true;
        remainingMs_ = count_ * config_.unitMs;
    }
}

void PortWatchdog::advance(uint64_t fromMs, uint64_t ms) {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    if (remainingMs_ > ms) {
        remainingMs_ -= ms;
        return;
    }
    resets_.push_back(fromMs + remainingMs_);
    running_ = false;
    remainingMs_ = 0;
}

std::vector<uint64_t> PortWatchdog::resets() const {
    std::lock_guard lock(mutex_);
    return resets_;
}

bool PortWatchdog::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

uint8_t PortWatchdog::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

uint64_t PortWatchdog::remainingMs() const {
    std::lock_guard lock(mutex_);
    return running_ ? remainingMs_ : 0;
}

uint32_t PortWatchdog::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

}  // namespace sim
