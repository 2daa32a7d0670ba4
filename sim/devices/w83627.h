// Emulated W83627-family Super I/O, written from the chip's side.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens when 0x87 is written twice in a row to the index
// port and closes when 0xAA is written to it; while it is closed the data
// port does not answer (reads 0xFF, writes are lost). In configuration mode
// register 0x07 selects the logical device, 0x20 holds the one-byte device
// ID, registers below 0x30 are global and 0x30 and up belong to the selected
// device.
//
// Logical devices modelled beyond plain register files:
//   7, 9  GPIO: group 1 (device 7, I/O selection 0xF0, data 0xF1), group 6
//         (device 7, 0xF4/0xF5), group 2 (device 9, 0xE4/0xE5). A set
//         selection bit makes the pin an input. The data register reads the
//         output latch on output pins and the outside level on input pins;
//         a write latches every bit.
//   8     watchdog, by ID in the usual layout (0xF5 mode with bit 3 for
//         minutes, 0xF6 count, 0xF7 control/status) or, on IDs 0x60 and
//         0x68, the alternate one (0xF3 mode with bit 2 for minutes, 0xF4
//         count, 0xF5 control/status). While device 8 is active and the count
//         is nonzero it falls by one per second (or minute); loading the
//         count restarts the unit. When it reaches zero bit 4 of the
//         control/status register sets and WDTO# pulses: a board reset is
//         recorded, unless the status was found set (left by a time-out
//         before this boot, and not written clear since: no new edge) or,
//         on ID 0x88, global register 0x2D bit 0 is set (the pin is then a
//         GPIO pin). A status set by a time-out of this run does not hold
//         the pulse: the reset recorded then stands for the board's restart.
//   0x0B  hardware monitor: decodes at base + 5 (index) and base + 6 (data),
//         base from registers 0x60/0x61 with the low three bits ignored,
//         while the base is nonzero and register 0x40 bit 0 is set.
//
// Monitor registers 0x50 to 0x5F show the bank selected through register
// 0x4E (banks 0, 1, 2 and 5); the others are the same in every bank. The
// measuring side owns the readings: voltages 0x20-0x26, temperature 0x27,
// fan counts 0x28-0x2A and 0x3F, and in bank 5 0x50-0x53, in banks 1 and 2
// 0x50 (temperatures 2 and 3); writes to them are lost. A fan given a speed
// in rpm (fans 1 to 5) counts 1,350,000 / (rpm x divisor), 255 when that
// exceeds 254 or the fan stands still; its divisor comes from the divisor
// bits of registers 0x47, 0x4B, 0x4C and bank 0's 0x59 and 0x5D, but for
// fan 3 of IDs 0x60 and 0xA2, which counts undivided. Fans 1 to 4
// run at rpm x duty / 255 while their mode bits (0x04 bits 0x0D and 0x32,
// 0x12 bits 0x07, 0x62 bits 0x70) are all clear, the duty being their
// output register (0x01, 0x03, 0x11, 0x61; 0xFF at power-on).
//
// GPIO lines for setPin/pin are named "gpioGP": group G (1, 2 or 6), pin P
// (0..7). setPin drives the level an input pin sees from outside (pins float
// high until set); pin gives the level on the wire.
//
// The skeleton (superio.h) checks the configuration pair; the chip adds a
// banked monitor register accessed while a bank the chip does not have is
// selected.
#pragma once

#include "sim/devices/superio.h"

namespace sim {

class W83627 : public MonitorSuperIo {
public:
    W83627(uint16_t configPort, uint8_t chipId);
    // Hardware type "w83627" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    // ---- The chip's state as a test or board file sees it ---------------
    // Monitor registers: hwm/setHwm (`bank` matters for 0x50..0x5F only)
    // and fans 1..5.

private:
    struct WdtRegs {
        uint8_t mode, count, control, minutes;
    };
    struct GpioGroup {
        int group, device;
        uint8_t direction, data;
    };

    static const GpioGroup kGpioGroups[3];

    Block blockLocked() const override;
    uint8_t blockRead(uint16_t offset) override;
    void blockWrite(uint16_t offset, uint8_t value) override;
    uint8_t deviceRead(int device, uint8_t r) override;
    void deviceWrite(int device, uint8_t r, uint8_t value) override;
    void preset(int device, uint8_t r) override;
    void advanceLocked(uint64_t fromMs, uint64_t ms) override;

    uint8_t& hwmCell(uint8_t r, int bank) override;
    uint8_t hwmCellValue(uint8_t r, int bank) const override;
    uint16_t fanCountAt(size_t fan, uint32_t rpm) const override;
    void hwmAccess(uint8_t r);
    uint8_t fanDivisorLocked(int fan) const;
    const GpioGroup* gpioAt(int device, uint8_t r) const;
    std::optional<GpioPin> gpioPin(const std::string& line) const override;
    uint8_t gpioWires(size_t group) const override;
    uint64_t watchdogUnitMs() const;  // 0 while it does not count
    void watchdogTick(uint64_t nowMs);

    const WdtRegs wdt_;

    // Hardware monitor: the banks (hwm_ holds the registers outside 0x50..0x5F).
    std::array<std::array<uint8_t, 16>, 8> banks_{};  // by the three bank-select bits
    std::array<bool, 8> bankHeld_{};                  // a bank is there once it held a value

    // Watchdog.
    bool statusFromTimeout_ = false;  // the status bit was set by a time-out of this run
};

}  // namespace sim
