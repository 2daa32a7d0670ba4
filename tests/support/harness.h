// A virtual board for tests: registry text, emulated hardware, the driver
// loaded through the simulated I/O manager, and what the hardware saw.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace zrvtest {

class SimBoard {
public:
    static constexpr size_t kTestTraceEntries = size_t{1} << 22;
    static constexpr size_t kTestDebugLines = size_t{1} << 20;

    // The one-second wait advances virtual time instead of sleeping.
    SimBoard();
    ~SimBoard();

    sim::Machine& machine() { return machine_; }
    // Adds registry content in the installers' export format; the header
    // line is added when missing.
    void reg(const std::string& text);
    template <typename T>
    T& attach(std::unique_ptr<T> device) {
        T& ref = *device;
        machine_.bus().attach(std::move(device));
        return ref;
    }

    ZrvStatus load();
    // Adds `registry` (as reg() does), then loads.
    ZrvStatus load(const std::string& registry) {
        reg(registry);
        return load();
    }
    void unload();
    // One request on a fresh handle with that access.
    sim::IoResult ioctl(uint32_t code, const std::vector<uint8_t>& input = {}, uint32_t outputLength = 0,
                        sim::Access access = sim::Access::ReadWrite);

    // Port accesses since the last clearTrace(), as "out 0x002e 0x87" lines
    // (the most recent kTestTraceEntries of them).
    std::vector<std::string> trace() const;
    void clearTrace() { machine_.bus().clearTrace(); }
    std::vector<std::string> debugLines() const { return machine_.debugLines(); }
    // Debugger lines from `cursor` on (start at machine().debugEnd()); moves
    // the cursor past them.
    std::vector<std::string> debugLinesFrom(uint64_t& cursor) const;
    // Platform and hardware rule breaches; a test ends with none.
    std::vector<std::string> violations() const;

private:
    sim::Machine machine_;
};

// How many pool allocations one load of the driver makes on a board with
// this registry content (for failing each of them in turn).
uint32_t allocationsOfLoad(const std::string& registryText);

// Little-endian helpers for request records.
std::vector<uint8_t> le16(uint16_t v);
std::vector<uint8_t> le32(uint32_t v);
std::vector<uint8_t> timeoutRecord(uint16_t count, uint16_t unit);

}  // namespace zrvtest
