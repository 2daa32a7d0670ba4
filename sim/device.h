// A piece of emulated hardware on the port bus.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
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

// Rules broken so far by the calling thread: a platform rule or a chip's
// access protocol. The driver runs in its caller's thread, so a request can
// tell the rules it broke itself from those another thread broke meanwhile.
uint64_t rulesBrokenHere();

// The breaches one piece of the board saw, in order: every one counts for
// the thread that caused it; the texts are kept up to a bound (a driver
// that breaks a rule on every request must not grow the board without end),
// and those beyond it are counted.
class Breaches {
public:
    static constexpr size_t kKept = 64;
    void add(std::string what);
    // The texts kept, with one more line saying how many were not.
    std::vector<std::string> list() const;
    bool empty() const { return kept_.empty(); }

private:
    std::vector<std::string> kept_;
    uint64_t dropped_ = 0;
};

// The bus's lock. Recursive: whoever holds the bus may call into its
// devices, which take it again. Taken free it costs one compare-and-swap
// and given back one exchange; a thread that finds it held sleeps on it
// (the usual three-state futex lock: free, held, held with sleepers).
class BusLock {
public:
    void lock() {
        const void* me = &thisThread;
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return;
        }
        uint32_t free = 0;
        if (!state_.compare_exchange_strong(free, 1, std::memory_order_acquire)) [[unlikely]]
            lockContended();
        owner_.store(me, std::memory_order_relaxed);
        depth_ = 1;
    }
    void unlock() {
        if (--depth_ != 0) return;
        owner_.store(nullptr, std::memory_order_relaxed);
        if (state_.exchange(0, std::memory_order_release) == 2) [[unlikely]]
            state_.notify_one();
    }

private:
    void lockContended() {
        while (state_.exchange(2, std::memory_order_acquire) != 0) state_.wait(2, std::memory_order_relaxed);
    }

    static inline thread_local char thisThread = 0;  // its address tells the threads apart
    std::atomic<uint32_t> state_{0};                 // 0 free, 1 held, 2 held with sleepers
    std::atomic<const void*> owner_{nullptr};
    uint32_t depth_ = 0;  // only the owner touches it
};

// The lock over a device's state. A device alone (on a test's bench) has
// one of its own; once it is attached to a bus it shares the bus's lock,
// which the bus already holds around every access it routes, so an access
// takes one lock, not one for the bus and one for the chip.
class DeviceLock {
public:
    void lock() { target_->lock(); }
    void unlock() { target_->unlock(); }

private:
    friend class PortBus;
    BusLock own_;
    BusLock* target_ = &own_;
};

class Device {
public:
    virtual ~Device() = default;
    // The name of the hardware type ("latch", ...), for messages.
    virtual std::string type() const = 0;
    // Whether this device answers at `port` now (a chip may move its blocks).
    virtual bool claims(uint16_t port) const = 0;
    // Port accesses. The bus calls these holding the device's lock; a
    // device alone is driven from one thread. They take no lock themselves.
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

    // Everything but read() and write() takes it.
    mutable DeviceLock mutex_;

private:
    friend class PortBus;
    std::atomic<uint64_t>* decodeEpoch_ = nullptr;  // set by the bus on attach
};

}  // namespace sim
