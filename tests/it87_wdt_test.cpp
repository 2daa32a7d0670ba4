// IT87xx watchdog through the request interface: both probes, the 8- and
// 16-bit counts per chip and version, the bits of register 0x72, and the
// emulated countdown firing or being held off.
#include "tests/it87_board.h"
#include "tests/support/answers.h"

namespace {

using namespace it87test;
using zrvtest::keepAlive;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;

const std::string kWdtOnly = hwmKey(kNoChip) + wdtKey(kIt87) + noDio();

class It87Wdt : public ChipBoard {
protected:
    void start(uint16_t port, uint16_t id, uint8_t version) {
        loadWith(port, id, version, kWdtOnly);
        clearSeen();
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit) {
        return board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    }
    ZrvStatus request(uint32_t code) { return board.ioctl(code).status; }
    std::vector<uint64_t> resets() const { return chip->resets(); }
};

// Each pair gets its own fourth key byte; the version register is read at
// every pair tried, and no watchdog register is touched.
struct ProbeCase {
    uint16_t port, id;
    bool bound;
};
class It87WdtProbe : public It87Wdt, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(It87WdtProbe, FirstPairThenSecond) {
    const auto& [port, id, bound] = GetParam();
    loadWith(port, id, 0x07, kWdtOnly);
    const uint8_t idHigh = static_cast<uint8_t>(id >> 8), idLow = static_cast<uint8_t>(id);
    Trace t = it87Trace(0x2E);
    if (port == 0x4E) {
        t.enter().rd(0x20, 0xFF).rd(0x21, 0xFF).rd(0x22, 0xFF).exit();
        t.at(0x4E).keys({0x87, 0x01, 0x55, 0xAA}).exitByRegister(0x02, 0x02);
    }
    t.enter().rd(0x20, idHigh).rd(0x21, idLow).rd(0x22, 0x07).exit();
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_TRUE(newDebugLines().empty());
    EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4).status,
              bound ? ZRV_STATUS_SUCCESS : ZRV_STATUS_NOT_SUPPORTED);
}

INSTANTIATE_TEST_SUITE_P(Pairs, It87WdtProbe,
                         ::testing::Values(ProbeCase{0x2E, 0x8712, true}, ProbeCase{0x4E, 0x8783, true},
                                           ProbeCase{0x4E, 0x8721, false}));

// Count width by chip and version: register 0x22 kept whole on the
// IT8712F (0x14 is version 20, not 4), 8 on the others.
struct WidthCase {
    uint16_t id;
    uint8_t version;
    uint16_t max;
};
class It87WdtWidth : public It87Wdt, public ::testing::WithParamInterface<WidthCase> {};

TEST_P(It87WdtWidth, RangeLimitAndCountRegisters) {
    const WidthCase c = GetParam();
    start(0x2E, c.id, c.version);
    auto range = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(range.data, timeoutRecord(c.max, 3));
    EXPECT_TRUE(board.trace().empty());

    if (c.max == 255) {
        EXPECT_EQ(setTimeout(256, 1), ZRV_STATUS_INVALID_PARAMETER);
    }
    ASSERT_EQ(setTimeout(c.max, 1), ZRV_STATUS_SUCCESS);
    clearSeen();
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    Trace t = it87Trace(0x2E).enter().select(7);
    if (c.max > 255) t.wr(0x74, static_cast<uint8_t>(c.max >> 8));  // high byte first
    t.wr(0x73, static_cast<uint8_t>(c.max)).rd(0x72, 0x80).wr(0x72, 0xC0).exit();
    EXPECT_EQ(board.trace(), t.lines());

    // Runs out after the whole count in seconds, not a second earlier.
    board.machine().advance(uint64_t{c.max} * 1000 - 1);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{uint64_t{c.max} * 1000});
    EXPECT_EQ(chip->reg(7, 0x72) & 0x40, 0);
}

INSTANTIATE_TEST_SUITE_P(Chips, It87WdtWidth,
                         ::testing::Values(WidthCase{0x8712, 0x07, 255}, WidthCase{0x8712, 0x08, 65535},
                                           WidthCase{0x8712, 0x14, 65535}, WidthCase{0x8718, 0x01, 65535},
                                           WidthCase{0x8783, 0x02, 65535}));

