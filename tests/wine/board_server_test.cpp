// The board server's requests, answered from one emulated board: port
// accesses reach the devices and the trace, board commands reach virtual
// time and the devices' lines, malformed requests are refused.
#include "sim/server/board_server.h"

#include <gtest/gtest.h>

#include <map>

#include "sim/latch.h"

namespace {

// A device with one input line "IN0" (bit 0 of port 0x600), one output
// line "OUT0" (bit 1 of what was last written there), counting the time it
// was told about, and reporting a reset and a breach when asked to.
class LineDevice : public sim::Device {
public:
    std::string type() const override { return "line-device"; }
    bool claims(uint16_t port) const override { return port == 0x600; }
    uint8_t read(uint16_t) override { return static_cast<uint8_t>((latch_ & ~1u) | (in_ ? 1 : 0)); }
    void write(uint16_t, uint8_t value) override { latch_ = value; }
    void advance(uint64_t fromMs, uint64_t ms) override {
        advanced_ += ms;
        lastFrom_ = fromMs;
    }
    std::vector<std::string> violations() const override {
        return breach_ ? std::vector<std::string>{"bad write"} : std::vector<std::string>{};
    }
    std::vector<uint64_t> resets() const override { return resets_; }
    bool setPin(const std::string& line, bool level) override {
        if (line != "IN0") return false;
        in_ = level;
        return true;
    }
    std::optional<bool> pin(const std::string& line) const override {
        if (line == "OUT0") return (latch_ & 2) != 0;
        if (line == "IN0") return in_;
        return std::nullopt;
    }

    uint64_t advanced_ = 0;
    uint64_t lastFrom_ = 0;
    bool breach_ = false;
    std::vector<uint64_t> resets_;

private:
    uint8_t latch_ = 0;
    bool in_ = false;
};

class BoardServerTest : public ::testing::Test {
protected:
    BoardServerTest() : server(machine) {
        machine.bus().attach(std::make_unique<sim::Latch>(std::map<uint16_t, uint8_t>{{0x310, 0xA5}}));
        auto d = std::make_unique<LineDevice>();
        device = d.get();
        machine.bus().attach(std::move(d));
    }

    std::vector<std::string> trace() const {
        std::vector<std::string> out;
        for (auto& e : machine.bus().trace()) out.push_back(e.text());
        return out;
    }

    sim::Machine machine;
    sim::BoardServer server;
    LineDevice* device = nullptr;
};

TEST_F(BoardServerTest, PortReadsComeFromTheDeviceAndAreTraced) {
    EXPECT_EQ(server.handle("in 0x310"), "ok 0xa5\n");
    EXPECT_EQ(server.handle("in 784"), "ok 0xa5\n");   // decimal 0x310
    EXPECT_EQ(server.handle("in 0x2f"), "ok 0xff\n");  // nobody answers: the bus floats
    EXPECT_EQ(trace(), (std::vector<std::string>{"in 0x0310 0xa5", "in 0x0310 0xa5", "in 0x002f 0xff"}));
}

TEST_F(BoardServerTest, PortWritesReachTheDeviceAndAreTraced) {
    EXPECT_EQ(server.handle("out 0x310 0x5a"), "ok\n");
    EXPECT_EQ(server.handle("in 0x310"), "ok 0x5a\n");
    EXPECT_EQ(server.handle("out 0x2e 0x87"), "ok\n");
    EXPECT_EQ(trace(), (std::vector<std::string>{"out 0x0310 0x5a", "in 0x0310 0x5a", "out 0x002e 0x87"}));
}

TEST_F(BoardServerTest, TraceRequestListsEveryAccessInOrder) {
    server.handle("out 0x600 0x02");
    server.handle("in 0x600");
    EXPECT_EQ(server.handle("trace"), "ok 2\nout 0x0600 0x02\nin 0x0600 0x02\n");
}

TEST_F(BoardServerTest, AdvanceMovesVirtualTimeForEveryDevice) {
    EXPECT_EQ(server.handle("now"), "ok 0\n");
    EXPECT_EQ(server.handle("advance 1500"), "ok\n");
    EXPECT_EQ(server.handle("advance 0x10"), "ok\n");
    EXPECT_EQ(server.handle("now"), "ok 1516\n");
    EXPECT_EQ(device->advanced_, 1516u);
    EXPECT_EQ(device->lastFrom_, 1500u);
    EXPECT_TRUE(trace().empty());  // time passing is no port access
}

TEST_F(BoardServerTest, PinsAreDrivenAndReadByLineName) {
    EXPECT_EQ(server.handle("setpin IN0 1"), "ok 1\n");
    EXPECT_EQ(server.handle("in 0x600"), "ok 0x01\n");
    EXPECT_EQ(server.handle("pin IN0"), "ok 1\n");
    EXPECT_EQ(server.handle("setpin IN0 0"), "ok 1\n");
    EXPECT_EQ(server.handle("pin IN0"), "ok 0\n");
    server.handle("out 0x600 0x02");
    EXPECT_EQ(server.handle("pin OUT0"), "ok 1\n");
    EXPECT_EQ(server.handle("setpin NOPE 1"), "ok 0\n");
    EXPECT_EQ(server.handle("pin NOPE"), "ok none\n");
}

TEST_F(BoardServerTest, ResetsAndViolationsOfTheDevices) {
    EXPECT_EQ(server.handle("resets"), "ok\n");
    EXPECT_EQ(server.handle("violations"), "ok 0\n");
    device->resets_ = {30000, 95000};
    device->breach_ = true;
    EXPECT_EQ(server.handle("resets"), "ok 30000 95000\n");
    EXPECT_EQ(server.handle("violations"), "ok 1\nline-device: bad write\n");
}

TEST_F(BoardServerTest, MalformedRequestsAreRefusedWithoutAccess) {
    for (const char* bad : {"", "in", "in 0x10000", "in x", "out 0x2e", "out 0x2e 0x100", "advance -1",
                            "setpin IN0 2", "pin", "jump 3", "in 0x2e 0x2f", "quit now"}) {
        const std::string answer = server.handle(bad);
        EXPECT_EQ(answer.rfind("err ", 0), 0u) << "request '" << bad << "' answered " << answer;
    }
    EXPECT_TRUE(trace().empty());
    EXPECT_FALSE(server.quitRequested());
}

TEST_F(BoardServerTest, QuitIsAnsweredAndRemembered) {
    EXPECT_FALSE(server.quitRequested());
    EXPECT_EQ(server.handle("quit"), "ok\n");
    EXPECT_TRUE(server.quitRequested());
}

}  // namespace
