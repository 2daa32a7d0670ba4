// Emulated F81865 Super I/O, written from the chip's side.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens when 0x87 is written twice in a row to the index
// port and closes when 0xAA is written to it; while it is closed the data
// port does not answer (reads 0xFF, writes are lost). In configuration mode
// register 0x07 selects the logical device, 0x20/0x21 hold the chip ID and
// registers 0x30 and up belong to the selected device.
//
// Logical devices modelled beyond plain register files:
//   4  hardware monitor: decodes at base + 5 (index) and base + 6 (data),
//      base from registers 0x60/0x61 with the low three bits ignored, while
//      the base is non-zero and register 0x30 bit 0 is set (the default);
//   6  GPIO: per group an output-enable register (1 = output), an
//      output-data register and a read-only pin-status register;
//   7  watchdog: 0xF5 control (bit 3 minutes, bit 5 run, bit 6 timeout
//      status, written 1 to clear), 0xF6 count, 0xFA bit 0 reset output.
//      While device 7 is active and bit 5 is set the count falls by one per
//      second (or minute); when it runs out, bit 5 clears, bit 6 sets and,
//      with the reset output enabled, a board reset is recorded.
//
// GPIO lines for setPin/pin are named "gpioGP": group G (0..8; 0..6 on ID
// 0x0704), pin P (0..7); "gpio12" is group 1 pin 2. setPin drives the
// level an input pin sees from outside (pins float high until set); pin
// gives the level on the wire: the output data on an output pin, the
// outside level on an input pin.
//
// Fans: the count registers (0xA0/0xA1, 0xB0/0xB1, 0xC0/0xC1) hold what the
// board or test put there, unless a fan is given a speed in rpm: its count is
// then 1,500,000 / rpm, scaled by its duty register while both bits of its
// mode field in 0x96 are set, and 0x0FFF when it stands still.
//
// The skeleton (superio.h) checks the configuration pair.
#pragma once

#include "sim/devices/superio.h"

namespace sim {

class F81865 : public MonitorSuperIo {
public:
    F81865(uint16_t configPort, uint16_t chipId);
    // Hardware type "f81865" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    // ---- The chip's state as a test or board file sees it ---------------
    // Monitor registers: hwm/setHwm, fans 1..3 and temperatures 1..3.

private:
    Block blockLocked() const override;
    uint8_t blockRead(uint16_t offset) override;
    void blockWrite(uint16_t offset, uint8_t value) override;
    uint8_t deviceRead(int device, uint8_t r) override;
    void deviceWrite(int device, uint8_t r, uint8_t value) override;
    void advanceLocked(uint64_t fromMs, uint64_t ms) override;

    uint16_t fanCountAt(size_t fan, uint32_t rpm) const override;
    int gpioGroupOf(uint8_t r, int* kind) const;  // kind 0 enable, 1 data, 2 status
    std::optional<GpioPin> gpioPin(const std::string& line) const override;
    uint8_t gpioWires(size_t group) const override;
    void watchdogWriteControl(uint8_t value);
    bool watchdogRunning() const;
    void watchdogFire(uint64_t nowMs);

    const int gpioGroups_;
};

}  // namespace sim
