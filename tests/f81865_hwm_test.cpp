// F81865 hardware monitor and fan control through the request interface:
// the monitor set-up, readings from emulated registers with their zero
// rules, and fan control in both modes.
#include <cstring>

#include "tests/f81865_board.h"

namespace {

using namespace f81865test;

HwmData decode(const sim::IoResult& r) {
    HwmData d{};
    EXPECT_EQ(r.bytes, sizeof(HwmData));
    if (r.data.size() == sizeof(HwmData)) std::memcpy(&d, r.data.data(), sizeof d);
    return d;
}

std::vector<uint8_t> fanCtrl(uint8_t fan, uint8_t mode, uint8_t data) {
    return {fan, mode, data, 0, 0, 0, 0, 0};
}

class F81865Hwm : public ChipBoard {
protected:
    // A chip whose firmware put the monitor at 0x0A00 and started it.
    void start(uint16_t port, uint16_t id, uint8_t startBits = 0x03) {
        addChip(port, id);
        chip->setReg(4, 0x60, 0x0A);
        chip->setReg(4, 0x61, 0x00);
        chip->setHwm(0x01, startBits);
        board.reg(hwmKey(kF81865) + wdtKey(kNoChip) + noDio());
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    }
    HwmData getData() { return decode(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36)); }
};

TEST_F(F81865Hwm, SetUpStartsAStoppedMonitorAtTheBaseWithItsLowBitsCleared) {
    addChip(0x2E, 0x0704);
    chip->setReg(4, 0x60, 0x02);
    chip->setReg(4, 0x61, 0x95);
    chip->setHwm(0x01, 0x01);  // only one start bit
    chip->setHwm(0x96, 0x30);
    board.reg(hwmKey(kF81865) + wdtKey(kNoChip) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E, 0x0290)
                               .enter()
                               .rd(0x20, 0x07)
                               .rd(0x21, 0x04)
                               .exit()
                               .enter()
                               .select(4)
                               .rd(0x60, 0x02)
                               .rd(0x61, 0x95)
                               .rd(0x30, 0x01)
                               .hrd(0x01, 0x01)
                               .hwr(0x96, 0x0F)
                               .hwr(0x01, 0x03)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    const auto dbg = newDebugLines();
    EXPECT_EQ(Lines(dbg.end() - 3, dbg.end()),
              (Lines{"HWM_F81865_SetDefault+", "HWM_F81865 BaseAddr = 0x0290", "HWM_F81865_SetDefault-"}));
    EXPECT_EQ(chip->hwm(0x96), 0x0F);
    EXPECT_EQ(chip->hwm(0x01), 0x03);
}

TEST_F(F81865Hwm, RunningMonitorKeepsItsFanModes) {
    addChip(0x2E, 0x1010);
    chip->setReg(4, 0x60, 0x0A);
    chip->setHwm(0x01, 0x07);
    chip->setHwm(0x96, 0x15);
    board.reg(hwmKey(kF81865) + wdtKey(kNoChip) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->hwm(0x96), 0x15);
    EXPECT_EQ(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_SUCCESS);
}

// Logical device 4 left without a base by the firmware: the monitor's pair
// would land on the DMA controller. Nothing but the configuration reads.
TEST_F(F81865Hwm, MonitorWithoutBaseIsNotBound) {
    addChip(0x2E, 0x1010);
    board.reg(hwmKey(kF81865) + wdtKey(kNoChip) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E)
                               .enter()
                               .rd(0x20, 0x10)
                               .rd(0x21, 0x10)
                               .exit()
                               .enter()
                               .select(4)
                               .rd(0x60, 0x00)
                               .rd(0x61, 0x00)
                               .rd(0x30, 0x01)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    const auto dbg = newDebugLines();
    EXPECT_EQ(Lines(dbg.end() - 4, dbg.end()),
              (Lines{"HWM_F81865_SetDefault+", "HWM_F81865 BaseAddr = 0x0000",
                     "HWM_F81865 BaseAddr 0x0000 is not a monitor base, hardware monitor not bound",
                     "HWM_F81865_SetDefault-"}));
    EXPECT_EQ(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_NOT_SUPPORTED);
}

