#include "sim/bus.h"

#include <fmt/format.h>

namespace sim {

std::string TraceEntry::text() const {
    switch (kind) {
        case In: return fmt::format("in 0x{:04x} 0x{:02x}", port, value);
        case Out: return fmt::format("out 0x{:04x} 0x{:02x}", port, value);
        case Wait: return fmt::format("wait {}", waitMs);
    }
    return {};
}

void PortBus::attach(std::unique_ptr<Device> device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
}

Device* PortBus::owner(uint16_t port) const {
    for (auto& d : devices_)
        if (d->claims(port)) return d.get();
    return nullptr;
}

uint8_t PortBus::read(uint16_t port) {
    std::lock_guard lock(mutex_);
    Device* d = owner(port);
    uint8_t v = d != nullptr ? d->read(port) : 0xFF;
    trace_.push_back({TraceEntry::In, port, v, 0});
    return v;
}

void PortBus::write(uint16_t port, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (Device* d = owner(port)) d->write(port, value);
    trace_.push_back({TraceEntry::Out, port, value, 0});
}

void PortBus::noteWait(uint32_t ms) {
    std::lock_guard lock(mutex_);
    trace_.push_back({TraceEntry::Wait, 0, 0, ms});
}

std::vector<TraceEntry> PortBus::trace() const {
    std::lock_guard lock(mutex_);
    return trace_;
}

void PortBus::clearTrace() {
    std::lock_guard lock(mutex_);
    trace_.clear();
}

}  // namespace sim
