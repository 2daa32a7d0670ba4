// Plain byte ports that read back what was last written, or their preset.
#pragma once

#include <map>

#include "sim/device.h"

namespace sim {

class Latch : public Device {
public:
    explicit Latch(std::map<uint16_t, uint8_t> ports) : ports_(std::move(ports)) {}
    std::string type() const override { return "latch"; }
    bool claims(uint16_t port) const override { return ports_.count(port) != 0; }
    bool cachesDecode() const override { return true; }  // the ports never change
    uint8_t read(uint16_t port) override { return ports_.at(port); }
    void write(uint16_t port, uint8_t value) override { ports_[port] = value; }
    uint8_t value(uint16_t port) const { return ports_.at(port); }

private:
    std::map<uint16_t, uint8_t> ports_;
};

}  // namespace sim