TEST_F(F81865Hwm, ReadingsOnTheLargerChipWithTheZeroRules) {
    start(0x4E, 0x1010);
    for (uint8_t r = 0x20; r <= 0x27; ++r) chip->setHwm(r, static_cast<uint8_t>(0x80 + r));
    chip->setHwm(0x72, 0x80);  // no sensor: reported as 0
    chip->setHwm(0x74, 0x41);
    chip->setHwm(0x7E, 0x80);  // temperature 3 is passed on as read
    chip->setHwm(0xA0, 0x0F);  // 0x0FFF: no reading
    chip->setHwm(0xA1, 0xFF);
    chip->setHwm(0xB0, 0x02);  // 750: 2000 rpm
    chip->setHwm(0xB1, 0xEE);
    chip->setHwm(0xC0, 0x10);  // 0x1000: 366 rpm
    chip->setHwm(0xC1, 0x00);
    clearSeen();

    const HwmData d = getData();
    EXPECT_EQ(d.Fan1, 0u);
    EXPECT_EQ(d.Fan2, 2000u);
    EXPECT_EQ(d.Fan3, 366u);
    EXPECT_EQ(d.Fan4, 0u);
    EXPECT_EQ(d.Fan5, 0u);
    const uint8_t volts[10] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0, 0};
    EXPECT_EQ(0, std::memcmp(d.Volt, volts, 10));
    EXPECT_EQ(d.Temp1, 0);
    EXPECT_EQ(d.Temp2, 0x41);
    EXPECT_EQ(d.Temp3, 0x80);
    EXPECT_EQ(d.Reserved[0] | d.Reserved[1] | d.Reserved[2], 0);

    Trace t(0x4E, 0x0A00);
    for (uint8_t r = 0x20; r <= 0x27; ++r) t.hrd(r, static_cast<uint8_t>(0x80 + r));
    t.hrd(0x72, 0x80).hrd(0x74, 0x41).hrd(0x7E, 0x80);
    t.hrd(0xA0, 0x0F).hrd(0xA1, 0xFF).hrd(0xB0, 0x02).hrd(0xB1, 0xEE).hrd(0xC0, 0x10).hrd(0xC1, 0x00);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(newDebugLines(), (Lines{"HWM_F81865_GetData+", "HWM_F81865_GetData TMPIN1=0, TMPIN2=0x41",
                                      "HWM_F81865_GetData FAN1 Raw data 4095", "HWM_F81865_GetData FAN1 0",
                                      "HWM_F81865_GetData-"}));
}

TEST_F(F81865Hwm, SmallerChipLeavesTheThirdFanVoltageEightAndTemperatureThreeAtZero) {
    start(0x2E, 0x0704);
    for (uint8_t r = 0x20; r <= 0x27; ++r) chip->setHwm(r, 0x55);
    chip->setHwm(0x72, 0x30);
    chip->setHwm(0x74, 0x80);
    chip->setHwm(0x7E, 0x33);
    chip->setFanRpm(1, 3000);
    chip->setFanRpm(2, 1500);
    chip->setFanRpm(3, 1000);
    clearSeen();

    const HwmData d = getData();
    EXPECT_EQ(d.Fan1, 3000u);
    EXPECT_EQ(d.Fan2, 1500u);
    EXPECT_EQ(d.Fan3, 0u);
    EXPECT_EQ(d.Volt[6], 0x55);
    EXPECT_EQ(d.Volt[7] | d.Volt[8] | d.Volt[9], 0);
    EXPECT_EQ(d.Temp1, 0x30);
    EXPECT_EQ(d.Temp2, 0);
    EXPECT_EQ(d.Temp3, 0);
    // No access to voltage 8 (0x27), temperature 3 (0x7E) or fan 3 (0xC0/0xC1).
    Trace t(0x2E, 0x0A00);
    for (uint8_t r = 0x20; r <= 0x26; ++r) t.hrd(r, 0x55);
    t.hrd(0x72, 0x30).hrd(0x74, 0x80).hrd(0xA0, 0x01).hrd(0xA1, 0xF4).hrd(0xB0, 0x03).hrd(0xB1, 0xE8);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(newDebugLines()[2], "HWM_F81865_GetData FAN1 Raw data 500");
}

