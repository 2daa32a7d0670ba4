// Shared pieces of the F81865 tests: the generic Super I/O test helpers with
// the F81865's chip code and emulator.
#pragma once

#include "sim/devices/f81865.h"
#include "tests/support/sio.h"

namespace f81865test {

using namespace siotest;

constexpr uint32_t kF81865 = 6;

// Pieces of the port traces. The probe's bracket at the pair `t` is on,
// where the chip answered `id` (0xFFFF: nothing there).
inline Trace& probed(Trace& t, uint16_t id) {
    return t.enter().rd(0x20, static_cast<uint8_t>(id >> 8)).rd(0x21, static_cast<uint8_t>(id)).exit();
}
// Nothing at 0x2E, then `id` at 0x4E, where every later bracket stays.
inline Trace& probedAt4E(Trace& t, uint16_t id) { return probed(probed(t.at(0x2E), 0xFFFF).at(0x4E), id); }
// The monitor set-up's reads of logical device 4: base and activation; the
// bracket stays open.
inline Trace& monitorReads(Trace& t, uint16_t base, uint8_t active) {
    t.enter().select(4).rd(0x60, static_cast<uint8_t>(base >> 8)).rd(0x61, static_cast<uint8_t>(base));
    return t.rd(0x30, active);
}
// The watchdog set-up: logical device 7 configured and activated.
inline Trace& watchdogSetUp(Trace& t) {
    return t.enter().select(7).wr(0xF5, 0x40).wr(0xF6, 0x00).wr(0xFA, 0x01).wr(0x30, 0x01).exit();
}

// The detect entry's debugger lines: the ID at 0x2E, the one at 0x4E when
// that pair was tried (0: not tried), and whether the chip was found.
inline Lines detectLines(uint16_t master, uint16_t slave, bool found) {
    Lines lines = {"Detect_F81865+", fmt::format("Detect_F81865 Detecting master device ID {:04x}", master)};
    if (slave != 0) lines.push_back(fmt::format("Detect_F81865 Detecting slave device ID {:04x}", slave));
    if (found) lines.push_back("Detect_F81865 F81865 detected");
    lines.push_back(found ? "Detect_F81865-" : "Detect_F81865- (NotFound)");
    return lines;
}

// The monitor set-up's debugger lines with the base it read, and the line
// that refused the monitor, if one did.
inline Lines monitorLines(uint16_t base, const std::string& refusal = "") {
    Lines lines = {"HWM_F81865_SetDefault+", fmt::format("HWM_F81865 BaseAddr = 0x{:04x}", base)};
    if (!refusal.empty()) lines.push_back(refusal);
    lines.push_back("HWM_F81865_SetDefault-");
    return lines;
}

// A virtual board with one emulated F81865: addChip(configPort, chipId).
using ChipBoard = ChipTest<sim::F81865>;

}  // namespace f81865test
