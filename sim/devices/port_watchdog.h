// Emulated watchdog behind plain ports, written from the hardware's side.
//
// Board file entry ("port-watchdog"):
//   {"type": "port-watchdog",
//    "start":   {"access": "write", "port": "0x443"},
//    "stop":    {"access": "read",  "port": "0x843"},   optional
//    "refresh": {"access": "write", "port": "0x443"},   optional
//    "count_port": "0x444",     optional port that takes the count
//    "count": 0,                count at power-up
//    "unit": "s"}               the count's unit: "s" or "min"
//
// Each action is one kind of access at one port. A read access is a signal:
// the byte read means nothing. A write access to a start or refresh port
// carries the count: the byte written becomes the count, and a count of 0
// stops the watchdog (so one write port can start with a count and stop
// with 0). A write to the count port sets the count that the next start or
// refresh loads.
//
//   start    (re)loads the count and runs the countdown; with a count of 0
//            the watchdog stays stopped
//   refresh  reloads the count while the countdown runs; a stopped watchdog
//            stays stopped
//   stop     stops the countdown
//
// The countdown runs in virtual time. When it reaches zero the watchdog
// resets the board: the reset is recorded with its time, and the watchdog
// comes out of the reset stopped, as after power-up. An access of a kind
// that no action uses at a port is a fault the checker records.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/port_device.h"

namespace sim {

class PortWatchdog : public PortDevice {
public:
    enum class Access { Read, Write };
    struct PortAccess {
        Access access;
        uint16_t port;
    };
    struct Config {
        PortAccess start{Access::Write, 0};
        std::optional<PortAccess> stop;
        std::optional<PortAccess> refresh;
        uint16_t countPort = 0;  // 0: none
        uint8_t count = 0;
        uint64_t unitMs = 1000;
    };

    explicit PortWatchdog(Config config);
    // Hardware type "port-watchdog" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    void advance(uint64_t fromMs, uint64_t ms) override;
    std::vector<uint64_t> resets() const override;

    // ---- As a test sees the hardware ----------------------------------
    bool running() const;
    uint8_t count() const;         // the count a start or refresh loads
    uint64_t remainingMs() const;  // 0 while stopped
    uint32_t starts() const;       // countdowns started so far

private:
    void access(Access kind, uint16_t port, uint8_t value);
    bool matches(const std::optional<PortAccess>& action, Access kind, uint16_t port) const;

    Config config_;
    uint8_t count_ = 0;
    bool running_ = false;
    uint64_t remainingMs_ = 0;
    uint32_t starts_ = 0;
    std::vector<uint64_t> resets_;
};

}  // namespace sim
