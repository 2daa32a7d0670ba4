// The port watchdog through the request interface, against an emulated
// watchdog behind plain ports: the exact port accesses, and a watchdog that
// resets the board when it is not kept alive in time and does not when it is.
#include <gtest/gtest.h>

#include "sim/devices/port_watchdog.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"
#include "tests/support/ports.h"

using sim::PortWatchdog;
using zrvtest::keepAlive;
using zrvtest::SimBoard;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;
using Lines = std::vector<std::string>;

namespace {

constexpr auto Read = PortWatchdog::Access::Read;
constexpr auto Write = PortWatchdog::Access::Write;

class PortWdt : public zrvtest::PortTest<PortWatchdog> {
protected:
    // Loads the driver on a board with these "WDT" values and this watchdog.
    PortWatchdog& boot(const std::string& values, PortWatchdog::Config hw) {
        PortWatchdog& dog = PortTest::boot("WDT", values, hw);
        EXPECT_TRUE(board.trace().empty()) << "loading touches no watchdog port";
        return dog;
    }
    ZrvStatus request(uint32_t code, const std::vector<uint8_t>& in = {}) {
        return board.ioctl(code, in).status;
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit = 1) {
        return request(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit));
    }
};

using MaybeAccess = std::optional<PortWatchdog::PortAccess>;
// A watchdog started by `start`, kept alive and stopped by the accesses given
// (none: that action does nothing), with its count written to `countPort`.
PortWatchdog::Config wiring(PortWatchdog::PortAccess start, MaybeAccess refresh = {}, MaybeAccess stop = {},
                            uint16_t countPort = 0) {
    PortWatchdog::Config c;
    c.start = start;
    c.refresh = refresh;
    c.stop = stop;
    c.countPort = countPort;
    return c;
}
// Write 0x443 with the count to start and keep alive, read 0x843 to stop.
PortWatchdog::Config writeStartReadStop() {
    return wiring({Write, 0x443}, {{Write, 0x443}}, {{Read, 0x843}});
}

TEST_F(PortWdt, WriteStartCarriesTheCountAndTheWatchdogFiresWhenNotKeptAlive) {
    PortWatchdog& dog = boot("\"Start\"=dword:00008443\n\"Stop\"=dword:00000843\n", writeStartReadStop());
    ASSERT_EQ(setTimeout(30), ZRV_STATUS_SUCCESS);
    EXPECT_TRUE(board.trace().empty()) << "no timeout port: the count is only stored";
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"out 0x0443 0x1e"});
    EXPECT_TRUE(dog.running());

    board.machine().advance(29999);
    EXPECT_TRUE(dog.resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(dog.resets(), std::vector<uint64_t>{30000});
    EXPECT_FALSE(dog.running());
}

TEST_F(PortWdt, KeptAliveInTimeItNeverFiresAndStopEndsIt) {
    PortWatchdog& dog = boot("\"Start\"=dword:00008443\n\"Stop\"=dword:00000843\n", writeStartReadStop());
    ASSERT_EQ(startWatchdog(board, 10, 1), ZRV_STATUS_SUCCESS);
    // No "Reset" value: Reset performs the Start action.
    keepAlive(board, 12, 9000);
    EXPECT_TRUE(dog.resets().empty());
    EXPECT_EQ(board.trace(), Lines(13, "out 0x0443 0x0a"));

    board.clearTrace();
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    ASSERT_EQ(board.trace().size(), 1u);
    EXPECT_EQ(board.trace()[0].rfind("in 0x0843 ", 0), 0u) << "a read-type stop only reads";
    board.machine().advance(3600 * 1000);
    EXPECT_TRUE(dog.resets().empty());
}

TEST_F(PortWdt, ReadTypeStartWithTimeoutPortAndStopBeforeReset) {
    const auto hw = wiring({Read, 0x443}, {}, {{Read, 0x445}}, 0x444);
    PortWatchdog& dog = boot(
        "\"Start\"=dword:00000443\n\"Stop\"=dword:00000445\n\"Timeout\"=dword:00000444\n"
        "\"StopBeforeReset\"=dword:00000001\n",
        hw);
    ASSERT_EQ(setTimeout(10), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"out 0x0444 0x0a"}) << "the count goes to the timeout port at once";
    board.clearTrace();
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"in 0x0443 0xff"}) << "a read-type start writes nothing";
    EXPECT_EQ(dog.remainingMs(), 10000u);

    board.machine().advance(8000);
    board.clearTrace();
    // No "Reset": the Stop action, then the Start action.
    ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), (Lines{"in 0x0445 0xff", "in 0x0443 0xff"}));
    EXPECT_EQ(dog.remainingMs(), 10000u);
    EXPECT_EQ(dog.starts(), 2u) << "the restart stopped the watchdog and started it again";
    board.machine().advance(10000);
    EXPECT_EQ(dog.resets(), std::vector<uint64_t>{18000});
}

