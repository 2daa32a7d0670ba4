// The virtual board holds the driver to the board as built: no access to
// the PC's own ports or to ports nothing decodes, and the set-up writes the
// chips need before their functions work.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "sim/board.h"
#include "tests/support/replay.h"
#include "tests/support/requests.h"
#include "tests/support/sio.h"

namespace {

using siotest::kNoChip;

// A board of `hardware` entries; the registry names the chips of the monitor
// and the watchdog (kNoChip: none), no digital I/O.
void build(zrvtest::SimBoard& b, const std::string& hardware, uint32_t hwm = kNoChip,
           uint32_t wdt = kNoChip) {
    b.reg(siotest::hwmKey(hwm) + siotest::wdtKey(wdt) + siotest::noDio());
    if (!hardware.empty()) sim::loadBoardText(b.machine(), R"({"hardware": [)" + hardware + "]}", "c.json");
}

// Rule breaches, then the ports nothing decoded ("in 0x0300 x2").
std::vector<std::string> complaints(zrvtest::SimBoard& board) {
    auto all = board.violations();
    for (const auto& u : board.machine().unclaimedAccesses())
        all.push_back(fmt::format("{} 0x{:04x} x{}", u.write ? "out" : "in", u.port, u.count));
    return all;
}

TEST(BoardGuard, PcPortsAndUndecodedPorts) {
    struct Case {
        const char* hardware;
        std::vector<std::pair<uint16_t, int>> accesses;  // value -1: a read
        std::vector<std::string> complaints;
    };
    // clang-format off
    const Case cases[] = {
        {R"({"type": "it87", "config": {"4": {"0x30": "1", "0x60": "0xff", "0x61": "0xfa"}}})", {{0xFFFE, 0x20}, {0x0000, -1}}, {"board: port 0x0000 read 1 time: a port of the PC itself, which no device of the board decodes"}},
        {R"({"type": "sch3114", "config": {"0x0a": {"0x61": "0x80"}}})", {{0x00E6, 5}, {0x00E6, 6}}, {"board: port 0x00e6 written 2 times: a port of the PC itself, which no device of the board decodes"}},
        {"", {{0x2E, 0x87}, {0x2F, -1}, {0x4E, 0x55}, {0x4F, -1}, {0x0080, 0x1E}, {0x0300, -1}, {0x0300, -1}, {0x0301, 1}, {0x0CFC, 0}}, {"board: port 0x0080 written 1 time: a port of the PC itself, which no device of the board decodes", "board: port 0x0cfc written 1 time: a port of the PC itself, which no device of the board decodes", "in 0x0300 x2", "out 0x0301 x1"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        zrvtest::SimBoard board;
        build(board, c.hardware);
        board.reg(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n\"Start\"=dword:00008080\n");  // names
                                                                                                 // 0x80:
                                                                                                 // still the
                                                                                                 // PC's
        for (auto [port, value] : c.accesses)
            value < 0 ? (void)board.machine().bus().read(port)
                      : board.machine().bus().write(port, uint8_t(value));
        EXPECT_EQ(complaints(board), c.complaints);
    }
}

// Every request kind on every example board: the driver talks only to
// hardware that is there.
TEST(BoardGuard, ExampleBoardsTouchOnlyTheirHardware) {
    for (const auto& example : zrvtest::exampleBoards(ZRV_SOURCE_DIR)) {
        zrvtest::SimBoard board;
        sim::loadBoard(board.machine(), example.path);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        for (const auto& kind : zrvtest::requestKinds())
            board.ioctl(kind.code, kind.input, kind.outputLength);
        board.unload();
        EXPECT_EQ(complaints(board), std::vector<std::string>{}) << example.name;
    }
}

// One set-up write of the driver left out: the driver's own trace on the
// board, replayed on a fresh board without that write, must make the chip
// fail its function (a reset that does not come, readings that differ) or
// its checker report the function used before the write.
struct Dropped {
    const char* write;
    uint32_t hwm, wdt;  // chip codes of the registry
    std::string hardware;
    uint16_t unit;          // start the watchdog for 5 of these, or 0: read the monitor once
    uint64_t runMs;         // virtual time after the requests
    uint16_t index, data;   // the pair (index 0: the block at `data`)
    int reg, occurrence;    // the register written, and which of its writes
    const char* violation;  // nullptr: the function must change
};

const std::string kSch =
    R"({"type": "sch3114", "config": {"0x0a": {"0x60": "0x0a", "0x61": "0x80"}}, "fan_rpm": {"1": 2700}, "temperature": {"1": 42})";
// clang-format off
const Dropped kDropped[] = {
    {"W83627 control 0xF7 <- 0", kNoChip, 1, R"({"type": "w83627", "id": "0x52", "config": {"8": {"0xf7": "0x10"}}})", 1, 10000, 0x2E, 0x2F, 0xF7, 1, nullptr},
    {"W83627 alternate control 0xF5 <- 0", kNoChip, 1, R"({"type": "w83627", "id": "0x60", "config": {"8": {"0xf5": "0x10"}}})", 1, 10000, 0x2E, 0x2F, 0xF5, 1, nullptr},
    {"W83627 0x88 global 0x2D bit 0 cleared", kNoChip, 1, R"({"type": "w83627", "id": "0x88", "config": {"global": {"0x2d": "0x5b"}}})", 1, 10000, 0x2E, 0x2F, 0x2D, 1, nullptr},
    {"IT87 SetTimeout's 0x72 (unit, bit 5)", kNoChip, 0, R"({"type": "it87"})", 1, 10000, 0x2E, 0x2F, 0x72, 1, "cleared its bit 5"},
    {"IT87 Start's 0x72 (run switch)", kNoChip, 0, R"({"type": "it87"})", 1, 10000, 0x2E, 0x2F, 0x72, 2, nullptr},
    {"IT87 global 0x23 bit 4", kNoChip, 0, R"({"type": "it87"})", 1, 10000, 0x2E, 0x2F, 0x23, 1, "0x23 bit 4"},
    {"IT87 monitor 0x0C <- 0x37", 0, kNoChip, R"({"type": "it87", "config": {"4": {"0x30": "1", "0x60": "0x02", "0x61": "0x90"}}, "fan_rpm": {"1": 2000}})", 0, 0, 0x295, 0x296, 0x0C, 1, "0x0c was written with 0x37"},
    {"F81216 SetTimeout's mode 0xF0", kNoChip, 4, R"({"type": "f81216"})", 2, 330000, 0x2E, 0x2F, 0xF0, 2, nullptr},
    {"F81216 0x70 <- 0", kNoChip, 4, R"({"type": "f81216"})", 1, 10000, 0x2E, 0x2F, 0x70, 1, "0x70 of device 8"},
    {"SCH3114 runtime 0x67", kNoChip, 5, kSch + "}", 1, 10000, 0, 0x0A80, 0x67, 1, "0x67 and 0x68"},
    {"SCH3114 runtime 0x68", kNoChip, 5, kSch + "}", 1, 10000, 0, 0x0A80, 0x68, 1, "0x67 and 0x68"},
    {"SCH3114 monitor start 0x40 <- 1", 5, kNoChip, kSch + "}", 0, 0, 0x0AF0, 0x0AF1, 0x40, 2, nullptr},
    {"SCH3114 monitor 0x7C <- 0x42", 5, kNoChip, kSch + "}", 0, 0, 0x0AF0, 0x0AF1, 0x7C, 1, "0x7c was written"},
    {"SCH3114 monitor stop 0x40 <- 0", 5, kNoChip, kSch + R"(, "hwm": {"0x40": "0x01"}})", 0, 0, 0x0AF0, 0x0AF1, 0x40, 1, "while the monitor runs"},
};
// clang-format on

TEST(DroppedSetUpWrite, IsCaughtByTheChip) {
    for (const Dropped& row : kDropped) {
        SCOPED_TRACE(row.write);
        std::vector<sim::TraceEntry> trace;
        std::vector<uint64_t> fired;
        {
            zrvtest::SimBoard board;
            build(board, row.hardware, row.hwm, row.wdt);
            ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
            // Set the timeout and start, or read the monitor.
            board.ioctl(row.unit ? IOCTL_WDT_SET_TIMEOUT : IOCTL_HWM_GET_DATA,
                        zrvtest::timeoutRecord(5, row.unit), row.unit ? 0 : 36);
            board.ioctl(row.unit ? IOCTL_WDT_START : IOCTL_HWM_GET_DATA, {}, row.unit ? 0 : 36);
            board.machine().advance(row.runMs);
            trace = board.machine().bus().traceFrom(0).entries;
            fired = board.machine().resets();
            ASSERT_EQ(fired.empty(), row.unit == 0);  // the watchdog fires when the driver did all it must
        }
        const auto at = sim::findRegisterWrite(trace, row.index, row.data, row.reg, row.occurrence);
        ASSERT_TRUE(at.has_value());
        for (bool drop : {false, true}) {
            zrvtest::SimBoard board;
            build(board, row.hardware);
            const auto replay = sim::replayTrace(board.machine(), trace, drop ? *at : sim::TraceSpan{});
            board.machine().advance(row.runMs);
            const bool changed = !replay.changedReads.empty() || board.machine().resets() != fired;
            const auto v = complaints(board);
            const bool reported =
                row.violation != nullptr && !v.empty() && v[0].find(row.violation) != v[0].npos;
            EXPECT_TRUE(drop ? reported || (!row.violation && changed && v.empty()) : v.empty() && !changed)
                << (drop ? "not caught: " : "the trace does not replay as it ran: ")
                << (v.empty() ? "" : v[0]);
        }
    }
}

// A fan preset in rpm reads as that speed through the driver on every ID,
// fan 3 of IDs 0x60 and 0xA2 counting undivided.
TEST(W83627Fan3, PresetSpeedReadsTheSameOnEveryId) {
    for (const char* id : {"0x60", "0xa2", "0x88", "0x52"}) {
        zrvtest::SimBoard board;
        build(board,
              fmt::format(
                  R"({{"type": "w83627", "id": "{}", "hwm": {{"0x4b": "0x40"}}, "fan_rpm": {{"3": 6750}},
            "config": {{"0x0b": {{"0x60": "0x02", "0x61": "0x90", "0x40": "0x01"}}}}}})",
                  id),
              1);
        const auto data =
            board.load() == 0 ? board.ioctl(IOCTL_HWM_GET_DATA, {}, 36).data : std::vector<uint8_t>{};
        EXPECT_EQ(data.size() == 36 ? data[8] | data[9] << 8 : -1, 6750) << id;
    }
}

}  // namespace
