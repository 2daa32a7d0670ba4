// What every device behind plain ports has in common (digital lines, a
// watchdog at ports): a hardware type, a fixed set of ports it answers at,
// and the faults its checker records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

class PortDevice : public Device {
public:
    std::string type() const final { return type_; }
    bool claims(uint16_t port) const final;
    bool cachesDecode() const final { return true; }  // the ports never move
    std::vector<std::string> violations() const final;

protected:
    PortDevice(std::string type, std::vector<uint16_t> ports)
        : type_(std::move(type)), ports_(std::move(ports)) {}
    // Under the lock.
    void violation(std::string what) { violations_.add(std::move(what)); }

private:
    const std::string type_;
    const std::vector<uint16_t> ports_;
    Breaches violations_;
};

}  // namespace sim
