// Emulated CD port, written from the hardware's side: input lines and output
// lines on one byte-wide port, or inputs on one port and outputs on another.
//
// Board file entry ("cd-port"):
//   {"type": "cd-port",
//    "port": "0x2a0",        the port with the input lines (and the outputs
//                            when there is no "out_port")
//    "out_port": "0x2a1",    optional separate output port
//    "inputs": "0x03",       input lines (bits) on "port"
//    "outputs": "0x0c",      output lines (bits) on the output port
//    "levels": "0x00",       outside levels on the input lines
//    "latch": "0x00",        output latch at power-up
//    "lines": {"CD_OUT1": "0x2a0.2"}}   optional names
//
// The output port is an 8-bit latch that reads back what was written; only
// the "outputs" bits are wired to output lines. On a shared port the input
// lines read their outside level and every other bit reads the latch. A
// separate input port reads the outside levels of all eight bits, and
// writing it is a fault the checker records.
//
// Output levels are recorded over virtual time: every change of an output
// line is kept with the time it happened, so a pulse shows as a level that
// rises and falls.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/dio_ports.h"
#include "sim/devices/port_device.h"

namespace sim {

class CdPort : public PortDevice {
public:
    struct Config {
        uint16_t port = 0;
        uint16_t outPort = 0;  // 0: the outputs are on `port`
        uint8_t inputs = 0;
        uint8_t outputs = 0;
        uint8_t levels = 0;
        uint8_t latch = 0;
        LineNames names;
    };
    // A level an output line took, and when.
    struct Edge {
        uint64_t ms;
        bool level;
        bool operator==(const Edge&) const = default;
    };

    explicit CdPort(Config config);
    // Hardware type "cd-port" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    void advance(uint64_t fromMs, uint64_t ms) override;
    bool setPin(const std::string& line, bool level) override;
    std::optional<bool> pin(const std::string& line) const override;

    // ---- As a test sees the hardware ----------------------------------
    uint8_t latch() const;
    void setLevels(uint8_t levels);
    // The levels of an output line: its power-up level at time 0, then each
    // change. Empty when the name is not an output line.
    std::vector<Edge> history(const std::string& line) const;
    std::vector<Edge> history(uint8_t bit) const;

private:
    uint16_t outPort() const { return config_.outPort != 0 ? config_.outPort : config_.port; }
    std::optional<uint8_t> outputBit(const std::string& line) const;
    std::optional<uint8_t> inputBit(const std::string& line) const;

    Config config_;
    uint8_t latch_ = 0;
    uint8_t levels_ = 0;
    uint64_t now_ = 0;
    std::vector<Edge> edges_[8];
};

}  // namespace sim
