// Shared pieces of the F81865 tests: the generic Super I/O test helpers with
// the F81865's chip code and emulator.
#pragma once

#include "sim/devices/f81865.h"
#include "tests/support/sio.h"

namespace f81865test {

using namespace siotest;

constexpr uint32_t kF81865 = 6;

// A virtual board with one emulated F81865: addChip(configPort, chipId).
using ChipBoard = ChipTest<sim::F81865>;

}  // namespace f81865test
