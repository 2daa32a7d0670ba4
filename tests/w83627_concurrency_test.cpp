// Several threads use all three W83627 functions at once. The watchdog and
// the digital I/O share the configuration pair, the readings and fan control
// the monitor pair: every configuration bracket must come out whole with
// one request's shape, every reading whole with its bank selections, and
// every caller must get its own answer.
#include <atomic>
#include <thread>

#include "tests/support/trace.h"
#include "tests/w83627_board.h"

namespace {

using namespace w83627test;
using zrvtest::le16;

constexpr int kRounds = 1000;

// The brackets the requests make, data values left out but for the device
// select.
const std::vector<Lines> kBracketShapes = {
    Trace(0x2E).enter().select(8).rd(0xF5, 0).wr(0xF5, 0).wr(0xF6, 0).exit(),  // SetTimeout
    Trace(0x2E).enter().select(8).wr(0xF6, 0).exit(),                          // Start, Reset
    Trace(0x2E).enter().select(7).wr(0xF1, 0).exit(),                          // digital I/O Set
    Trace(0x2E).enter().select(7).rd(0xF1, 0).exit(),                          // digital I/O Get
};

// A line as a bracket shape sees it: data-port values dropped, except the
// device number after a select.
std::string shapeOf(const std::string& line, const std::string& previous) {
    if (line.find(" 0x002f ") == std::string::npos || previous == "out 0x002e 0x07") return line;
    return line.substr(0, line.rfind(' '));
}

// First bracket on the configuration pair that has no request's shape, or "".
std::string firstStrayBracket(const Lines& trace) {
    std::vector<Lines> shapes;
    for (const Lines& s : kBracketShapes) {
        Lines shape;
        for (size_t i = 0; i < s.size(); ++i) shape.push_back(shapeOf(s[i], i > 0 ? s[i - 1] : ""));
        shapes.push_back(shape);
    }
    Lines bracket;
    std::string previous;  // the pair's last access; monitor accesses may come between
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].find(" 0x002") == std::string::npos) continue;
        bracket.push_back(shapeOf(trace[i], previous));
        previous = trace[i];
        if (trace[i] != "out 0x002e 0xaa") continue;
        if (std::find(shapes.begin(), shapes.end(), bracket) == shapes.end())
            return fmt::format("{}: {}", i, fmt::join(bracket, " | "));
        bracket.clear();
    }
    return bracket.empty() ? "" : fmt::format("unclosed: {}", fmt::join(bracket, " | "));
}

// First place on the monitor pair where neither a whole reading (exactly
// `reading`) nor a whole fan control (mode register read and written back,
// then the duty register) starts, or "".
std::string firstStrayMonitorAccess(const Lines& trace, const Lines& reading) {
    const Lines t = zrvtest::linesOn(trace, 0x0295, 0x0296);
    auto at = [&](size_t i) { return i < t.size() ? t[i] : std::string("<end>"); };
    auto port = [&](size_t i) { return at(i).substr(0, at(i).rfind(' ')); };
    size_t i = 0;
    while (i < t.size()) {
        if (i + reading.size() <= t.size() &&
            std::equal(reading.begin(), reading.end(), t.begin() + long(i))) {
            i += reading.size();
        } else if (port(i) == "out 0x0295" && port(i + 1) == "in 0x0296" && at(i + 2) == at(i) &&
                   port(i + 3) == "out 0x0296" && port(i + 4) == "out 0x0295" &&
                   port(i + 5) == "out 0x0296" && at(i) != "out 0x0295 0x4e") {
            i += 6;
        } else {
            return fmt::format("{}: '{}' '{}'", i, at(i), at(i + 1));
        }
    }
    return "";
}

class W83627Hammer : public ChipBoard {};

