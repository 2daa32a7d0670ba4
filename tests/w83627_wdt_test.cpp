// W83627 watchdog through the request interface, in both register layouts:
// the probe at either pair, the set-up, the bracket of every request, the
// refusals, and the emulated countdown firing or being held off.
#include "tests/support/answers.h"
#include "tests/w83627_board.h"

namespace {

using namespace w83627test;
using zrvtest::keepAlive;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;

// A chip and the watchdog registers its ID implies.
struct Layout {
    uint16_t port;
    uint8_t id;
    uint32_t code;  // chip code in the registry
    uint8_t mode, count, control;
    uint8_t always, minutes;  // mode bits SetTimeout sets always / for minutes
};
const Layout kLayouts[] = {
    {0x2E, 0x88, kW83627, 0xF5, 0xF6, 0xF7, 0x02, 0x08},
    {0x4E, 0x60, kW83627Alt, 0xF3, 0xF4, 0xF5, 0x00, 0x04},
    {0x4E, 0x52, kW83627, 0xF5, 0xF6, 0xF7, 0x02, 0x08},
    {0x2E, 0x68, kW83627, 0xF3, 0xF4, 0xF5, 0x00, 0x04},
};

class W83627Wdt : public ChipBoard, public ::testing::WithParamInterface<Layout> {
protected:
    void SetUp() override {
        const Layout& l = GetParam();
        addChip(l.port, l.id);
        chip->setReg(sim::W83627::kGlobal, 0x2D, 0x5B);
        chip->setReg(8, l.mode, 0x31);  // bits the driver must keep
        chip->setReg(8, l.control, 0xFF);
        ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(l.code) + noDio()), ZRV_STATUS_SUCCESS);
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit) {
        return board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    }
    ZrvStatus request(uint32_t code) { return board.ioctl(code).status; }
    Trace bracket() const { return std::move(Trace(GetParam().port).enter().select(8)); }
    std::vector<uint64_t> resets() const { return chip->resets(); }
};

// Only the ID is read at each pair; the set-up activates device 8, clears the
// control register and, on ID 0x88 only, global register 0x2D bit 0.
TEST_P(W83627Wdt, ProbeAndSetUp) {
    const Layout& l = GetParam();
    Trace t(0x2E);
    if (l.port == 0x4E) emptyProbe(t, 0x2E);
    t.at(l.port).enter().rd(0x20, l.id).exit().enter().select(8).wr(0x30, 0x01).wr(l.control, 0x00);
    if (l.id == 0x88) t.rd(0x2D, 0x5B).wr(0x2D, 0x5A);
    EXPECT_EQ(board.trace(), t.exit().lines());
    EXPECT_EQ(chip->reg(sim::W83627::kGlobal, 0x2D), l.id == 0x88 ? 0x5A : 0x5B);
    EXPECT_TRUE(board.debugLines().empty());
}

TEST_P(W83627Wdt, EveryRequestIsOneBracket) {
    const Layout& l = GetParam();
    const uint8_t mode = static_cast<uint8_t>(0x31 | l.always);
    constexpr ZrvStatus kStill = ZRV_STATUS_INVALID_DEVICE_STATE;  // count 0: does not count
    struct Step {
        uint32_t code;
        uint16_t count, unit;  // SetTimeout only
        ZrvStatus status;
        Lines trace;
    };
    const Step steps[] = {
        {IOCTL_WDT_SET_TIMEOUT, 255, 2, 0,
         bracket().rd(l.mode, 0x31).wr(l.mode, mode | l.minutes).wr(l.count, 0x00).exit()},
        {IOCTL_WDT_START, 0, 0, 0, bracket().wr(l.count, 0xFF).exit()},
        {IOCTL_WDT_RESET, 0, 0, 0, bracket().wr(l.count, 0xFF).exit()},
        {IOCTL_WDT_STOP, 0, 0, 0, bracket().wr(l.count, 0x00).exit()},
        {IOCTL_WDT_SET_TIMEOUT, 0, 1, 0,
         bracket().rd(l.mode, mode | l.minutes).wr(l.mode, mode).wr(l.count, 0x00).exit()},
        {IOCTL_WDT_START, 0, 0, kStill, bracket().wr(l.count, 0x00).exit()},  // count 0: stays stopped
        {IOCTL_WDT_SET_TIMEOUT, 256, 1, ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_SET_TIMEOUT, 10, 0, ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_SET_TIMEOUT, 10, 3, ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_RESET, 0, 0, kStill, bracket().wr(l.count, 0x00).exit()},  // refusals kept count 0
    };
    for (const Step& s : steps) {
        board.clearTrace();
        const ZrvStatus status =
            s.code == IOCTL_WDT_SET_TIMEOUT ? setTimeout(s.count, s.unit) : request(s.code);
        EXPECT_EQ(status, s.status) << std::hex << s.code << " " << s.count << "/" << s.unit;
        EXPECT_EQ(board.trace(), s.trace) << std::hex << s.code << " " << s.count << "/" << s.unit;
    }
    board.clearTrace();
    auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(r.data, timeoutRecord(255, 3));
    EXPECT_TRUE(board.trace().empty());
}

TEST_P(W83627Wdt, StartBeforeAnyTimeoutLoadsZero) {
    board.clearTrace();
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_INVALID_DEVICE_STATE) << "count 0 does not count";
    EXPECT_EQ(board.trace(), bracket().wr(GetParam().count, 0x00).exit().lines());
    board.machine().advance(600000);
    EXPECT_TRUE(resets().empty());
}

TEST_P(W83627Wdt, FiresWhenNotRestartedInTimeAndNotWhenKeptAliveOrStopped) {
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    keepAlive(board, 5, 4900);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(4999);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{29500});
    EXPECT_EQ(chip->reg(8, GetParam().control) & 0x10, 0x10);

    // Minutes; a SetTimeout stops a running countdown, so does Stop.
    ASSERT_EQ(startWatchdog(board, 2, 2), ZRV_STATUS_SUCCESS);
    board.machine().advance(119999);
    EXPECT_EQ(resets().size(), 1u);
    board.machine().advance(1);
    EXPECT_EQ(resets(), (std::vector<uint64_t>{29500, 149500}));
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    board.machine().advance(60000);
    ASSERT_EQ(setTimeout(2, 2), ZRV_STATUS_SUCCESS);
    board.machine().advance(600000);
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    board.machine().advance(600000);
    EXPECT_EQ(resets().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, W83627Wdt, ::testing::ValuesIn(kLayouts), [](const auto& p) {
    return fmt::format("Id{:02x}At{:02x}", p.param.id, p.param.port);
});

// No accepted ID at either pair: both brackets closed again, nothing else
// written, no watchdog.
class W83627WdtProbe : public ChipBoard {};

TEST_F(W83627WdtProbe, UnknownIdIsNotBound) {
    addChip(0x4E, 0x77);
    ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kW83627) + noDio()), ZRV_STATUS_SUCCESS);
    Trace t(0x2E);
    emptyProbe(t, 0x2E).at(0x4E).enter().rd(0x20, 0x77).exit();
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(board.ioctl(IOCTL_WDT_START).status, ZRV_STATUS_NOT_SUPPORTED);
}

}  // namespace
