// Shared pieces of the W83627 tests: the generic Super I/O test helpers with
// the W83627's chip codes and emulator.
#pragma once

#include "sim/devices/w83627.h"
#include "tests/support/sio.h"

namespace w83627test {

using namespace siotest;

constexpr uint32_t kW83627 = 1;
constexpr uint32_t kW83627Alt = 2;  // the family's second code: the same back-ends

// A virtual board with one emulated W83627: addChip(configPort, chipId).
using ChipBoard = ChipTest<sim::W83627>;

// The probe of an empty configuration pair: the ID reads 0xFF.
inline Trace& emptyProbe(Trace& t, uint16_t indexPort) {
    return t.at(indexPort).enter().rd(0x20, 0xFF).exit();
}

// The monitor probe at the pair `t` is on, where the chip answered `id`:
// logical device 0x0B's base (low byte first) and activation, then bank 0
// and the divisor registers 0x47, 0x5D and 0x4B with the values read.
inline Trace& monitorProbe(Trace& t, uint8_t id, uint16_t base, uint8_t r47, uint8_t r5D, uint8_t r4B) {
    t.enter().rd(0x20, id).select(0x0B).rd(0x61, static_cast<uint8_t>(base));
    t.rd(0x60, static_cast<uint8_t>(base >> 8)).rd(0x40, 0x01).exit();
    return t.hwr(0x4E, 0x00).hrd(0x47, r47).hrd(0x5D, r5D).hrd(0x4B, r4B);
}

}  // namespace w83627test