TEST_F(W83627Hammer, RequestsFromManyThreadsNeverInterleaveOnTheChip) {
    addChip(0x2E, 0x88);
    chip->setReg(0x0B, 0x60, 0x02);
    chip->setReg(0x0B, 0x61, 0x90);
    chip->setReg(0x0B, 0x40, 0x01);
    chip->setReg(7, 0x30, 0x01);
    chip->setReg(7, 0xF0, 0xF0);  // GP10-13 outputs
    for (uint8_t r = 0x20; r <= 0x26; ++r) chip->setHwm(r, r);
    chip->setHwm(0x50, 0x51, 5);
    chip->setHwm(0x50, 41, 1);
    chip->setHwm(0x50, 42, 2);
    chip->setHwm(0x28, 150);  // 4500 rpm at divisor 2
    chip->setHwm(0x47, 0x10);
    board.reg(hwmKey(kW83627) + wdtKey(kW83627) + dioGroupKey(kW83627, 1, 0));
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    board.clearTrace();
    ASSERT_EQ(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_SUCCESS);
    const Lines reading = board.trace();
    board.clearTrace();

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {  // watchdog brackets on device 8
        for (int i = 0; i < kRounds; ++i) {
            if (board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(200, 1)).status != 0) ++wrong;
            if (board.ioctl(IOCTL_WDT_RESET).status != 0) ++wrong;
        }
    });
    threads.emplace_back([&] {  // digital I/O brackets on device 7
        for (int i = 0; i < kRounds; ++i) {
            const uint16_t lines = static_cast<uint16_t>(i & 0xF);
            if (board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines)).status != 0) ++wrong;
            if (board.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2).data != le16(lines)) ++wrong;
        }
    });
    threads.emplace_back([&] {  // readings, four bank selections each
        for (int i = 0; i < kRounds; ++i) {
            auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
            if (r.data.size() != 36 || r.data[0] != 0x94 || r.data[1] != 0x11 || r.data[20] != 0x20 ||
                r.data[27] != 0x51 || r.data[31] != 41 || r.data[32] != 42)
                ++wrong;
        }
    });
    threads.emplace_back([&] {  // fan control: read-modify-write of a mode register
        for (int i = 0; i < kRounds; ++i) {
            const std::vector<uint8_t> c = {
                static_cast<uint8_t>(i % 4), 1, static_cast<uint8_t>(i % 128), 0, 0, 0, 0, 0};
            if (board.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8).status != 0) ++wrong;
        }
    });
    for (auto& t : threads) t.join();

    EXPECT_EQ(wrong.load(), 0);
    const auto trace = board.trace();
    EXPECT_GT(trace.size(), static_cast<size_t>(kRounds * 4 * 4));
    EXPECT_EQ(firstStrayBracket(trace), "");
    EXPECT_EQ(firstStrayMonitorAccess(trace, reading), "");
    EXPECT_FALSE(chip->configOpen());
    EXPECT_EQ(chip->hwm(0x4E), 0);
}

// The checks catch what they are there to catch.
TEST(W83627HammerCheck, InterleavedSequencesAreFound) {
    const Lines wdt = Trace(0x2E).enter().select(8).wr(0xF6, 5).exit();
    EXPECT_EQ(firstStrayBracket(wdt), "");
    EXPECT_NE(firstStrayBracket(Trace(0x2E).enter().select(8).select(7).wr(0xF6, 5).exit()), "");
    EXPECT_NE(firstStrayBracket(Trace(0x2E).enter().select(8).wr(0xF1, 5).exit()), "");
    Lines withMonitor =
        Trace(0x2E).enter().out(0x2E, 0x07).out(0x295, 0x28).out(0x2F, 0x08).wr(0xF6, 5).exit();
    EXPECT_EQ(firstStrayBracket(withMonitor), "");
    const Lines reading = Trace(0x2E, 0x0290).hwr(0x4E, 1).hrd(0x50, 41).hwr(0x4E, 0);
    const Lines fan = Trace(0x2E, 0x0290).hrd(0x04, 0).hwr(0x04, 0).hwr(0x01, 2);
    Lines both = reading;
    both.insert(both.end(), fan.begin(), fan.end());
    EXPECT_EQ(firstStrayMonitorAccess(both, reading), "");
    Lines split = {reading[0], reading[1]};
    split.insert(split.end(), fan.begin(), fan.end());
    split.insert(split.end(), reading.begin() + 2, reading.end());
    EXPECT_NE(firstStrayMonitorAccess(split, reading), "");
}

}  // namespace

namespace {

// The emulator's protocol checker sees broken sequences on its own.
TEST(W83627Emulator, ProtocolCheckerFlagsBrokenSequences) {
    struct Access {
        uint16_t port;
        int value;  // -1: a read
    };
    struct Case {
        std::vector<Access> accesses;
        std::string violation;
    };
    const Case cases[] = {
        {{{0x2F, -1}}, "data port 0x2f read while configuration mode is closed"},
        {{{0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0xF6}, {0x2F, 5}, {0x2E, 0xAA}},
         "register 0xf6 written before a logical device was selected"},
        {{{0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0xAA}},
         "configuration mode opened again inside an open bracket"},
        {{{0x2E, 0xAA}}, "exit key 0xaa written while configuration mode is closed"},
        {{{0x2E, 0x87}, {0x2E, 0x87}}, "configuration mode left open"},
        {{{0x295, 0x4E}, {0x296, 3}, {0x295, 0x50}, {0x296, -1}},
         "monitor register 0x50 accessed with bank 3 selected"},
    };
    for (const Case& c : cases) {
        sim::W83627 chip(0x2E, 0x88);
        chip.setReg(0x0B, 0x60, 0x02);
        chip.setReg(0x0B, 0x61, 0x90);
        chip.setReg(0x0B, 0x40, 0x01);
        for (const Access& a : c.accesses)
            a.value < 0 ? static_cast<void>(chip.read(a.port))
                        : chip.write(a.port, static_cast<uint8_t>(a.value));
        EXPECT_EQ(chip.violations(), std::vector<std::string>{c.violation});
    }
}

}  // namespace
