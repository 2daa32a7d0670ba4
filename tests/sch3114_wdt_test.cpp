// SCH3114 watchdog through the request interface: the single runtime write
// of each request, its refusals, and the emulated countdown firing or being
// held off.
#include "tests/sch3114_board.h"
#include "tests/support/answers.h"

namespace {

using namespace sch3114test;
using zrvtest::keepAlive;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;

class SCH3114Wdt : public ChipBoard {
protected:
    void SetUp() override {
        addAt(0x2E, 0x7D);
        loadQuiet(hwmKey(kNoChip) + wdtKey(kSCH3114) + noDio());
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit) {
        return board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    }
    ZrvStatus request(uint32_t code) { return board.ioctl(code).status; }
    void advance(uint64_t ms) { board.machine().advance(ms); }
};

// Each request is one write (GetTimeout none), in this order of a session.
TEST_F(SCH3114Wdt, EachRequestIsOneRuntimeWrite) {
    struct Step {
        uint32_t code;
        std::vector<uint8_t> input;
        ZrvStatus status;
        std::vector<std::string> trace;
    };
    const Step steps[] = {
        {IOCTL_WDT_START,
         {},
         ZRV_STATUS_INVALID_DEVICE_STATE,
         RtTrace().rout(0x66, 0)},  // nothing set yet: count 0
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(10, 1), ZRV_STATUS_SUCCESS, RtTrace().rout(0x65, 0x80)},
        {IOCTL_WDT_START, {}, ZRV_STATUS_SUCCESS, RtTrace().rout(0x66, 10)},
        {IOCTL_WDT_RESET, {}, ZRV_STATUS_SUCCESS, RtTrace().rout(0x66, 10)},
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(255, 2), ZRV_STATUS_SUCCESS, RtTrace().rout(0x65, 0x00)},
        {IOCTL_WDT_RESET, {}, ZRV_STATUS_SUCCESS, RtTrace().rout(0x66, 255)},
        {IOCTL_WDT_STOP, {}, ZRV_STATUS_SUCCESS, RtTrace().rout(0x66, 0)},
        // Refused: no port, the stored count stays 255.
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(256, 1), ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(10, 0), ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(10, 3), ZRV_STATUS_INVALID_PARAMETER, {}},
        {IOCTL_WDT_START, {}, ZRV_STATUS_SUCCESS, RtTrace().rout(0x66, 255)},
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(0, 1), ZRV_STATUS_SUCCESS, RtTrace().rout(0x65, 0x80)},
        {IOCTL_WDT_START, {}, ZRV_STATUS_INVALID_DEVICE_STATE, RtTrace().rout(0x66, 0)},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(board.ioctl(s.code, s.input).status, s.status) << std::hex << s.code;
        EXPECT_EQ(board.trace(), s.trace) << std::hex << s.code;
        board.clearTrace();
    }
    auto range = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(range.data, timeoutRecord(255, 3));
    EXPECT_TRUE(board.trace().empty());
    EXPECT_TRUE(newDebugLines().empty()) << "the watchdog logs nothing";
}

TEST_F(SCH3114Wdt, FiresWhenNotRestartedInTime) {
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    advance(4999);
    EXPECT_TRUE(chip->resets().empty());
    advance(1);
    EXPECT_EQ(chip->resets(), std::vector<uint64_t>{5000});
    EXPECT_EQ(chip->runtime(0x68) & 0x01, 0x01) << "timeout status";
    advance(60000);
    EXPECT_EQ(chip->resets().size(), 1u) << "a count run out stays stopped";
}

TEST_F(SCH3114Wdt, DoesNotFireWhileRestartedOrStopped) {
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    for (int i = 0; i < 10; ++i) {
        advance(4000);
        ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    }
    EXPECT_TRUE(chip->resets().empty());
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    advance(600000);
    EXPECT_TRUE(chip->resets().empty());
}

// The unit is written at once, the count only at the next Start or Reset:
// a countdown loaded in minutes goes on in seconds.
TEST_F(SCH3114Wdt, NewUnitAppliesAtOnceNewCountAtTheNextReload) {
    ASSERT_EQ(startWatchdog(board, 2, 2), ZRV_STATUS_SUCCESS);
    advance(60000);
    EXPECT_EQ(chip->runtime(0x66), 1);
    ASSERT_EQ(setTimeout(30, 1), ZRV_STATUS_SUCCESS);
    advance(999);
    EXPECT_TRUE(chip->resets().empty());
    advance(1);
    EXPECT_EQ(chip->resets(), std::vector<uint64_t>{61000});
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    advance(30000);
    EXPECT_EQ(chip->resets(), (std::vector<uint64_t>{61000, 91000}));
}

}  // namespace
