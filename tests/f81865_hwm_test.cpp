// F81865 hardware monitor and fan control through the request interface:
// the monitor set-up, readings from emulated registers with their zero
// rules, and fan control in both modes.
#include "tests/f81865_board.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"

namespace {

using zrvtest::expectReadings;
using zrvtest::fanControl;
using zrvtest::hwmData;
using zrvtest::with;
using namespace f81865test;

class F81865Hwm : public ChipBoard {
protected:
    // A chip whose firmware put the monitor at 0x0A00 and started it.
    void start(uint16_t port, uint16_t id, uint8_t startBits = 0x03) {
        addChip(port, id);
        chip->setReg(4, 0x60, 0x0A);
        chip->setReg(4, 0x61, 0x00);
        chip->setHwm(0x01, startBits);
        ASSERT_EQ(board.load(hwmKey(kF81865) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
    }
    HwmData getData() { return hwmData(board); }
};

// The monitor set-up: the base from logical device 4, then the start bits.
TEST(F81865HwmSetUp, BaseActivationAndStartBits) {
    // The chip at 0x2E, the monitor alone bound; `load` and `debug` are the
    // set-up's part of the load, after the probe.
    const auto row = [](const char* what, uint16_t id, const std::string& body, const Trace& load,
                        const Lines& debug, ZrvStatus status) {
        Trace probe(0x2E);
        Lines trace = probed(probe, id).lines();
        trace.insert(trace.end(), load.lines().begin(), load.lines().end());
        return zrvtest::BoardRow{
            what,  zrvtest::chip("f81865", id, body),     hwmKey(kF81865) + wdtKey(kNoChip) + noDio(),
            trace, with(detectLines(id, 0, true), debug), {{IOCTL_HWM_GET_DATA, {}, 36, status}}};
    };
    Trace stopped(0x2E, 0x0290), running(0x2E, 0x0A00), noBase(0x2E);
    // One start bit: the fan modes are set, then both bits. The low bits of
    // the base are not the chip's.
    monitorReads(stopped, 0x0295, 0x01).hrd(0x01, 0x01).hwr(0x96, 0x0F).hwr(0x01, 0x03).exit();
    // Running: its fan modes are kept.
    monitorReads(running, 0x0A00, 0x01).hrd(0x01, 0x07).exit();
    // Device 4 left without a base by the firmware: the monitor's pair would
    // land on the DMA controller. Nothing but the configuration reads.
    monitorReads(noBase, 0x0000, 0x01).exit();
    const char* refused = "HWM_F81865 BaseAddr 0x0000 is not a monitor base, hardware monitor not bound";
    const zrvtest::BoardRow rows[] = {
        row("stopped", 0x0704,
            R"("config": {"4": {"0x60": "0x02", "0x61": "0x95"}}, "hwm": {"0x01": "0x01", "0x96": "0x30"})",
            stopped, monitorLines(0x0290), zrvtest::kOk),
        row("running", 0x1010,
            R"("config": {"4": {"0x60": "0x0a"}}, "hwm": {"0x01": "0x07", "0x96": "0x15"})", running,
            monitorLines(0x0A00), zrvtest::kOk),
        row("no base", 0x1010, "", noBase, monitorLines(0, refused), zrvtest::kNotBound),
    };
    for (const auto& r : rows) zrvtest::run(r);
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

    expectReadings(getData(), {0, 2000, 366, 0, 0}, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0, 0},
                   {0, 0x41, 0x80});

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

    expectReadings(getData(), {3000, 1500, 0, 0, 0}, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0, 0, 0},
                   {0x30, 0, 0});
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
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(2, 1, 64), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, fanControl(2, 1, 64));
    EXPECT_EQ(board.trace(), Trace(0x4E, 0x0A00).hrd(0x96, 0x01).hwr(0x96, 0x31).hwr(0xC3, 0x80).lines());
    EXPECT_EQ(newDebugLines(),
              (Lines{"HWM_F81865_FanControl+", "HWM_F81865_FanControl SW mode FAN 2, Data 64",
                     "HWM_F81865_FanControl-"}));

    const std::pair<uint8_t, uint8_t> duty[] = {{0, 0x00}, {1, 0x02}, {126, 0xFC}, {127, 0xFF}};
    for (auto [data, reg] : duty) {
        ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(0, 1, data), 8).status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(chip->hwm(0xA3), reg) << int(data);
    }
    EXPECT_EQ(chip->hwm(0x96), 0x33);
}

TEST_F(F81865Hwm, OnOffModeDrivesTheFanFullyOnOrOff) {
    start(0x2E, 0x0704);
    chip->setFanRpm(2, 2400);
    chip->setHwm(0xB3, 0x40);
    EXPECT_EQ(getData().Fan2, 2400u) << "the chip's own control runs the fan";

    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(1, 0, 5), 8).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->hwm(0xB3), 0xFF);
    EXPECT_EQ(chip->hwm(0x96), 0x0C);
    EXPECT_EQ(getData().Fan2, 2400u);
    clearSeen();
    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(1, 0, 0), 8).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Trace(0x2E, 0x0A00).hrd(0x96, 0x0C).hwr(0x96, 0x0C).hwr(0xB3, 0x00).lines());
    EXPECT_EQ(newDebugLines()[1], "HWM_F81865_FanControl OnOff mode FAN 1, Data 0");
    EXPECT_EQ(getData().Fan2, 0u) << "a stopped fan reads no speed";
}

TEST_F(F81865Hwm, RefusedFanRequests) {
    start(0x2E, 0x0704);
    clearSeen();
    // Fan 3 does not exist on this chip: only the entry line, no port.
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(2, 1, 10), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(newDebugLines(), Lines{"HWM_F81865_FanControl+"});
    // Automatic mode is not offered.
    EXPECT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(0, 2, 10), 8).status, ZRV_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(newDebugLines(), (Lines{"HWM_F81865_FanControl+", "HWM_F81865_FanControl-"}));
    // Duty data of 128 and more never reaches the back-end.
    EXPECT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(0, 0, 0x80), 8).status,
              ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(newDebugLines().empty());
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(F81865Hwm, DutyFollowsIntoTheEmulatedFanSpeed) {
    start(0x4E, 0x1010);
    chip->setFanRpm(3, 3000);
    ASSERT_EQ(board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(2, 1, 64), 8).status, ZRV_STATUS_SUCCESS);
    // Duty 0x80 of 0xFF turns 3000 rpm into 1505: count 996, read back as 1506.
    EXPECT_EQ(getData().Fan3, 1506u);
}

}  // namespace
