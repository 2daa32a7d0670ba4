// Shared pieces of the SCH3114 tests: the generic Super I/O test helpers
// with the SCH3114's chip code, entry key and emulator, and trace pieces for
// its runtime block.
#pragma once

#include "sim/devices/sch3114.h"
#include "tests/support/board_rows.h"
#include "tests/support/sio.h"

namespace sch3114test {

using namespace siotest;

constexpr uint32_t kSCH3114 = 5;
// Runtime block of most tests: logical device 0x0A base 0x0A80, so the
// monitor's index/data pair is 0x0AF0/0x0AF1.
constexpr uint16_t kBase = 0x0A80;

// The port traces of an SCH3114: brackets opened by 0x55 at `indexPort`,
// monitor accesses (hwr/hrd) at base + 0x70 / + 0x71, runtime registers by
// offset.
class RtTrace : public Trace {
public:
    explicit RtTrace(uint16_t indexPort = 0x4E, uint16_t base = kBase)
        : Trace(indexPort, static_cast<uint16_t>(base + 0x70 - 5)), base_(base) {
        keys({0x55});
    }
    RtTrace& hwr(uint8_t reg, uint8_t value) {
        Trace::hwr(reg, value);
        return *this;
    }
    RtTrace& hrd(uint8_t reg, uint8_t value) {
        Trace::hrd(reg, value);
        return *this;
    }
    RtTrace& at(uint16_t indexPort) {
        Trace::at(indexPort);
        return *this;
    }
    RtTrace& rout(uint8_t offset, uint8_t value) {
        out(base_ + offset, value);
        return *this;
    }
    RtTrace& rin(uint8_t offset, uint8_t value) {
        in(base_ + offset, value);
        return *this;
    }
    // A read-modify-write of one runtime register.
    RtTrace& rmw(uint8_t offset, uint8_t read, uint8_t written) {
        return rin(offset, read).rout(offset, written);
    }
    // The probe's bracket at a pair where the chip answered `id`.
    RtTrace& found(uint8_t id) {
        enter().rd(0x20, id).select(0x0A).rd(0x60, static_cast<uint8_t>(base_ >> 8));
        rd(0x61, static_cast<uint8_t>(base_)).exit();
        return *this;
    }
    // The probe's bracket at a pair where nothing (0xFF) or another ID answered.
    RtTrace& missed(uint8_t id = 0xFF) {
        enter().rd(0x20, id).exit();
        return *this;
    }
    RtTrace& hwmInit() {
        hwr(0x40, 0x00).hwr(0x7C, 0x42).hwr(0x40, 0x01);
        return *this;
    }
    RtTrace& wdtInit() { return rout(0x68, 0x00).rout(0x67, 0x00).rout(0x65, 0x80); }

private:
    uint16_t base_;
};

// A board of its own with one SCH3114 whose runtime block is at `base`, for
// tables that need a fresh load per row. It ends unloaded, with no rule
// broken.
struct Bench : zrvtest::OneDevice<sim::SCH3114> {
    explicit Bench(uint16_t port, uint8_t id = 0x7C, uint16_t base = kBase)
        : OneDevice(port, id), chip(device) {
        chip.setReg(0x0A, 0x60, static_cast<uint8_t>(base >> 8));
        chip.setReg(0x0A, 0x61, static_cast<uint8_t>(base));
    }
    ZrvStatus status(uint32_t code, uint32_t outputLength) {
        return board.ioctl(code, {}, outputLength).status;
    }
    sim::SCH3114& chip;
};

// A virtual board with one emulated SCH3114: addChip(configPort, id).
class ChipBoard : public ChipTest<sim::SCH3114> {
protected:
    sim::SCH3114& addAt(uint16_t port, uint8_t id = 0x7C, uint16_t base = kBase) {
        addChip(port, id);
        chip->setReg(0x0A, 0x60, static_cast<uint8_t>(base >> 8));
        chip->setReg(0x0A, 0x61, static_cast<uint8_t>(base));
        return *chip;
    }
    // Loads with `registry`, then forgets the load's traces and debugger lines.
    void loadQuiet(const std::string& registry) {
        ASSERT_EQ(board.load(registry), ZRV_STATUS_SUCCESS);
        clearSeen();
    }
};

}  // namespace sch3114test