// SetTimeout: bits 7..5 of 0x72 from the unit (run switch and bit 5
// cleared), bits 4..0 kept; bit 4 of global register 0x23 set.
TEST_F(It87Wdt, SetTimeoutWritesTheUnitAndStopsTheWatchdog) {
    start(0x2E, 0x8718, 0x01);
    const struct {
        uint8_t before;
        uint16_t unit;
        uint8_t after;
    } cases[] = {{0xFF, 2, 0x1F}, {0x7F, 1, 0x9F}, {0x35, 1, 0x95}, {0xC0, 2, 0x00}};
    for (auto c : cases) {
        chip->setReg(7, 0x72, c.before);
        chip->setReg(sim::It87::kGlobal, 0x23, 0x01);
        clearSeen();
        ASSERT_EQ(setTimeout(0x1234, c.unit), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(board.trace(), it87Trace(0x2E)
                                     .enter()
                                     .select(7)
                                     .rd(0x72, c.before)
                                     .wr(0x72, c.after)
                                     .rd(0x23, 0x01)
                                     .wr(0x23, 0x11)
                                     .exit()
                                     .lines());
        EXPECT_EQ(chip->reg(7, 0x72), c.after);
    }
    // The count registers wait for Start.
    EXPECT_EQ(chip->reg(7, 0x73), 0);
    EXPECT_EQ(chip->reg(7, 0x74), 0);
}

TEST_F(It87Wdt, RefusalsTouchNothingAndKeepTheStoredCount) {
    start(0x2E, 0x8712, 0x07);
    ASSERT_EQ(setTimeout(9, 1), ZRV_STATUS_SUCCESS);
    clearSeen();
    for (auto [count, unit] : {std::pair{256, 1}, {10, 0}, {10, 3}, {0xFFFF, 2}})
        EXPECT_EQ(setTimeout(static_cast<uint16_t>(count), static_cast<uint16_t>(unit)),
                  ZRV_STATUS_INVALID_PARAMETER)
            << count << "/" << unit;
    EXPECT_TRUE(board.trace().empty());
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(chip->reg(7, 0x73), 9);
}

// Reset clears the run switch, reloads high byte then low byte and sets it
// again; Stop clears it and leaves the count registers as they are.
TEST_F(It87Wdt, ResetReloadsTheFullCountAndStopKeepsIt) {
    start(0x4E, 0x8718, 0x01);
    ASSERT_EQ(startWatchdog(board, 0x0123, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(0x20 * 1000);
    EXPECT_EQ(chip->reg(7, 0x73), 0x03);
    clearSeen();
    ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    Trace t = it87Trace(0x4E).enter().select(7).rd(0x72, 0xC0).wr(0x72, 0x80);
    t.wr(0x74, 0x01).wr(0x73, 0x23).rd(0x72, 0x80).wr(0x72, 0xC0).exit();
    EXPECT_EQ(board.trace(), t.lines());

    board.machine().advance(0x10 * 1000);
    clearSeen();
    ASSERT_EQ(request(IOCTL_WDT_STOP), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), it87Trace(0x4E).enter().select(7).rd(0x72, 0xC0).wr(0x72, 0x80).exit().lines());
    EXPECT_EQ(chip->reg(7, 0x74) << 8 | chip->reg(7, 0x73), 0x0113);
    board.machine().advance(3600 * 1000);
    EXPECT_TRUE(resets().empty());
}

TEST_F(It87Wdt, KeptAliveItNeverFiresAndLeftAloneItDoes) {
    start(0x2E, 0x8712, 0x04);
    ASSERT_EQ(startWatchdog(board, 2, 2), ZRV_STATUS_SUCCESS);  // two minutes
    keepAlive(board, 10, 119000);
    EXPECT_TRUE(resets().empty());
    // A SetTimeout while running stops it until the next Start.
    ASSERT_EQ(setTimeout(30, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(600000);
    EXPECT_TRUE(resets().empty());
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_SUCCESS);
    board.machine().advance(30000);
    EXPECT_EQ(resets(), std::vector<uint64_t>{1190000 + 600000 + 30000});
}

}  // namespace