TEST_F(PortWdt, ResetPortAndOnlyTheLow16BitsOfStopBeforeReset) {
    const auto hw = wiring({Write, 0x443}, {{Read, 0x441}}, {{Read, 0x843}});
    PortWatchdog& dog = boot(
        "\"Start\"=dword:00008443\n\"Stop\"=dword:00000843\n\"Reset\"=dword:00000441\n"
        "\"StopBeforeReset\"=dword:00010000\n",
        hw);
    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(4000);
    board.clearTrace();
    ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"in 0x0441 0xff"}) << "0x10000 is no stop before the reset";
    board.machine().advance(4000);
    EXPECT_TRUE(dog.resets().empty());
    board.machine().advance(1000);
    EXPECT_EQ(dog.resets(), std::vector<uint64_t>{9000});
}

TEST_F(PortWdt, WriteTypeStopWritesZeroAndWriteTypeResetWritesTheCount) {
    const auto hw = wiring({Write, 0x443}, {{Write, 0x443}}, {{Write, 0x443}});
    PortWatchdog& dog =
        boot("\"Start\"=dword:00008443\n\"Stop\"=dword:00008443\n\"Reset\"=dword:00008443\n", hw);
    ASSERT_EQ(startWatchdog(board, 200, 1), ZRV_STATUS_SUCCESS);
    ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), (Lines{"out 0x0443 0xc8", "out 0x0443 0xc8", "out 0x0443 0x00"}));
    EXPECT_FALSE(dog.running());
    board.machine().advance(300 * 1000);
    EXPECT_TRUE(dog.resets().empty());
}

TEST_F(PortWdt, RefusedTimeoutsChangeNothingAndTheRangeIsSecondsTo255) {
    boot("\"Start\"=dword:00008443\n\"Timeout\"=dword:00000444\n", wiring({Write, 0x443}, {}, {}, 0x444));
    // Before any timeout the stored count is 0.
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"out 0x0443 0x00"});
    ASSERT_EQ(setTimeout(0), ZRV_STATUS_SUCCESS);  // a count of 0 is accepted
    ASSERT_EQ(setTimeout(255), ZRV_STATUS_SUCCESS);
    board.clearTrace();

    EXPECT_EQ(setTimeout(256), ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(setTimeout(30, 2), ZRV_STATUS_INVALID_PARAMETER) << "minutes are not a unit of this watchdog";
    EXPECT_EQ(setTimeout(30, 0), ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(setTimeout(30, 3), ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, {30, 0, 1}).status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(board.trace().empty()) << "a refused timeout touches no port";
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"out 0x0443 0xff"}) << "the last accepted count stays";

    board.clearTrace();
    const auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xFF, 0x00, 0x01, 0x00}));
    EXPECT_TRUE(board.trace().empty());
}

// Without a start action nothing starts the watchdog: Start, and a Reset
// without an action of its own, are refused before any port is touched, and
// nothing fires. A Reset action of its own is still performed (it refreshes a
// countdown the firmware may have started); on this hardware it writes the
// start port, which starts the countdown.
TEST(PortWdtStart, WithoutAStartActionStartIsRefused) {
    constexpr ZrvStatus kRefused = ZRV_STATUS_NOT_SUPPORTED;
    const struct {
        const char* values;
        ZrvStatus reset;
        Lines resetTrace;
        size_t resets;
    } rows[] = {
        {"\"Strat\"=dword:00008443\n\"Stop\"=dword:00000843\n", kRefused, {}, 0},   // misspelt
        {"\"Start\"=dword:00008000\n\"Reset\"=dword:00000000\n", kRefused, {}, 0},  // a write to port 0
        {"\"Start\"=\"0x8443\"\n\"Stop\"=hex:43,84,00,00\n", kRefused, {}, 0},      // not REG_DWORD: 0
        {"\"Stop\"=dword:00000843\n\"Reset\"=dword:00008443\n", ZRV_STATUS_SUCCESS, {"out 0x0443 0x1e"}, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.values);
        zrvtest::OneDevice<PortWatchdog> one(writeStartReadStop());
        ASSERT_EQ(one.board.load(zrvtest::portRegistry("WDT", row.values)), ZRV_STATUS_SUCCESS);
        ASSERT_EQ(one.board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(30, 1)).status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(one.board.ioctl(IOCTL_WDT_START).status, kRefused);
        EXPECT_TRUE(one.board.trace().empty());
        EXPECT_EQ(one.board.ioctl(IOCTL_WDT_RESET).status, row.reset);
        EXPECT_EQ(one.board.trace(), row.resetTrace);
        one.board.machine().advance(60000);
        EXPECT_EQ(one.device.resets().size(), row.resets);
    }
}

