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

}  // namespace w83627test
