// The I/O port bus: routes each byte access to the device that claims the
// port. An unclaimed port floats: reads 0xFF, writes vanish.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

struct TraceEntry {
    enum Kind { In, Out, Wait } kind;
    uint16_t port;
    uint8_t value;
    uint32_t waitMs;
    std::string text() const;  // "out 0x002e 0x87", "in 0x002f 0xff", "wait 1000"
};

class PortBus {
public:
    void attach(std::unique_ptr<Device> device);
    uint8_t read(uint16_t port);
    void write(uint16_t port, uint8_t value);
    void noteWait(uint32_t ms);

    const std::vector<std::unique_ptr<Device>>& devices() const { return devices_; }
    template <typename T>
    T* find() const {
        for (auto& d : devices_)
            if (auto* t = dynamic_cast<T*>(d.get())) return t;
        return nullptr;
    }

    std::vector<TraceEntry> trace() const;
    void clearTrace();
    // Serialises port access with the emulated devices' own state.
    std::recursive_mutex& mutex() { return mutex_; }

private:
    Device* owner(uint16_t port) const;

    mutable std::recursive_mutex mutex_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::vector<TraceEntry> trace_;
};

}  // namespace sim
