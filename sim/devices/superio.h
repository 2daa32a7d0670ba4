// The skeleton every emulated Super I/O chip is built on, written from the
// chip's side.
//
// Configuration ports: the pair the board gives (0x2E/0x2F or 0x4E/0x4F).
// Configuration mode opens with the chip's key written to the index port and
// closes by the chip's exit rule (SioConfigMode); while it is closed the data
// port does not answer (reads 0xFF, writes are lost). A driver's probe for a
// chip of another family at the pair is told from this chip's own sequences
// (sio_config_mode.h). In configuration mode register 0x07 selects the
// logical device, registers below 0x30 are global (the ID among them,
// read-only) and 0x30 and up belong to the selected device. Registers read
// back what was last written unless the chip says otherwise.
//
// Besides the pair a chip decodes at most one register block (a monitor's
// index/data pair, a runtime block), placed by its configuration registers.
// The decode is worked out again after every register write and the bus
// told when it moved, so the bus looks chips up by port instead of asking
// each one on every access.
//
// A chip type gives its keys and read-only registers to the constructor and
// overrides the hooks below; all of them run under the chip's lock. Board
// files name the chip's presets alike for every chip:
//
//   {"config_port": "0x2e", "id": "0x....",
//    "config": {"global": {"0x22": "0x04"}, "4": {"0x60": "0x02"}},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45},
//    "pins": {"gpio10": 0}}
#pragma once

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/board.h"
#include "sim/device.h"
#include "sim/devices/countdown.h"
#include "sim/devices/sio_config_mode.h"

namespace sim {

// Configuration registers: the global file (device kGlobal) and a file per
// logical device (0 to 255), created on first write. Found by index: a
// driver's bracket looks a device's file up on every data access.
class SioRegisterFiles {
public:
    using RegFile = std::array<uint8_t, 256>;
    static constexpr int kGlobal = -1;

    RegFile& file(int device) {
        if (device == kGlobal) return global_;
        auto& slot = devices_[static_cast<uint8_t>(device)];
        if (!slot) slot = std::make_unique<RegFile>();
        return *slot;
    }
    const RegFile& file(int device) const {
        static const RegFile kEmpty{};
        if (device == kGlobal) return global_;
        const auto& slot = devices_[static_cast<uint8_t>(device)];
        return slot ? *slot : kEmpty;
    }

private:
    RegFile global_{};
    std::array<std::unique_ptr<RegFile>, 256> devices_;
};

class SuperIo : public Device {
public:
    static constexpr int kGlobal = SioRegisterFiles::kGlobal;  // register file of the global registers

    std::string type() const final { return type_; }
    bool claims(uint16_t port) const override;
    bool cachesDecode() const override { return true; }
    uint8_t read(uint16_t port) override;
    void write(uint16_t port, uint8_t value) override;
    void advance(uint64_t fromMs, uint64_t ms) override;
    std::vector<std::string> violations() const override;
    std::vector<uint64_t> resets() const override;
    // GPIO lines by the chip's own names for them (none on a chip without
    // GPIO). setPin drives the level an input pin sees from outside; pin
    // gives the level on the wire.
    bool setPin(const std::string& line, bool level) final;
    std::optional<bool> pin(const std::string& line) const final;

    // ---- The chip's state as a test or board file sees it ---------------
    // Configuration registers: kGlobal or a logical device number. The ID
    // registers come with the chip: setReg leaves them.
    uint8_t reg(int device, uint8_t r) const;
    void setReg(int device, uint8_t r, uint8_t value);
    bool configOpen() const;
    uint16_t blockBase() const;  // 0 while the chip's block does not decode
    uint16_t chipId() const { return chipId_; }

protected:
    using RegFile = SioRegisterFiles::RegFile;
    // `size` ports at base + `first`; size 0 decodes nothing.
    struct Block {
        uint16_t base = 0, first = 0, size = 0;
        bool operator==(const Block&) const = default;
    };
    // A monitor's index/data pair at base + 5 and base + 6.
    static Block monitorPair(uint16_t base) { return Block{base, 5, 2}; }

    // `idRegs`: the global registers that hold the chip's ID (read-only).
    // `type`: the chip's hardware type in board files. `idRegs`: the global
    // registers that hold `chipId` (read-only), the high byte first.
    SuperIo(const char* type, uint16_t configPort, const SioKeys& keys, std::initializer_list<uint8_t> idRegs,
            uint16_t chipId);

