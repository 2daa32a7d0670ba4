// Emulated IT8712F / IT8718F / IT8783F Super I/O, written from the chip's
// side.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens when 0x87, 0x01, 0x55 and then 0x55 (pair 0x2E)
// or 0xAA (pair 0x4E) are written in a row to the index port, and closes
// when register 0x02 is written with bit 1 set; while it is closed the data
// port does not answer (reads 0xFF, writes are lost). In configuration mode
// register 0x07 selects the logical device, 0x20/0x21 hold the chip ID, 0x22
// the version, and registers 0x30 and up belong to the selected device.
//
// Logical devices modelled beyond plain register files:
//   4  environment controller (hardware monitor): decodes at base + 5
//      (index) and base + 6 (data), base from registers 0x60/0x61 with the
//      low three bits ignored, while the base is non-zero and register 0x30
//      bit 0 is set;
//   7  watchdog: 0x72 control (bit 7 seconds, else minutes; bit 6 runs the
//      countdown), 0x73 count low byte, 0x74 count high byte on chips with a
//      16-bit count (IT8718F, IT8783F, IT8712F of version 8 and up). While
//      bit 6 is set and the count is not 0 the count falls by one per second
//      (or minute); when it reaches 0 bit 6 clears and a board reset is
//      recorded. A count of 0 does not run.
//
// Monitor: readings (0x20-0x2B) and fan counts (0x0D-0x0F, 0x18-0x1A,
// 0x80-0x83) hold what the board or test put there and ignore writes;
// every other register reads back what was last written. A fan given a
// speed in rpm counts 1,350,000 / (rpm x divisor): the IT8712F takes the
// divisors of fans 1 to 3 from register 0x0B, every other fan divides by 2;
// 0xFFFF when it stands still. Its speed follows fan control: fans 1 to 3
// under on/off (0x13 bit clear) run while their 0x14 bit is set; under PWM,
// and fans 4 and 5 always, the PWM register scales the speed by duty / 127
// unless bit 7 hands the fan to automatic control (full speed here).
//
// Besides the skeleton's checks (superio.h) the protocol checker records a
// key sequence ending in the other pair's fourth byte and a count high byte
// written on a chip with an 8-bit count. It also holds the chip to the set-up writes whose
// effect is not modelled: a countdown started (by a write that sets the run
// bit or loads a count) before global register 0x23 was written with bit 4
// set, or before a write to 0x72 cleared its bit 5; a fan count read before
// monitor register 0x0C was written with 0x37.
#pragma once

#include "sim/devices/superio.h"

namespace sim {

class It87 : public MonitorSuperIo {
public:
    It87(uint16_t configPort, uint16_t chipId);
    // Hardware type "it87" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    // ---- The chip's state as a test or board file sees it ---------------
    // Monitor registers: hwm/setHwm, fans 1..5 and temperatures 1..3.

private:
    Block blockLocked() const override;
    uint8_t blockRead(uint16_t offset) override;
    void blockWrite(uint16_t offset, uint8_t value) override;
    void indexWrite(uint8_t value) override;
    void globalWrite(uint8_t r, uint8_t value) override;
    void deviceWrite(int device, uint8_t r, uint8_t value) override;
    void advanceLocked(uint64_t fromMs, uint64_t ms) override;

    bool wideCount() const;
    uint16_t fanCountAt(size_t fan, uint32_t rpm) const override;
    uint32_t fanRpmLocked(size_t fan, uint32_t rpm) const;
    bool watchdogRunning() const;
    void watchdogTick(uint64_t nowMs);

    // Hardware monitor.
    bool fanCountsSetUp_ = false;  // 0x0C written with 0x37
    bool fanReadReported_ = false;

    // Watchdog.
    bool wdtGlobalSet_ = false;        // global 0x23 written with bit 4 set
    bool controlBit5Cleared_ = false;  // 0x72 written with bit 5 clear
};

}  // namespace sim
