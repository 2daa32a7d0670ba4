#include "sim/devices/port_device.h"

#include <algorithm>

namespace sim {

bool PortDevice::claims(uint16_t port) const {
    return std::find(ports_.begin(), ports_.end(), port) != ports_.end();
}

std::vector<std::string> PortDevice::violations() const {
    std::lock_guard lock(mutex_);
    return violations_.list();
}

}  // namespace sim
