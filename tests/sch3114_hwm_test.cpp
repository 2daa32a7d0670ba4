// SCH3114 hardware monitor and fan control through the request interface:
// the start-up writes, the readings with their fan and temperature rules,
// and fan control in each mode.
#include "tests/sch3114_board.h"
#include "tests/support/answers.h"

namespace {

using zrvtest::fanControl;
using zrvtest::hwmData;
using namespace sch3114test;

class SCH3114Hwm : public ChipBoard {
protected:
    void SetUp() override {
        addAt(0x4E, 0x7C);
        ASSERT_EQ(board.load(hwmKey(kSCH3114) + wdtKey(kNoChip) + noDio()), ZRV_STATUS_SUCCESS);
    }
    HwmData getData() { return hwmData(board); }
    void setCount(uint16_t count) {
        chip->setHwm(0x28, static_cast<uint8_t>(count));
        chip->setHwm(0x29, static_cast<uint8_t>(count >> 8));
    }
};

TEST_F(SCH3114Hwm, ReadingsAreOneSequenceInRegisterOrder) {
    const uint8_t volts[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x99, 0x9A};
    for (uint8_t r : volts) chip->setHwm(r, static_cast<uint8_t>(r + 0x40));
    chip->setTemperature(1, 0x80);  // no sensor: 0
    chip->setTemperature(2, 0x7F);
    chip->setTemperature(3, 0x81);
    setCount(0x0E10);          // 3600: 1500 rpm
    chip->setHwm(0x2A, 0x01);  // 1: 5,400,000 rpm
    chip->setHwm(0x2B, 0x00);
    chip->setHwm(0x2D, 0x00);  // 0x00FF: 21176 rpm
    clearSeen();

    zrvtest::expectReadings(getData(), {1500, 5400000, 21176, 0, 0},
                            {0x60, 0x61, 0x62, 0x63, 0x64, 0xD9, 0xDA, 0, 0, 0}, {0, 0x7F, 0x81});

    RtTrace t;
    for (uint8_t r : volts) t.hrd(r, static_cast<uint8_t>(r + 0x40));
    t.hrd(0x25, 0x80).hrd(0x26, 0x7F).hrd(0x27, 0x81);
    t.hrd(0x28, 0x10).hrd(0x29, 0x0E).hrd(0x2A, 0x01).hrd(0x2B, 0x00).hrd(0x2C, 0xFF).hrd(0x2D, 0x00);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(newDebugLines(),
              (Lines{"HWM_SCH3114_GetData+", "SCH3114GetHwmData TMPIN1=0, TMPIN2=0x7f, TMPIN3=0x81",
                     "HWM_SCH3114_GetData FAN1 1500", "HWM_SCH3114_GetData-"}));
}

TEST_F(SCH3114Hwm, FanCountToSpeedRule) {
    const std::pair<uint16_t, uint32_t> cases[] = {
        {0x0000, 0}, {0xFFFF, 0}, {0x0001, 5400000}, {0x0E10, 1500}, {0xFFFE, 82}, {0x0007, 771428},
    };
    for (auto [count, rpm] : cases) {
        setCount(count);
        EXPECT_EQ(getData().Fan1, rpm) << "count 0x" << std::hex << count;
    }
}

// Each mode keeps bits 4..0 of the configuration register; the duty goes to
// the duty register as given (0..127), unscaled.
TEST_F(SCH3114Hwm, FanControlInEachMode) {
    struct Case {
        uint8_t fan, mode, data, config;
        ZrvStatus status;
        std::vector<std::string> trace;
    };
    const Case cases[] = {
        {0, 0, 5, 0x3F, ZRV_STATUS_SUCCESS, RtTrace().hrd(0x5C, 0x3F).hwr(0x5C, 0x7F)},
        {1, 0, 0, 0xE5, ZRV_STATUS_SUCCESS, RtTrace().hrd(0x5D, 0xE5).hwr(0x5D, 0x85)},
        {2, 1, 0x40, 0xA2, ZRV_STATUS_SUCCESS, RtTrace().hrd(0x5E, 0xA2).hwr(0x5E, 0xE2).hwr(0x32, 0x40)},
        {0, 1, 0x7F, 0x00, ZRV_STATUS_SUCCESS, RtTrace().hrd(0x5C, 0x00).hwr(0x5C, 0xE0).hwr(0x30, 0x7F)},
        {1, 2, 10, 0x62, ZRV_STATUS_UNSUCCESSFUL, RtTrace().hrd(0x5D, 0x62)},  // no automatic mode
        {3, 0, 1, 0x00, ZRV_STATUS_UNSUCCESSFUL, {}},                          // no fan 3: no port
    };
    for (const Case& c : cases) {
        if (c.fan < 3) chip->setHwm(static_cast<uint8_t>(0x5C + c.fan), c.config);
        clearSeen();
        const auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fanControl(c.fan, c.mode, c.data), 8);
        EXPECT_EQ(r.status, c.status) << int(c.fan) << "/" << int(c.mode);
        EXPECT_EQ(r.bytes, c.status == ZRV_STATUS_SUCCESS ? 8u : 0u);
        EXPECT_EQ(board.trace(), c.trace) << int(c.fan) << "/" << int(c.mode);
    }
    EXPECT_TRUE(newDebugLines().empty()) << "fan control logs nothing";
}

}  // namespace
