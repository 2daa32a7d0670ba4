// The virtual board's bookkeeping: the port trace and the debugger output
// kept in bounded rings and read through cursors, both streamed to files,
// and the bus's decode cache against devices that move their ports.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/latch.h"
#include "tests/support/harness.h"

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::filesystem::path tempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           (name + "." + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "." +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
}

TEST(TraceRing, KeepsTheMostRecentEntriesAndCountsWhatItDropped) {
    zrvtest::SimBoard board;
    sim::PortBus& bus = board.machine().bus();
    board.attach(std::make_unique<sim::Latch>(std::map<uint16_t, uint8_t>{{0x310, 0xA5}}));
    bus.setTraceCapacity(6);  // rounded up to 8
    EXPECT_EQ(bus.traceCapacity(), 8u);
    const auto path = tempPath("trace");
    ASSERT_TRUE(bus.traceToFile(path.string()));
    for (int i = 0; i < 10; ++i) bus.write(0x310, static_cast<uint8_t>(i));
    bus.noteWait(1000);
    EXPECT_EQ(bus.read(0x310), 9);
    bus.closeTraceFile();

    EXPECT_EQ(bus.accessCount(), 11u) << "a wait is no port access";
    const sim::TraceRead all = bus.traceFrom(0);
    EXPECT_EQ(all.dropped, 4u);
    EXPECT_EQ(all.next, 12u);
    ASSERT_EQ(all.entries.size(), 8u);
    EXPECT_EQ(all.entries.front().text(), "out 0x0310 0x04");
    EXPECT_EQ(all.entries[6].text(), "wait 1000");
    EXPECT_EQ(all.entries.back().text(), "in 0x0310 0x09");
    // The file has every entry, the ring only the last ones.
    std::string expected;
    for (int i = 0; i < 10; ++i) expected += "out 0x0310 0x0" + std::to_string(i) + "\n";
    EXPECT_EQ(readFile(path), expected + "wait 1000\nin 0x0310 0x09\n");
    std::filesystem::remove(path);

    // A reader from a cursor gets what came after it, and nothing twice.
    EXPECT_TRUE(bus.traceFrom(all.next).entries.empty());
    bus.write(0x310, 0x5A);
    EXPECT_EQ(bus.traceFrom(all.next).entries.size(), 1u);
    // A test that lost entries to the ring sees so in its trace.
    EXPECT_EQ(board.trace().front(), "(5 earlier accesses dropped: the trace ring holds 8)");
    board.clearTrace();
    EXPECT_EQ(board.trace(), std::vector<std::string>{});
}

TEST(DebugRing, LinesAreNumberedKeptBoundedAndStreamedAsPrinted) {
    zrvtest::SimBoard board;
    sim::Machine& m = board.machine();
    const auto path = tempPath("dbg");
    ASSERT_TRUE(m.debugToFile(path.string()));
    uint64_t cursor = m.debugEnd();
    m.dbgPrint("A+\nva");
    m.dbgPrint("lue 1\n");
    EXPECT_EQ(board.debugLinesFrom(cursor), (std::vector<std::string>{"A+", "value 1"}));
    EXPECT_TRUE(board.debugLinesFrom(cursor).empty()) << "the cursor moved past them";
    m.setDebugPrints(false);
    DbgPrint("dropped %d\n", 1);  // the driver's own print routine, switched off
    m.setDebugPrints(true);
    DbgPrint("A-%s", "\n");
    m.setDebugCapacity(2);
    m.dbgPrint("B\nC\npartial");
    EXPECT_EQ(m.debugLines(), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(m.debugText(), "B\nC\npartial");
    EXPECT_EQ(board.debugLinesFrom(cursor),
              (std::vector<std::string>{"(1 earlier debugger lines dropped)", "B", "C"}));
    m.clearDebug();
    EXPECT_TRUE(m.debugLines().empty());
    EXPECT_EQ(m.debugEnd(), cursor) << "clearing keeps the numbering";
    m.closeDebugFile();
    EXPECT_EQ(readFile(path), "A+\nvalue 1\nA-\nB\nC\npartial");
    std::filesystem::remove(path);
}

// A device that answers at `port`, moved by writing the new low byte to it.
class Mover : public sim::Device {
public:
    Mover(uint16_t port, bool caches, uint8_t answer) : port_(port), caches_(caches), answer_(answer) {}
    std::string type() const override { return "mover"; }
    bool claims(uint16_t port) const override { return port == port_; }
    bool cachesDecode() const override { return caches_; }
    uint8_t read(uint16_t) override { return answer_; }
    void write(uint16_t, uint8_t value) override {
        port_ = static_cast<uint16_t>((port_ & 0xFF00) | value);
        if (caches_) decodeChanged();
    }

private:
    uint16_t port_;
    bool caches_;
    uint8_t answer_;
};

TEST(DecodeCache, DevicesThatMoveTheirPortsAreFoundWhereverTheyAre) {
    for (bool caches : {false, true}) {
        SCOPED_TRACE(caches ? "caching device" : "device asked on every access");
        zrvtest::SimBoard board;
        sim::PortBus& bus = board.machine().bus();
        board.attach(std::make_unique<Mover>(0x210, caches, 0x11));
        EXPECT_EQ(bus.read(0x210), 0x11);
        EXPECT_EQ(bus.read(0x220), 0xFF);
        bus.write(0x210, 0x20);  // moves to 0x220
        EXPECT_EQ(bus.read(0x210), 0xFF) << "the old port floats";
        EXPECT_EQ(bus.read(0x220), 0x11);
    }
}

TEST(DecodeCache, TheDeviceAttachedFirstWinsAPortBothClaim) {
    zrvtest::SimBoard board;
    sim::PortBus& bus = board.machine().bus();
    board.attach(std::make_unique<Mover>(0x230, false, 0x01));  // asked every time
    board.attach(std::make_unique<Mover>(0x240, true, 0x02));   // cached
    board.attach(std::make_unique<Mover>(0x240, true, 0x03));   // cached, shadowed
    EXPECT_EQ(bus.read(0x240), 0x02);
    bus.write(0x230, 0x40);  // the first device moves onto 0x240 without telling
    EXPECT_EQ(bus.read(0x240), 0x01);
    EXPECT_EQ(bus.read(0x230), 0xFF);
}

}  // namespace
