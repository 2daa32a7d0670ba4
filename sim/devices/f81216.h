// Emulated F81216 Super I/O, written from the chip's side. Only its
// watchdog is modelled beyond plain register files.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens when the chip's own entry key (0x77, 0xA0, 0x87
// or 0x67, set by a strap on the board) is written twice in a row to the
// index port, and closes when 0xAA is written to it. Any other key leaves it
// closed; while it is closed the data port does not answer (reads 0xFF,
// writes are lost). In configuration mode register 0x07 selects the logical
// device, 0x20/0x21 hold the chip ID and registers 0x30 and up belong to the
// selected device. Registers read back what was last written; the ID is
// read-only.
//
// Watchdog, logical device 8: 0xF0 mode (bit 2: count in minutes, else
// bit 1: in seconds; with neither, the power-on state, the count has no
// clock and stays; the other bits are kept as written), 0xF1 count. While
// device 8 is active (0x30 bit 0) and the count is not 0 it falls by one
// per second (or minute); a write to 0xF1 reloads it, and a write to 0xF1 or 0xF0
// starts the unit afresh. When it reaches 0 the countdown stops and a board
// reset is recorded.
//
// Besides the skeleton's checks (superio.h) the protocol checker records a
// countdown started before register 0x70 of device 8 was written with
// 0x00 (what that register does is not modelled).
// A probe round with a key that is not the chip's (a candidate key written
// twice, the ID registers read, 0xAA) is what a driver that does not know
// the key must do: the skeleton's checker takes it as another chip's probe
// (sio_config_mode.h), as it does the other families' keys.
#pragma once

#include "sim/devices/superio.h"

namespace sim {

class F81216 : public SuperIo {
public:
    F81216(uint16_t configPort, uint16_t chipId, uint8_t entryKey);
    // Hardware type "f81216" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    uint8_t entryKey() const { return entryKey_; }

private:
    void deviceWrite(int device, uint8_t r, uint8_t value) override;
    void advanceLocked(uint64_t fromMs, uint64_t ms) override;

    bool watchdogRunning() const;
    uint64_t unitMs() const;  // 0 while the count does not fall

    const uint8_t entryKey_;

    // Watchdog.
    bool setupCleared_ = false;  // 0x70 of device 8 written with 0x00
};

}  // namespace sim