// Which watchdog a board gets follows "WDT" "DeviceType": anything but 1 is
// the port watchdog, whatever "SuperIO" says.
TEST(PortWdtSelection, DeviceTypeOtherThanOneBindsThePortWatchdog) {
    for (const char* type : {"00000000", "00000002"}) {
        SimBoard board;
        // A later "DeviceType" line replaces the one portRegistry writes.
        const std::string wdt =
            std::string("\"DeviceType\"=dword:") + type + "\n\"SuperIO\"=dword:00000006\n";
        ASSERT_EQ(board.load(zrvtest::portRegistry("WDT", wdt + "\"Start\"=dword:00000443\n")),
                  ZRV_STATUS_SUCCESS);
        const auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
        EXPECT_EQ(r.data, (std::vector<uint8_t>{0xFF, 0x00, 0x01, 0x00})) << type;
        board.clearTrace();
        EXPECT_EQ(board.ioctl(IOCTL_WDT_START).status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(board.trace(), Lines{"in 0x0443 0xff"}) << type;
    }
}

// Without the "WDT" key every value is 0: a bound watchdog that touches
// nothing and refuses to start. The board's other functions are not affected.
TEST(PortWdtSelection, NoWdtKeyBindsAWatchdogWithoutPorts) {
    SimBoard board;
    ASSERT_EQ(
        board.load("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:00000010\n"),
        ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(30, 1)).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_START).status, ZRV_STATUS_NOT_SUPPORTED) << "nothing can start it";
    EXPECT_EQ(board.ioctl(IOCTL_WDT_RESET).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
}

// The key path of each port back-end comes from pool; without it that
// function is not bound, the other one still is, and nothing is left
// allocated. The digital-I/O loader allocates its path and query block last,
// the watchdog's just before them.
TEST(PortSelection, PathAllocationFailureLeavesThatFunctionUnbound) {
    struct Row {
        const char* subkey;
        const char* values;
        uint32_t fromEnd;  // the failing allocation, counted back from the load's last
        uint32_t unbound[2];
        uint32_t stillBound;
    };
    const Row rows[] = {
        {"WDT",
         "\"Start\"=dword:00008443\n",
         3,
         {IOCTL_WDT_START, IOCTL_WDT_GET_TIMEOUT},
         IOCTL_DIO_GET_CONFIG},
        {"DIO",
         "\"IOBaseOut\"=dword:00000301\n\"OutMask\"=dword:000000ff\n",
         0,
         {IOCTL_DIO_GET_CONFIG, IOCTL_DIO_SET_OUTPUT},
         IOCTL_WDT_GET_TIMEOUT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subkey);
        const std::string reg = zrvtest::portRegistry(row.subkey, row.values);
        const uint32_t allocations = zrvtest::allocationsOfLoad(reg);
        ASSERT_GT(allocations, row.fromEnd + 1);
        SimBoard board;
        board.machine().failAllocation(allocations - row.fromEnd);
        ASSERT_EQ(board.load(reg), ZRV_STATUS_SUCCESS);
        for (uint32_t code : row.unbound)
            EXPECT_EQ(board.ioctl(code, {0x01, 0x00}, 4).status, ZRV_STATUS_NOT_SUPPORTED)
                << std::hex << code;
        EXPECT_EQ(board.ioctl(row.stillBound, {}, 4).status, ZRV_STATUS_SUCCESS)
            << "the other function still loads";
        EXPECT_TRUE(board.trace().empty());
        board.unload();
        EXPECT_EQ(board.machine().outstandingAllocations(), 0u);
    }
}

}  // namespace