TEST_F(F81865Hwm, FanCountToSpeedRule) {
    start(0x2E, 0x0704);
    const std::pair<uint16_t, uint32_t> cases[] = {
        {0x0000, 0},  {0x0FFF, 0},   {0x0001, 1500000}, {0x1000, 366},
        {0xFFFF, 22}, {0x0FFE, 366}, {0x02EE, 2000},
    };
    for (auto [count, rpm] : cases) {
        chip->setHwm(0xA0, static_cast<uint8_t>(count >> 8));
        chip->setHwm(0xA1, static_cast<uint8_t>(count));
        EXPECT_EQ(getData().Fan1, rpm) << "count 0x" << std::hex << count;
    }
    // Fan 1 of 2000 rpm travels as D0 07 00 00 at the start of the record.
    auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
    EXPECT_EQ(std::vector<uint8_t>(r.data.begin(), r.data.begin() + 4),
              (std::vector<uint8_t>{0xD0, 0x07, 0, 0}));
}

TEST_F(F81865Hwm, SoftwareDutySetsTheFanModeThenTheDuty) {
    start(0x4E, 0x1010);
    chip->setHwm(0x96, 0x01);
    clearSeen();
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(2, 1, 64), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, fanCtrl(2, 1, 64));
    EXPECT_EQ(board.trace(), Trace(0x4E, 0x0A00).hrd(0x96, 0x01).hwr(0x96, 0x31).hwr(0xC3, 0x80).lines());
    EXPECT_EQ(newDebugLines(),
              (Lines{"HWM_F81865_FanControl+", "HWM_F81865_FanControl SW mode FAN 2, Data 64",
                     "HWM_F81865_FanControl-"}));

    const std::pair<uint8_t, uint8_t> duty[] = {{0, 0x00}, {1, 0x02}, {126, 0xFC}, {127, 0xFF}};
    for (auto [data, reg] : duty) {
        ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(0, 1, data), 8).status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(chip->hwm(0xA3), reg) << int(data);
    }
    EXPECT_EQ(chip->hwm(0x96), 0x33);
}

TEST_F(F81865Hwm, OnOffModeDrivesTheFanFullyOnOrOff) {
    start(0x2E, 0x0704);
    chip->setFanRpm(2, 2400);
    chip->setHwm(0xB3, 0x40);
    EXPECT_EQ(getData().Fan2, 2400u) << "the chip's own control runs the fan";

    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(1, 0, 5), 8).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->hwm(0xB3), 0xFF);
    EXPECT_EQ(chip->hwm(0x96), 0x0C);
    EXPECT_EQ(getData().Fan2, 2400u);
    clearSeen();
    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(1, 0, 0), 8).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Trace(0x2E, 0x0A00).hrd(0x96, 0x0C).hwr(0x96, 0x0C).hwr(0xB3, 0x00).lines());
    EXPECT_EQ(newDebugLines()[1], "HWM_F81865_FanControl OnOff mode FAN 1, Data 0");
    EXPECT_EQ(getData().Fan2, 0u) << "a stopped fan reads no speed";
}

TEST_F(F81865Hwm, RefusedFanRequests) {
    start(0x2E, 0x0704);
    clearSeen();
    // Fan 3 does not exist on this chip: only the entry line, no port.
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(2, 1, 10), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(newDebugLines(), Lines{"HWM_F81865_FanControl+"});
    // Automatic mode is not offered.
    EXPECT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(0, 2, 10), 8).status, ZRV_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(newDebugLines(), (Lines{"HWM_F81865_FanControl+", "HWM_F81865_FanControl-"}));
    // Duty data of 128 and more never reaches the back-end.
    EXPECT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(0, 0, 0x80), 8).status,
              ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(newDebugLines().empty());
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(F81865Hwm, DutyFollowsIntoTheEmulatedFanSpeed) {
    start(0x4E, 0x1010);
    chip->setFanRpm(3, 3000);
    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanCtrl(2, 1, 64), 8).status, ZRV_STATUS_SUCCESS);
    // Duty 0x80 of 0xFF turns 3000 rpm into 1505: count 996, read back as 1506.
    EXPECT_EQ(getData().Fan3, 1506u);
}

}  // namespace
