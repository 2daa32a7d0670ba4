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
// The protocol checker (SioConfigMode's) records: a data-port access while
// configuration mode is closed, an exit key while closed, an access to a
// device register (0x30 and up) before a device was selected in the current
// bracket, a second opening inside an open bracket, and a bracket left open;
// and a countdown started before register 0x70 of device 8 was written with
// 0x00 (what that register does is not modelled).
// A probe round with a key that is not the chip's (a candidate key written
// twice, the ID registers read, 0xAA) is what a driver that does not know
// the key must do, and is kept from the checker.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/devices/sio_config_mode.h"
#include "sim/devices/superio_common.h"

namespace sim {

class F81216 : public Device {
public:
    static constexpr int kGlobal = SioRegisterFiles::kGlobal;  // register file of the global registers

    F81216(uint16_t configPort, uint16_t chipId, uint8_t entryKey);
    // Hardware type "f81216" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    std::string type() const override { return "f81216"; }
    bool claims(uint16_t port) const override;
    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    void advance(uint64_t fromMs, uint64_t ms) override;
    std::vector<std::string> violations() const override;
    std::vector<uint64_t> resets() const override;

    // ---- The chip's state as a test sees it ----------------------------------
    // Configuration registers: kGlobal or a logical device number.
    uint8_t reg(int device, uint8_t r) const;
    void setReg(int device, uint8_t r, uint8_t value);
    bool configOpen() const;
    uint16_t chipId() const { return chipId_; }
    uint8_t entryKey() const { return entryKey_; }

private:
    using RegFile = SioRegisterFiles::RegFile;

    RegFile& holder(uint8_t r);  // the file register r is in now
    void indexWrite(uint8_t value);
    bool probeRead() const;  // a data read that belongs to a probe round with another key
    uint8_t dataRead();
    void dataWrite(uint8_t value);
    bool watchdogRunning() const;
    uint64_t unitMs() const;  // 0 while the mode register gives the count no clock
    void violation(std::string what);

    mutable std::mutex mutex_;
    const uint16_t indexPort_;
    const uint16_t chipId_;
    const uint8_t entryKey_;

    // Configuration mode, and the probe rounds with other keys beside it.
    SioConfigMode config_;
    int lastClosedIndex_ = -1;  // index written while closed, -1 after any other access
    bool probing_ = false;      // another key came twice; ID reads and 0xAA are expected
    SioRegisterFiles regs_;

    // Watchdog.
    bool setupCleared_ = false;  // 0x70 of device 8 written with 0x00
    uint64_t unitElapsedMs_ = 0;
    std::vector<uint64_t> resets_;
    std::vector<std::string> violations_;
};

}  // namespace sim
