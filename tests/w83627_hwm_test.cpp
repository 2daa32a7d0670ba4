// W83627 hardware monitor through the request interface: the probe through
// logical device 0x0B at either pair and its refusals, the fan divisors, the
// readings and bank selections of one request per chip ID, and fan control.
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"
#include "tests/w83627_board.h"

namespace {

using zrvtest::fanControl;
using zrvtest::hwmData;
using namespace w83627test;

// A chip whose firmware put the monitor at `base` and turned it on.
void monitorAt(sim::W83627& c, uint16_t base, uint8_t on = 0x01) {
    c.setReg(0x0B, 0x60, static_cast<uint8_t>(base >> 8));
    c.setReg(0x0B, 0x61, static_cast<uint8_t>(base));
    c.setReg(0x0B, 0x40, on);
}

// Each table row below loads its own board (one virtual board at a time).

// Readings every test chip carries; divisors 2, 4, 32 (fan 3: bit 2 from
// 0x5D), 64 (fan 4: bit 2 from 0x4C) and 2.
void presetReadings(sim::W83627& c) {
    for (uint8_t r = 0x20; r <= 0x26; ++r) c.setHwm(r, static_cast<uint8_t>(0x40 + r));
    for (uint8_t r = 0x50; r <= 0x52; ++r) c.setHwm(r, static_cast<uint8_t>(0x60 + r), 5);
    c.setHwm(0x27, 40);
    c.setHwm(0x50, 41, 1);
    c.setHwm(0x50, 42, 2);
    c.setHwm(0x47, 0x90);
    c.setHwm(0x4B, 0x40);
    c.setHwm(0x5D, 0x80, 0);
    c.setHwm(0x59, 0x06, 0);
    c.setHwm(0x4C, 0x80);
    c.setHwm(0x28, 150);
    c.setHwm(0x29, 75);
    c.setHwm(0x2A, 1);
    c.setHwm(0x3F, 3);
    c.setHwm(0x53, 0xFF, 5);  // full scale: 0 rpm, the other fans undisturbed
}

class W83627Hwm : public ChipBoard {
protected:
    void start(uint16_t port, uint8_t id, uint16_t base = 0x0290) {
        addChip(port, id);
        monitorAt(*chip, base);
        presetReadings(*chip);
        ASSERT_EQ(board.load(hwmKey(kW83627) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
    }
    HwmData getData() { return hwmData(board); }
};

TEST_F(W83627Hwm, ProbeAndDivisorsOnTheLargestChip) {
    start(0x2E, 0x88);
    Trace expected(0x2E, 0x0290);
    monitorProbe(expected, 0x88, 0x0290, 0x90, 0x80, 0x40).hrd(0x59, 0x06).hrd(0x4C, 0x80);
    EXPECT_EQ(board.trace(), expected.lines());
    EXPECT_EQ(newDebugLines(),
              (Lines{"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0290", "W83627GetChipID-"}));
}

// ID 0x82 at the second pair: fan 3 counts through register 0x18 bit 0,
// cleared once.
TEST_F(W83627Hwm, ProbeAtTheSecondPairClearsTheFanInputBitOn82) {
    addChip(0x4E, 0x82);
    monitorAt(*chip, 0x0A00);
    chip->setHwm(0x18, 0x03);
    ASSERT_EQ(board.load(hwmKey(kW83627Alt) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
    Trace t(0x2E, 0x0A00);
    monitorProbe(emptyProbe(t, 0x2E).at(0x4E), 0x82, 0x0A00, 0x00, 0x00, 0x00)
        .hrd(0x18, 0x03)
        .hwr(0x18, 0x02);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(newDebugLines(), (Lines{"W83627GetChipID+", "W83627GetChipID-", "W83627GetChipID+",
                                      "W83627GetChipID HWM BASE Addr 0a00", "W83627GetChipID-"}));
}

// The monitor is not bound, and no port but the configuration pairs is
// touched: an ID the monitor does not serve, a base of 0, the monitor off,
// a base among the board's own devices, and one with only the low three bits
// the chip ignores.
TEST(W83627HwmPerChip, ChipsWithoutAUsableMonitorAreRefused) {
    struct Case {
        uint8_t id;
        uint16_t base;
        uint8_t on;
        Lines debug;
    };
    const Lines none2E = {"W83627GetChipID+", "W83627GetChipID-"};
    const Case cases[] = {
        {0x59, 0x0290, 1, {"W83627GetChipID+", "W83627GetChipID-", "W83627GetChipID+", "W83627GetChipID-"}},
        {0x88,
         0x0000,
         1,
         {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0000", "W83627GetChipID-", "W83627GetChipID+",
          "W83627GetChipID-"}},
        {0x88,
         0x0290,
         0,
         {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0290", "W83627GetChipID-", "W83627GetChipID+",
          "W83627GetChipID-"}},
        {0xA0,
         0x0080,
         1,
         {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0080", "W83627GetChipID-",
          "HWM_W83627_Detect BaseAddr 0x0080 is not a monitor base, hardware monitor not bound"}},
        {0x88,
         0x0007,
         1,
         {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0000", "W83627GetChipID-", "W83627GetChipID+",
          "W83627GetChipID-"}},
    };
    for (const Case& c : cases) {
        zrvtest::OneDevice<sim::W83627> row(0x2E, c.id);
        auto& b = row.board;
        monitorAt(row.device, c.base, c.on);
        ASSERT_EQ(b.load(hwmKey(kW83627) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
        for (const auto& line : b.trace())
            EXPECT_TRUE(line.find(" 0x002") != std::string::npos || line.find(" 0x004") != std::string::npos)
                << line;
        EXPECT_EQ(b.debugLines(), c.debug) << std::hex << int(c.id) << " " << c.base;
        EXPECT_EQ(b.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_NOT_SUPPORTED);
    }
}

// One reading on ID 0x88: bank 0, bank 5 for the last voltages, banks 1 and
// 2 for temperatures 2 and 3, bank 5 for fan 5, bank 0 at the end.
TEST_F(W83627Hwm, OneReadingSelectsItsBanksInOrder) {
    start(0x2E, 0x88);
    clearSeen();
    const HwmData d = getData();
    Trace t(0x2E, 0x0290);
    t.hwr(0x4E, 0);
    for (uint8_t r = 0x20; r <= 0x26; ++r) t.hrd(r, static_cast<uint8_t>(0x40 + r));
    t.hwr(0x4E, 5).hrd(0x50, 0xB0).hrd(0x51, 0xB1).hrd(0x52, 0xB2).hrd(0x27, 40);
    t.hwr(0x4E, 1).hrd(0x50, 41).hwr(0x4E, 2).hrd(0x50, 42);
    t.hrd(0x28, 150).hrd(0x29, 75).hrd(0x2A, 1).hrd(0x3F, 3).hwr(0x4E, 5).hrd(0x53, 0xFF).hwr(0x4E, 0);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(newDebugLines(), (Lines{"W83627GetHwmData+", "W83627GetHwmData TMPIN2=0x29",
                                      "W83627GetHwmData TMPIN1=40, TMPIN2=0x29, TMPIN3=0x2a",
                                      "W83627GetHwmData FAN1 4500", "W83627GetHwmData-"}));
    EXPECT_EQ(chip->hwm(0x4E), 0);
    EXPECT_EQ(d.Temp1 * 10000 + d.Temp2 * 100 + d.Temp3, 404142);
}

// What each chip ID reads: voltage bytes 21, 25, 26 and 29, fans 4 and 5,
// and fan 3's divisor (1 where the divisor bits mean something else).
TEST(W83627HwmPerChip, ReadingsAndDivisorsPerChipId) {
    struct Case {
        uint8_t id;
        uint8_t volt1, volt5, volt6, volt9;
        uint32_t fan3, fan4;
        std::vector<uint8_t> notRead;
    };
    const Case cases[] = {
        {0x88, 0x61, 0x65, 0x66, 0xB2, 42187, 7031, {}},
        {0xA0, 0x61, 0x65, 0x66, 0, 42187, 7031, {0x52}},
        {0xB0, 0x61, 0x65, 0x66, 0, 42187, 7031, {0x52}},
        {0x52, 0x61, 0x65, 0x66, 0, 42187, 0, {0x52, 0x3F, 0x53, 0x59, 0x4C}},
        {0x82, 0x61, 0, 0, 0, 42187, 0, {0x25, 0x26, 0x52, 0x3F, 0x53, 0x59, 0x4C}},
        {0xA2, 0x61, 0x65, 0x66, 0, 1350000, 0, {0x52, 0x3F, 0x53, 0x59, 0x4C}},
        {0x60, 0, 0x65, 0x66, 0, 1350000, 0, {0x21, 0x52, 0x3F, 0x53, 0x59, 0x4C}},
    };
    for (const Case& c : cases) {
        zrvtest::OneDevice<sim::W83627> row(0x2E, c.id);
        auto& [b, w] = row;
        monitorAt(w, 0x0290);
        presetReadings(w);
        ASSERT_EQ(b.load(hwmKey(kW83627) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
        const HwmData d = hwmData(b.ioctl(IOCTL_HWM_GET_DATA, {}, 36));
        const std::string at = fmt::format("ID {:02x}", c.id);
        EXPECT_EQ(d.Fan1, 4500u) << at;  // count 150, divisor 2
        EXPECT_EQ(d.Fan2, 4500u) << at;  // count 75, divisor 4
        EXPECT_EQ(d.Fan3, c.fan3) << at;
        EXPECT_EQ(d.Fan4, c.fan4) << at;  // count 3, divisor 64
        EXPECT_EQ(d.Fan5, 0u) << at;
        const uint8_t volts[10] = {0x60, c.volt1, 0x62, 0x63, 0x64, c.volt5, c.volt6, 0xB0, 0xB1, c.volt9};
        EXPECT_EQ(std::vector<uint8_t>(d.Volt, d.Volt + 10), std::vector<uint8_t>(volts, volts + 10)) << at;
        EXPECT_EQ(d.Temp1 * 10000 + d.Temp2 * 100 + d.Temp3, 404142) << at;
        for (uint8_t r : c.notRead)
            for (const auto& line : b.trace()) EXPECT_NE(line, fmt::format("out 0x0295 0x{:02x}", r)) << at;
    }
}

TEST_F(W83627Hwm, CountsOfZeroAndFullScaleReportNoSpeed) {
    start(0x2E, 0xB0);
    chip->setHwm(0x28, 0);
    chip->setHwm(0x29, 255);
    chip->setHwm(0x3F, 1);
    const HwmData d = getData();
    EXPECT_EQ(d.Fan1, 0u);
    EXPECT_EQ(d.Fan2, 0u);
    EXPECT_EQ(d.Fan3, 42187u);
    EXPECT_EQ(d.Fan4, 21093u);
}

// Fan control per chip ID: the mode register's bits cleared, then the duty
// register; refusals touch nothing.
TEST(W83627HwmPerChip, FanControlPerChipId) {
    struct Case {
        uint8_t id, fan, mode, data;
        ZrvStatus status;
        Lines trace;
    };
    const Trace m(0x2E, 0x0290);
    const auto seq = [&](uint8_t cfg, uint8_t cleared, uint8_t out, uint8_t duty) {
        return Trace(m).hrd(cfg, 0xFF).hwr(cfg, cleared).hwr(out, duty).lines();
    };
    constexpr ZrvStatus kRefused = ZRV_STATUS_UNSUCCESSFUL;
    const Case cases[] = {
        {0x88, 0, 1, 100, 0, seq(0x04, 0xF2, 0x01, 200)},
        {0x88, 1, 0, 1, 0, seq(0x04, 0xCD, 0x03, 0xFF)},
        {0x88, 2, 0, 0, 0, seq(0x12, 0xF8, 0x11, 0x00)},
        {0x88, 3, 1, 127, 0, seq(0x62, 0x8F, 0x61, 0xFE)},
        {0x88, 4, 0, 1, kRefused, {}},
        {0x88, 0, 2, 1, kRefused, {}},
        {0xB0, 3, 0, 1, 0, seq(0x62, 0x8F, 0x61, 0xFF)},
        {0x52, 2, 1, 64, 0, seq(0x12, 0xF8, 0x11, 0x80)},
        {0x82, 2, 0, 9, 0, seq(0x12, 0xF8, 0x11, 0xFF)},
        {0x82, 3, 0, 1, kRefused, {}},
        {0x60, 1, 1, 5, 0, seq(0x04, 0xCD, 0x03, 0x0A)},
        {0x60, 2, 0, 1, kRefused, {}},
        {0xA2, 2, 1, 1, kRefused, {}},
    };
    for (const Case& c : cases) {
        zrvtest::OneDevice<sim::W83627> row(0x2E, c.id);
        auto& [b, w] = row;
        monitorAt(w, 0x0290);
        for (uint8_t r : {0x04, 0x12, 0x62}) w.setHwm(r, 0xFF);
        ASSERT_EQ(b.load(hwmKey(kW83627) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
        b.clearTrace();
        const auto r = b.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(c.fan, c.mode, c.data), 8);
        const std::string at = fmt::format("ID {:02x} fan {} mode {} data {}", c.id, c.fan, c.mode, c.data);
        EXPECT_EQ(r.status, c.status) << at;
        EXPECT_EQ(b.trace(), c.trace) << at;
    }
}

}  // namespace
