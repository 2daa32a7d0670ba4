// Shared pieces of the IT87xx tests: the generic Super I/O test helpers with
// the IT87xx chip code, keys and emulator.
#pragma once

#include "sim/devices/it87.h"
#include "tests/support/sio.h"

namespace it87test {

using namespace siotest;

constexpr uint32_t kIt87 = 0;

// Brackets at `indexPort`: 0x87 0x01 0x55 and the pair's fourth key byte,
// left by writing register 0x02 with 0x02.
inline Trace it87Trace(uint16_t indexPort, uint16_t monitorBase = 0) {
    Trace t(indexPort, monitorBase);
    t.keys({0x87, 0x01, 0x55, static_cast<uint8_t>(indexPort == 0x2E ? 0x55 : 0xAA)})
        .exitByRegister(0x02, 0x02);
    return t;
}

// A virtual board with one emulated IT87xx: addChip(configPort, chipId).
class ChipBoard : public ChipTest<sim::It87> {
protected:
    // Adds the chip with register 0x22 as given and loads the driver with
    // the functions named; the load's port accesses and lines are cleared.
    void loadWith(uint16_t port, uint16_t id, uint8_t version, const std::string& registry) {
        addChip(port, id);
        chip->setReg(sim::It87::kGlobal, 0x22, version);
        ASSERT_EQ(board.load(registry), ZRV_STATUS_SUCCESS);
    }
};

}  // namespace it87test
