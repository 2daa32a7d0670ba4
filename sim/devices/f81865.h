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
// The protocol checker records: a data-port access while configuration mode
// is closed, an access to a device register (0x30 and up) before a device
// was selected in the current bracket, a second opening inside an open
// bracket, an exit key while closed, and a bracket left open.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

class F81865 : public Device {
public:
    static constexpr int kGlobal = -1;  // register file of the global registers

    F81865(uint16_t configPort, uint16_t chipId);
    // Hardware type "f81865" of the board file.
    static std::unique_ptr<Device> fromBoard(const nlohmann::json& entry, const std::string& where);

    std::string type() const override { return "f81865"; }
    bool claims(uint16_t port) const override;
    bool cachesDecode() const override { return true; }
    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    void advance(uint64_t fromMs, uint64_t ms) override;
    std::vector<std::string> violations() const override;
    std::vector<uint64_t> resets() const override;
    bool setPin(const std::string& line, bool level) override;
    std::optional<bool> pin(const std::string& line) const override;

    // ---- The chip's state as a test or board file sees it ---------------
    // Configuration registers: kGlobal or a logical device number.
    uint8_t reg(int device, uint8_t r) const;
    void setReg(int device, uint8_t r, uint8_t value);
    uint8_t hwm(uint8_t r) const;  // as the monitor's data port would read it
    void setHwm(uint8_t r, uint8_t value);
    void setFanRpm(int fan, uint32_t rpm);           // fan 1..3
    void setTemperature(int sensor, uint8_t value);  // sensor 1..3
    bool configOpen() const;
    uint16_t monitorBase() const;  // 0 while the monitor does not decode
    uint16_t chipId() const { return chipId_; }

private:
    using RegFile = std::array<uint8_t, 256>;

    RegFile& file(int device);
    const RegFile& file(int device) const;
    uint16_t monitorBaseLocked() const;
    void monitorRegWritten(int device, uint8_t r);
    void indexWrite(uint8_t value);
    uint8_t dataRead();
    void dataWrite(uint8_t value);
    uint8_t deviceRead(uint8_t r);
    void deviceWrite(uint8_t r, uint8_t value);
    uint8_t hwmReadLocked(uint8_t r) const;
    void hwmWriteLocked(uint8_t r, uint8_t value);
    int gpioGroupOf(uint8_t r, int* kind) const;  // kind 0 enable, 1 data, 2 status
    std::optional<std::pair<int, int>> parseLine(const std::string& line) const;
    void watchdogWriteControl(uint8_t value);
    bool watchdogRunning() const;
    void violation(std::string what);

    mutable std::mutex mutex_;
    const uint16_t indexPort_;
    const uint16_t chipId_;
    const int gpioGroups_;

    // Configuration mode.
    bool open_ = false;
    int keys_ = 0;               // entry keys seen in a row while closed
    bool lastIndexKey_ = false;  // the last index write in the open mode was 0x87
    bool selected_ = false;      // 0x07 written in the current bracket
    uint8_t index_ = 0;
    RegFile global_{};
    std::map<int, RegFile> devices_;

    // Hardware monitor.
    uint16_t monitorBase_ = 0;  // 0 while the block does not decode
    uint8_t hwmIndex_ = 0;
    RegFile hwm_{};
    std::array<std::optional<uint32_t>, 3> fanRpm_{};

    // GPIO: levels outside drives onto the pins, per group.
    std::array<uint8_t, 9> inputs_{};

    // Watchdog.
    uint64_t unitElapsedMs_ = 0;
    std::vector<uint64_t> resets_;

    std::vector<std::string> violations_;
};

}  // namespace sim
