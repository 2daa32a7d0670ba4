// Requests that use state a hardware sequence also uses wait for that
// sequence's lock: a request sent while the lock is held does not finish
// until it is released. And a watchdog count set while a start is waiting
// never reaches the chip with the unit of the timeout before it.
#include <atomic>
#include <chrono>
#include <thread>

#include "core/hwlock.h"
#include "sim/board.h"
#include "tests/f81865_board.h"

namespace {

using namespace std::chrono_literals;
using zrvtest::le16;
using zrvtest::SimBoard;
using zrvtest::timeoutRecord;

// Long enough for a request that does not wait to have finished.
constexpr auto kSettle = 100ms;

struct LockedRequest {
    HwLockId lock;
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t output;
};

TEST(Locking, PortRequestsWaitForTheLockOfTheirPorts) {
    const LockedRequest rows[] = {
        // The line counts change with the direction mask: reading them is
        // part of the digital I/O's sequence.
        {HW_LOCK_PORT_DIO, IOCTL_DIO_GET_CONFIG, {}, 2},
        {HW_LOCK_PORT_DIO, IOCTL_DIO_GET_INPUT, {}, 2},
        {HW_LOCK_PORT_DIO, IOCTL_DIO_GET_OUTPUT, {}, 2},
        {HW_LOCK_PORT_DIO, IOCTL_DIO_SET_OUTPUT, le16(0x30), 0},
        {HW_LOCK_PORT_DIO, IOCTL_DIO_SET_SPECIFIC_MASK, {0x0F}, 0},
        // The stored count is written by one request and used by the others.
        {HW_LOCK_PORT_WDT, IOCTL_WDT_SET_TIMEOUT, timeoutRecord(30, 1), 0},
        {HW_LOCK_PORT_WDT, IOCTL_WDT_START, {}, 0},
        {HW_LOCK_PORT_WDT, IOCTL_WDT_RESET, {}, 0},
        {HW_LOCK_PORT_WDT, IOCTL_WDT_STOP, {}, 0},
        {HW_LOCK_CD_PORT, IOCTL_DIO_CD_SET_OUTPUT, {0x11}, 0},
        {HW_LOCK_CD_PORT, IOCTL_DIO_CD_PULSE_OUTPUT, {0x01}, 0},
    };
    SimBoard board;
    sim::loadBoard(board.machine(), ZRV_SOURCE_DIR "/boards/port-specific.json");
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    for (const LockedRequest& row : rows) {
        SCOPED_TRACE(fmt::format("request 0x{:08x}", row.code));
        std::atomic<bool> done{false};
        sim::IoResult result;
        PlatLockAcquire(HwLock(row.lock));
        std::thread caller([&] {
            result = board.ioctl(row.code, row.input, row.output);
            done = true;
        });
        std::this_thread::sleep_for(kSettle);
        EXPECT_FALSE(done.load()) << "finished while the lock was held";
        PlatLockRelease(HwLock(row.lock));
        caller.join();
        EXPECT_EQ(result.status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(result.bytes, row.output);
    }
    board.unload();
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
}

// The count register value written by the first start bracket and whether
// that bracket came before the first timeout bracket.
struct StartSeen {
    int count = -1;
    bool beforeTimeout = false;
};

StartSeen firstStart(const std::vector<std::string>& trace) {
    StartSeen seen;
    bool timeoutSeen = false;
    for (size_t i = 0; i + 1 < trace.size(); ++i) {
        // The timeout writes the whole control register with a unit and no
        // run bits; a start writes the count register.
        if (trace[i] == "out 0x002e 0xf5" &&
            (trace[i + 1] == "out 0x002f 0x00" || trace[i + 1] == "out 0x002f 0x08"))
            timeoutSeen = true;
        if (trace[i] == "out 0x002e 0xf6" && trace[i + 1].rfind("out 0x002f 0x", 0) == 0) {
            seen.count = std::stoi(trace[i + 1].substr(13), nullptr, 16);
            seen.beforeTimeout = !timeoutSeen;
            return seen;
        }
    }
    return seen;
}

class F81865CountAndUnit : public f81865test::ChipBoard {};

// A start waits for the chip while a new timeout is on its way: the start
// loads the count that belongs to the unit the chip holds when it runs.
TEST_F(F81865CountAndUnit, AStartNeverLoadsANewCountWithTheOldUnit) {
    using namespace f81865test;
    addChip(0x2E, 0x0704);
    ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kF81865) + noDio()), ZRV_STATUS_SUCCESS);
    struct Step {
        uint16_t count, unit;
    };
    const Step steps[] = {{10, 1}, {77, 2}, {12, 1}, {99, 2}, {5, 1}};
    ASSERT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(steps[0].count, steps[0].unit)).status,
              ZRV_STATUS_SUCCESS);
    for (size_t s = 1; s < std::size(steps); ++s) {
        board.clearTrace();
        PlatLockAcquire(HwLock(HW_LOCK_CONFIG_2E));
        std::thread start([&] { board.ioctl(IOCTL_WDT_START); });
        std::this_thread::sleep_for(kSettle);  // the start waits first
        std::thread timeout(
            [&] { board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(steps[s].count, steps[s].unit)); });
        std::this_thread::sleep_for(kSettle);
        PlatLockRelease(HwLock(HW_LOCK_CONFIG_2E));
        start.join();
        timeout.join();
        const StartSeen seen = firstStart(board.trace());
        const int expected = seen.beforeTimeout ? steps[s - 1].count : steps[s].count;
        EXPECT_EQ(seen.count, expected) << "step " << s << (seen.beforeTimeout ? ", start first" : "");
    }
    EXPECT_FALSE(chip->configOpen());
}

}  // namespace
