// Emulated digital I/O behind plain ports, written from the hardware's side.
//
// Board file entry ("dio-ports"):
//   {"type": "dio-ports",
//    "inputs":  {"0x300": "0x00"},        input ports and the levels on their lines
//    "outputs": {"0x301": "0x00"},        output latches and their power-up value
//    "data": "0x310", "direction": "0x311",   one data port split by a direction register
//    "direction_reset": "0xff",           direction at power-up (set bits are inputs)
//    "data_levels": "0x00",               outside levels on the data port's lines
//    "lines": {"DI0": "0x300.0"}}         optional names for lines
// Every part is optional.
//
// An input port reads the levels driven on its lines from outside (a test or
// script sets them); writing it is a fault the checker records. An output
// latch reads back what was last written. The data port reads the outside
// level on its input lines and the latch on its output lines; a write goes
// to the latch, which drives only the output lines. The direction register
// reads back and decides which lines of the data port are inputs.
//
// Lines are named "PORT.BIT" ("0x300.3", bit 0..7), or by the names the
// board file gives. setPin drives an input line (input port or data port);
// pin reads the level on the wire.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/port_device.h"

namespace sim {

// One line of a byte-wide port.
struct PortLine {
    uint16_t port;
    uint8_t bit;
    bool operator==(const PortLine&) const = default;
};

// The names of a device's lines: "PORT.BIT" always, and any names a board
// file gives in a "lines" object.
class LineNames {
public:
    void add(const std::string& name, PortLine line) { names_[name] = line; }
    std::optional<PortLine> find(const std::string& name) const;
    // Reads the "lines" object ({"NAME": "PORT.BIT"}) of a board entry, if any.
    static LineNames fromBoard(const nlohmann::json& entry, const std::string& where);

private:
    std::map<std::string, PortLine> names_;
};

// "0x300.3" or "768.3"; nullopt when the text is not a port and a bit 0..7.
std::optional<PortLine> parsePortLine(const std::string& text);

class DioPorts : public PortDevice {
public:
    struct Config {
        std::map<uint16_t, uint8_t> inputs;   // port -> outside levels
        std::map<uint16_t, uint8_t> outputs;  // port -> power-up latch
        uint16_t dataPort = 0;                // 0: no data port
        uint16_t directionPort = 0;
        uint8_t directionReset = 0xFF;
        uint8_t dataLevels = 0;
        LineNames names;
    };

    explicit DioPorts(Config config);
    // Hardware type "dio-ports" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    bool setPin(const std::string& line, bool level) override;
    std::optional<bool> pin(const std::string& line) const override;

    // ---- As a test sees the hardware ----------------------------------
    uint8_t latch(uint16_t port) const;  // output latch or data-port latch
    uint8_t direction() const;
    // The levels on a port's wires: inputs as driven, outputs as latched.
    uint8_t wires(uint16_t port) const;
    void setLevels(uint16_t port, uint8_t levels);  // input port or data port

private:
    bool isData(uint16_t port) const { return config_.dataPort != 0 && port == config_.dataPort; }
    bool isDirection(uint16_t port) const {
        return config_.directionPort != 0 && port == config_.directionPort;
    }
    uint8_t wiresLocked(uint16_t port) const;

    Config config_;
    std::map<uint16_t, uint8_t> levels_;   // input ports
    std::map<uint16_t, uint8_t> latches_;  // output ports
    uint8_t dataLatch_ = 0;
    uint8_t dataLevels_ = 0;
    uint8_t direction_ = 0xFF;
};

}  // namespace sim