    // ---- Hooks, under the lock ------------------------------------------
    // The register block as the registers place it now.
    virtual Block blockLocked() const { return {}; }
    // Accesses to the block, by offset from its base.
    virtual uint8_t blockRead(uint16_t offset) {
        (void)offset;
        return 0xFF;
    }
    virtual void blockWrite(uint16_t offset, uint8_t value) {
        (void)offset;
        (void)value;
    }
    // The configuration pair; the defaults go through the checker to the
    // register files (globalWrite and deviceRead/deviceWrite below).
    virtual void indexWrite(uint8_t value) { config_.writeIndex(value); }
    virtual uint8_t dataRead();
    virtual void dataWrite(uint8_t value);
    virtual void globalWrite(uint8_t r, uint8_t value) { file(kGlobal)[r] = value; }
    virtual uint8_t deviceRead(int device, uint8_t r) { return file(device)[r]; }
    virtual void deviceWrite(int device, uint8_t r, uint8_t value) { file(device)[r] = value; }
    // A register set from outside (board file, test), after it was stored.
    virtual void preset(int device, uint8_t r) {
        (void)device;
        (void)r;
    }
    // The GPIO pin a line names: its group (from 0) and its bit; none when
    // the chip has no such line.
    struct GpioPin {
        size_t group;
        uint8_t bit;
    };
    virtual std::optional<GpioPin> gpioPin(const std::string& line) const {
        (void)line;
        return std::nullopt;
    }
    // The levels on a group's wires (see wires() below).
    virtual uint8_t gpioWires(size_t group) const {
        (void)group;
        return 0xFF;
    }
    // Virtual time for the chip's watchdog.
    virtual void advanceLocked(uint64_t fromMs, uint64_t ms) {
        (void)fromMs;
        (void)ms;
    }

    // ---- For the chip types ---------------------------------------------
    RegFile& file(int device) { return regs_.file(device); }
    const RegFile& file(int device) const { return regs_.file(device); }
    int selectedDevice() const { return regs_.file(kGlobal)[0x07]; }
    // Base address held in registers 0x60/0x61 of `device`.
    uint16_t baseOf(int device) const;
    // Re-reads blockLocked() and tells the bus when the block moved.
    void refreshDecode();
    void violation(std::string what) { violations_.add(std::move(what)); }
    // A line named `prefix`, a group digit and a pin digit (0..7): the group
    // digit's value and the pin's bit.
    static std::optional<std::pair<int, uint8_t>> splitLine(const std::string& line, const char* prefix);
    // A group's wires: the latch on output pins, on input pins the levels
    // outside drives (they float high until set).
    uint8_t wires(size_t group, uint8_t outputs, uint8_t latch) const {
        return static_cast<uint8_t>((latch & outputs) | (gpioInputs_[group] & ~outputs));
    }
    void boardReset(uint64_t atMs) { resets_.push_back(atMs); }
    uint16_t blockBaseLocked() const { return block_.size == 0 ? 0 : block_.base; }

    const uint16_t indexPort_;
    const uint16_t chipId_;
    SioConfigMode config_;
    WatchdogClock clock_;                // every chip has a watchdog
    std::array<uint8_t, 9> gpioInputs_;  // per GPIO group: levels outside drives

private:
    bool readOnly(uint8_t r) const;

    const char* const type_;

    Breaches violations_;  // config_ adds its own here, in order
    SioRegisterFiles regs_;
    std::vector<uint8_t> readOnly_;
    Block block_;
    std::vector<uint64_t> resets_;
};

// A chip with a hardware monitor: its registers (behind an index/data
// pair), fans whose counts follow the speed a test or board file gives them,
// and temperature readings. A raw value stored in a fan's count replaces the
// speed given to that fan.
class MonitorSuperIo : public SuperIo {
public:
    static constexpr size_t kMaxFans = 5;
    // Where a fan's count reads: its low byte and, for a 16-bit count, its
    // high byte (-1: an 8-bit count), in one bank (-1: in any).
    struct FanCount {
        uint8_t low;
        int high;
        int bank;
        bool holds(uint8_t r, int inBank) const {
            return (r == low || r == high) && (bank < 0 || bank == inBank);
        }
    };

    // Monitor registers as measured. `bank` matters only for the registers
    // of a chip that banks some (W83627's 0x50..0x5F).
    uint8_t hwm(uint8_t r, int bank = 0) const;
    void setHwm(uint8_t r, uint8_t value, int bank = 0);
    void setFanRpm(int fan, uint32_t rpm);           // fan 1..fans(); others are left
    void setTemperature(int sensor, uint8_t value);  // sensor 1..temperatures(); others are left
    size_t fans() const { return fanCounts_.size(); }
    size_t temperatures() const { return temperatures_.size(); }
    // Base of the register block the monitor is reached through; 0 while it
    // does not decode.
    uint16_t monitorBase() const { return blockBase(); }

protected:
    MonitorSuperIo(const char* type, uint16_t configPort, const SioKeys& keys,
                   std::initializer_list<uint8_t> idRegs, uint16_t chipId,
                   std::span<const FanCount> fanCounts, std::span<const uint8_t> temperatures);

