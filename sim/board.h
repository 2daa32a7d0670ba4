// Board files: a JSON description naming the board's registry export and
// its emulated hardware.
//
//   {"name": "...", "registry": "board.reg",
//    "hardware": [ {"type": "latch", "ports": {"0x310": "0xa5"}} ]}
//
// Numbers are JSON integers or strings in hex ("0x1e") or decimal.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/machine.h"

namespace sim {

struct BoardInfo {
    std::string name;
    std::string file;
    std::string registryFile;
};

// Fills the machine's registry and bus from a board file. Throws BoardError
// naming the file (and line, for syntax errors); the machine then keeps what
// it had.
BoardInfo loadBoard(Machine& machine, const std::string& path);
// The same with the board file's content given; `path` names it and places
// its registry export.
BoardInfo loadBoardText(Machine& machine, const std::string& text, const std::string& path);

// Number parsing shared by the hardware types: an integer or a string in
// hex ("0x..") or decimal, within [0, max].
uint32_t boardNumber(const nlohmann::json& value, const std::string& where, uint32_t max = 0xFFFFFFFFu);

// A hardware type of the board file.
using HardwareFactory = std::unique_ptr<Device> (*)(const nlohmann::json& entry, const std::string& where);
struct HardwareType {
    const char* name;
    HardwareFactory make;
    std::vector<std::string> keys;  // the entry's keys besides "type"
};

}  // namespace sim
