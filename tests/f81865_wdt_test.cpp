// F81865 watchdog through the request interface: the brackets each request
// makes, its refusals, and the emulated countdown firing or being held off.
#include "tests/f81865_board.h"
#include "tests/support/answers.h"

namespace {

using namespace f81865test;
using zrvtest::keepAlive;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;

class F81865Wdt : public ChipBoard {
protected:
    void SetUp() override {
        addChip(0x2E, 0x0704);
        ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kF81865) + noDio()), ZRV_STATUS_SUCCESS);
        clearSeen();
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit) {
        return board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    }
    ZrvStatus request(uint32_t code) { return board.ioctl(code).status; }
    std::vector<uint64_t> resets() const { return chip->resets(); }
};

TEST_F(F81865Wdt, SetTimeoutWritesOnlyTheUnitAndStoresTheCount) {
    EXPECT_EQ(setTimeout(255, 2), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(7).wr(0xF5, 0x08).exit().lines());
    EXPECT_EQ(newDebugLines(), Lines{"WDT_F81865 SetTimeout 255"});
    clearSeen();

    // Start loads the stored count and sets the run bits on what the chip holds.
    EXPECT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(),
              Trace(0x2E).enter().select(7).wr(0xF6, 0xFF).rd(0xF5, 0x08).wr(0xF5, 0x68).exit().lines());
    EXPECT_EQ(newDebugLines(), Lines{"WDT_F81865 Start"});
    clearSeen();

    // Reset is the same reload.
    EXPECT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(),
              Trace(0x2E).enter().select(7).wr(0xF6, 0xFF).rd(0xF5, 0x28).wr(0xF5, 0x68).exit().lines());
    EXPECT_EQ(newDebugLines(), Lines{"WDT_F81865 Start"});
    clearSeen();

    // Stop keeps only the unit bit.
    EXPECT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(7).rd(0xF5, 0x28).wr(0xF5, 0x08).exit().lines());
    EXPECT_EQ(newDebugLines(), Lines{"WDT_F81865 Stop"});
    EXPECT_EQ(chip->reg(7, 0xF5), 0x08);
}

TEST_F(F81865Wdt, OutOfRangeTimeoutsAreRefusedWithoutTouchingTheChip) {
    EXPECT_EQ(setTimeout(7, 1), ZRV_STATUS_SUCCESS);
    clearSeen();
    for (auto [count, unit] : {std::pair{256, 1}, {10, 0}, {10, 3}, {0xFFFF, 2}}) {
        EXPECT_EQ(setTimeout(static_cast<uint16_t>(count), static_cast<uint16_t>(unit)),
                  ZRV_STATUS_INVALID_PARAMETER)
            << count << "/" << unit;
    }
    EXPECT_TRUE(board.trace().empty());
    EXPECT_TRUE(newDebugLines().empty());
    // The stored count is still the last accepted one.
    EXPECT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->reg(7, 0xF6), 7);
}

TEST_F(F81865Wdt, GetTimeoutIsAFixedAnswerWithoutPortAccess) {
    auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, timeoutRecord(255, 3));
    EXPECT_TRUE(board.trace().empty());
    EXPECT_EQ(newDebugLines(), Lines{"WDT_F81865 GetTimeout"});
}

TEST_F(F81865Wdt, FiresWhenNotRestartedInTime) {
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(4999);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{5000});
    // Timed out: the countdown stops and the status bit is up.
    EXPECT_EQ(chip->reg(7, 0xF5) & 0x60, 0x40);
    board.machine().advance(60000);
    EXPECT_EQ(resets().size(), 1u);

    // A new Start clears the status and counts again from the stored count.
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->reg(7, 0xF5) & 0x60, 0x20);
    board.machine().advance(5000);
    EXPECT_EQ(resets(), (std::vector<uint64_t>{5000, 70000}));
}

TEST_F(F81865Wdt, DoesNotFireWhileRestartedOrStopped) {
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    keepAlive(board, 10, 4000);
    EXPECT_TRUE(resets().empty());
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    board.machine().advance(600000);
    EXPECT_TRUE(resets().empty());
}

TEST_F(F81865Wdt, SetTimeoutStopsARunningCountdown) {
    ASSERT_EQ(startWatchdog(board, 3, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(2000);
    ASSERT_EQ(setTimeout(3, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(10000);
    EXPECT_TRUE(resets().empty());
    EXPECT_EQ(chip->reg(7, 0xF5) & 0x20, 0);
}

TEST_F(F81865Wdt, MinutesAndAStopStartPairKeepTheUnitAndCount) {
    ASSERT_EQ(startWatchdog(board, 2, 2), ZRV_STATUS_SUCCESS);
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    clearSeen();
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(),
              Trace(0x2E).enter().select(7).wr(0xF6, 0x02).rd(0xF5, 0x08).wr(0xF5, 0x68).exit().lines());
    board.machine().advance(119999);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{120000});
}

// The chip fires at once on a count of 0 with its run bit set: a start
// before any timeout leaves the run bit clear, says so, and nothing fires.
TEST_F(F81865Wdt, StartWithoutTimeoutLeavesTheCountdownStill) {
    newDebugLines();
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(board.trace(),
              Trace(0x2E).enter().select(7).wr(0xF6, 0x00).rd(0xF5, 0x00).wr(0xF5, 0x00).exit().lines());
    EXPECT_EQ(newDebugLines(), (Lines{"WDT_F81865 Start", "WDT_F81865 Start count 0, not counting"}));
    board.machine().advance(600000);
    EXPECT_TRUE(resets().empty());
    // The chip itself: its run bit set over count 0 fires at once.
    auto& bus = board.machine().bus();
    const std::pair<uint16_t, uint8_t> runBit[] = {{0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0x07}, {0x2F, 0x07},
                                                   {0x2E, 0xF5}, {0x2F, 0x60}, {0x2E, 0xAA}};
    for (const auto& [port, value] : runBit) bus.write(port, value);
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{600000});
}

}  // namespace