    // ---- Hooks, under the lock ------------------------------------------
    // The count fan `fan` (from 0) shows running at `rpm`, by the chip's
    // clock, divisor and fan control.
    virtual uint16_t fanCountAt(size_t fan, uint32_t rpm) const = 0;
    // A register's cell, and what it holds; a chip with banks overrides both.
    virtual uint8_t& hwmCell(uint8_t r, int bank) {
        (void)bank;
        return hwm_[r];
    }
    virtual uint8_t hwmCellValue(uint8_t r, int bank) const {
        (void)bank;
        return hwm_[r];
    }
    // A register set from outside, before it is stored.
    virtual void hwmPreset(uint8_t r, uint8_t value) {
        (void)r;
        (void)value;
    }

    // A register as measured: a fan's count where the fan was given a speed,
    // else the cell.
    uint8_t measuredLocked(uint8_t r, int bank = 0) const;

    uint8_t hwmIndex_ = 0;
    RegFile hwm_{};

private:
    std::span<const FanCount> fanCounts_;
    std::span<const uint8_t> temperatures_;
    std::array<std::optional<uint32_t>, kMaxFans> fanRpm_{};
};

// ---- Board file ------------------------------------------------------------------

// "config_port": 0x2e (the default) or 0x4e.
uint16_t superIoPort(const nlohmann::json& entry, const std::string& where);
// "id": the chip's ID, at most `max` (0xFF for chips with a one-byte ID).
uint16_t superIoId(const nlohmann::json& entry, const std::string& where, uint16_t fallback,
                   uint32_t max = 0xFFFF);
// The object at `key`, or null when the entry has none.
const nlohmann::json* superIoObject(const nlohmann::json& entry, const char* key, const std::string& where);

// Numbered items "1".."count" of an object, handed to set(n, value).
template <typename Set>
void superIoNumbered(const nlohmann::json* items, const std::string& where, const char* what, uint32_t count,
                     uint32_t maxValue, Set set) {
    if (items == nullptr) return;
    for (auto& [key, value] : items->items()) {
        const uint32_t n = boardNumber(key, fmt::format("{}: {}", where, what), count);
        if (n == 0) throw BoardError(fmt::format("{}: {}: numbered 1 to {}", where, what, count));
        set(static_cast<int>(n), boardNumber(value, fmt::format("{}: {} {}", where, what, key), maxValue));
    }
}

// The presets a chip has: "config" always, "hwm", "fan_rpm", "temperature"
// and "pins" where the chip has such things.
template <typename Chip>
void applySuperIoPresets(Chip& chip, const nlohmann::json& entry, const std::string& where) {
    if (auto* config = superIoObject(entry, "config", where)) {
        for (auto& [device, regs] : config->items()) {
            const std::string at = fmt::format("{}: config {}", where, device);
            const int d =
                device == "global" ? Chip::kGlobal : static_cast<int>(boardNumber(device, at, 0xFF));
            if (!regs.is_object()) throw BoardError(fmt::format("{}: registers are an object", at));
            for (auto& [r, v] : regs.items())
                chip.setReg(d, static_cast<uint8_t>(boardNumber(r, at, 0xFF)),
                            static_cast<uint8_t>(boardNumber(v, at + " " + r, 0xFF)));
        }
    }
    if constexpr (requires { chip.setHwm(uint8_t{}, uint8_t{}); }) {
        if (auto* hwm = superIoObject(entry, "hwm", where))
            for (auto& [r, v] : hwm->items())
                chip.setHwm(static_cast<uint8_t>(boardNumber(r, where + ": hwm", 0xFF)),
                            static_cast<uint8_t>(boardNumber(v, where + ": hwm " + r, 0xFF)));
    }
    if constexpr (requires { chip.setFanRpm(1, uint32_t{}); })
        superIoNumbered(superIoObject(entry, "fan_rpm", where), where, "fan_rpm",
                        static_cast<uint32_t>(chip.fans()), 100000,
                        [&](int fan, uint32_t rpm) { chip.setFanRpm(fan, rpm); });
    if constexpr (requires { chip.setTemperature(1, uint8_t{}); })
        if (chip.temperatures() != 0)
            superIoNumbered(superIoObject(entry, "temperature", where), where, "temperature",
                            static_cast<uint32_t>(chip.temperatures()), 0xFF, [&](int sensor, uint32_t v) {
                                chip.setTemperature(sensor, static_cast<uint8_t>(v));
                            });
    if (auto* pins = superIoObject(entry, "pins", where))
        for (auto& [line, level] : pins->items())
            if (!chip.setPin(line, boardNumber(level, where + ": pins " + line, 1) != 0))
                throw BoardError(fmt::format("{}: pins: no GPIO line '{}' on this chip", where, line));
}

}  // namespace sim
