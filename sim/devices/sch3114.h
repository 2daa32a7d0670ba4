// Emulated SCH3114 Super I/O, written from the chip's side.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens when 0x55 is written to the index port and closes
// when 0xAA is written to it; while it is closed the data port does not
// answer (reads 0xFF, writes are lost). In configuration mode register 0x07
// selects the logical device, 0x20 holds the one-byte device ID (read-only)
// and registers 0x30 and up belong to the selected device.
//
// Runtime register block: 128 ports at the base held in registers 0x60/0x61
// of logical device 0x0A, decoded while that base is non-zero. In the block:
//   0x4B-0x50  GPIO data registers of pin groups GP1x to GP6x. A write sets
//              the output latch; a read gives the latch on output pins and
//              the level outside drives on input pins. Which pins are
//              outputs is the firmware's choice (board file "gpio_outputs");
//   0x65       watchdog unit: bit 7 set counts seconds, clear minutes;
//   0x66       watchdog count: while non-zero it falls by one per unit; when
//              it reaches 0 a board reset is recorded and bit 0 of 0x68 (the
//              timeout status) is set. Writing it restarts the unit;
//   0x67, 0x68 watchdog configuration and control;
//   0x70/0x71  hardware-monitor index and data ports.
// Every other offset is a plain register that reads back what was written.
//
// Monitor: readings (voltages 0x20-0x24, 0x99, 0x9A; temperatures 0x25-0x27;
// tachometer counts 0x28/0x29, 0x2A/0x2B, 0x2C/0x2D, low byte first) belong
// to the measuring side: writes to them are lost. A fan given a speed in rpm
// counts 5,400,000 / rpm, as its output drives it: bits 7..5 of its
// configuration register (0x5C-0x5E) at 011 full on, 100 off (count 0xFFFF),
// 111 at the duty of its duty register (0x30-0x32, 0xFF full), anything else
// full on. The readings are measured once the monitor was started (0x40
// bit 0 set); before, they show no reading: temperatures 0x80, tachometer
// counts 0xFFFF, voltages 0.
//
// GPIO lines for setPin/pin are named "gpGP": group G (1..6), pin P (0..7);
// "gp13" is pin 3 of data register 0x4B. setPin drives the level an input
// pin sees from outside (pins float high until set); pin gives the level on
// the wire: the latch on an output pin, the outside level on an input pin.
//
// Besides the skeleton's checks (superio.h) the protocol checker records a
// monitor index written twice with no data access between, and a monitor data
// access with no index write before it. It also holds the chip to set-up
// writes whose effect is not modelled: a watchdog count loaded before
// runtime registers 0x67 and 0x68 were written, a monitor reading read
// before register 0x7C was written with 0x42, and 0x7C written while the
// monitor runs (0x40 bit 0 set).
#pragma once

#include "sim/devices/superio.h"

namespace sim {

class SCH3114 : public MonitorSuperIo {
public:
    SCH3114(uint16_t configPort, uint8_t id);
    // Hardware type "sch3114" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    // ---- The chip's state as a test or board file sees it ---------------
    // Runtime block registers by offset, as a read at the block would see
    // them (the monitor pair excepted: use hwm/setHwm).
    uint8_t runtime(uint8_t offset) const;
    void setRuntime(uint8_t offset, uint8_t value);
    // Monitor registers: hwm/setHwm (as the data port reads them once the
    // monitor was started), fans 1..3 and temperatures 1..3.
    void setGpioOutputs(int group, uint8_t pins);         // group 1..6: 1 = output
    uint16_t runtimeBase() const { return blockBase(); }  // 0 while the block does not decode
    uint8_t id() const { return static_cast<uint8_t>(chipId()); }

private:
    Block blockLocked() const override;
    uint8_t blockRead(uint16_t offset) override;
    void blockWrite(uint16_t offset, uint8_t value) override;
    void advanceLocked(uint64_t fromMs, uint64_t ms) override;

    uint8_t runtimeReadLocked(uint8_t offset) const;
    void runtimeWriteLocked(uint8_t offset, uint8_t value);
    void monitorAccess(bool index, uint16_t offset);
    void monitorWriteLocked(uint8_t r, uint8_t value);
    static bool isReading(uint8_t r);
    uint8_t hwmReadLocked(uint8_t r) const;
    uint16_t fanCountAt(size_t fan, uint32_t rpm) const override;
    void hwmPreset(uint8_t r, uint8_t value) override;
    std::optional<GpioPin> gpioPin(const std::string& line) const override;
    uint8_t gpioWires(size_t group) const override;

    // Runtime block (offsets 0x00-0x7F), GPIO pins and watchdog.
    std::array<uint8_t, 128> runtime_{};
    std::array<uint8_t, 6> outputs_{};       // per group: pins the firmware made outputs
    std::array<bool, 2> wdtSetupWritten_{};  // 0x67, 0x68

    // Hardware monitor.
    bool hwmIndexFresh_ = false;  // an index write awaits its data access
    bool measured_ = false;       // 0x40 bit 0 was set: the readings are live
    bool specialSetUp_ = false;   // 0x7C written with 0x42
    bool readingReported_ = false;
};

}  // namespace sim
