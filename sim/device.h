// A piece of emulated hardware on the port bus.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class PortBus;

// Ports below 0x100 belong to the PC itself (DMA and interrupt controllers,
// timer, keyboard controller, real-time clock, POST port): a chip's
// register block never decodes there.
constexpr uint16_t kFirstChipPort = 0x100;

// Where `port` lies from `base`, and the port at `offset` from it, as the CPU's 16-bit address arithmetic has
// it: the port after 0xFFFF is 0x0000.
inline uint16_t blockOffset(uint16_t base, uint16_t port) { return static_cast<uint16_t>(port - base); }
inline uint16_t blockPort(uint16_t base, uint16_t offset) { return static_cast<uint16_t>(base + offset); }

// Whether the `size` ports at `base` + `first` of a chip's block take
// `port`. Addresses are formed in 16 bits as the CPU forms them, so a block
// near 0xFFFF runs on at 0x0000, into the PC's own ports, which it does not
// decode; nor does a block based below 0x100.
inline bool blockDecodes(uint16_t base, uint16_t first, uint16_t size, uint16_t port) {
    return base >= kFirstChipPort && port >= kFirstChipPort &&
           static_cast<uint16_t>(blockOffset(base, port) - first) < size;
}

class Device {
public:
    virtual ~Device() = default;
    // The name of the hardware type ("latch", ...), for messages.
    virtual std::string type() const = 0;
    // Whether this device answers at `port` now (a chip may move its blocks).
    virtual bool claims(uint16_t port) const = 0;
    virtual uint8_t read(uint16_t port) = 0;
    virtual void write(uint16_t port, uint8_t value) = 0;
    // Virtual time moved from `fromMs` by `ms`.
    virtual void advance(uint64_t fromMs, uint64_t ms) {
        (void)fromMs;
        (void)ms;
    }
    // Breaches of the hardware's access rules seen so far (empty when none).
    virtual std::vector<std::string> violations() const { return {}; }
    // Board resets this device caused (a watchdog that ran out), in ms.
    virtual std::vector<uint64_t> resets() const { return {}; }
    // Lines driven from outside by a test or script, and output levels read
    // back, by the device's own line names. False / empty when the device
    // has no such line.
    virtual bool setPin(const std::string& line, bool level) {
        (void)line;
        (void)level;
        return false;
    }
    virtual std::optional<bool> pin(const std::string& line) const {
        (void)line;
        return std::nullopt;
    }

    // Decode caching. By default the bus asks claims() on every access. A
    // device that answers true here lets the bus remember which ports it
    // claims, and promises in return to call decodeChanged() whenever that
    // set may have changed (a base register written, a block switched on or
    // off), from whatever path changed it.
    virtual bool cachesDecode() const { return false; }

protected:
    void decodeChanged() const {
        if (decodeEpoch_ != nullptr) decodeEpoch_->fetch_add(1, std::memory_order_relaxed);
    }

private:
    friend class PortBus;
    std::atomic<uint64_t>* decodeEpoch_ = nullptr;  // set by the bus on attach
};

}  // namespace sim
