// The CD port through the request interface, against an emulated CD port:
// the read-modify-write of single lines, the one-second pulse as a level
// that rises and falls in virtual time, inputs from emulated pins, and the
// edges of the configuration (no port, masks wider than four lines).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim/devices/cd_port.h"
#include "tests/support/ports.h"

using sim::CdPort;
using zrvtest::SimBoard;
using Edges = std::vector<CdPort::Edge>;
using Lines = std::vector<std::string>;

namespace {

CdPort::Config sharedPort(uint8_t inputs, uint8_t outputs, uint8_t latch = 0) {
    CdPort::Config c;
    c.port = 0x2A0;
    c.inputs = inputs;
    c.outputs = outputs;
    c.latch = latch;
    return c;
}

class PortCd : public zrvtest::PortTest<CdPort> {
protected:
    CdPort& boot(const std::string& values, CdPort::Config hw) {
        CdPort& cd = PortTest::boot("DIO", values, std::move(hw));
        EXPECT_TRUE(board.trace().empty()) << "loading touches no CD port";
        return cd;
    }
    uint8_t byteAnswer(uint32_t code) {
        const auto r = board.ioctl(code, {}, 1);
        EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
        return r.data.size() == 1 ? r.data[0] : 0xEE;
    }
    uint8_t count() { return byteAnswer(IOCTL_DIO_CD_GET_OUTPUT_COUNT); }
    uint8_t inputs() { return byteAnswer(IOCTL_DIO_CD_GET_INPUTS); }
    void setOutput(uint8_t output, uint8_t state) {
        EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {static_cast<uint8_t>(output << 4 | state)}).status,
                  ZRV_STATUS_SUCCESS);
    }
    void pulse(uint8_t output) {
        EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_PULSE_OUTPUT, {output}).status, ZRV_STATUS_SUCCESS);
    }
};

TEST_F(PortCd, OutputsAreNumberedFromTheLowestLineAndChangeOnlyTheirOwnBit) {
    CdPort& cd =
        boot("\"CDPort\"=dword:000002a0\n\"CDOutMask\"=dword:0000000c\n", sharedPort(0x00, 0x0C, 0xF1));
    EXPECT_EQ(count(), 2u);
    setOutput(1, 1);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0xf1", "out 0x02a0 0xf5"})) << "output 1 is line 2";
    board.clearTrace();
    setOutput(2, 1);
    setOutput(1, 0);
    EXPECT_EQ(board.trace(),
              (Lines{"in 0x02a0 0xf5", "out 0x02a0 0xfd", "in 0x02a0 0xfd", "out 0x02a0 0xf9"}));
    EXPECT_EQ(cd.pin("0x2a0.3"), true);
    EXPECT_EQ(cd.pin("0x2a0.2"), false);

    // Bits 1..3 of the request byte are no part of the state.
    board.clearTrace();
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x1E}).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0xf9", "out 0x02a0 0xf9"}));

    // Outputs that do not exist: one read, nothing written.
    board.clearTrace();
    setOutput(3, 1);
    setOutput(0, 1);
    pulse(3);
    pulse(0);
    EXPECT_EQ(board.trace(), Lines(4, "in 0x02a0 0xf9"));
}

TEST_F(PortCd, PulseRaisesTheLineForOneSecond) {
    CdPort& cd = boot("\"CDPort\"=dword:000002a0\n\"CDOutMask\"=dword:0000000c\n", sharedPort(0x00, 0x0C));
    board.machine().advance(5000);
    pulse(2);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0x00", "out 0x02a0 0x08", "wait 1000", "out 0x02a0 0x00"}));
    EXPECT_EQ(cd.history("0x2a0.3"), (Edges{{0, false}, {5000, true}, {6000, false}}));
    EXPECT_EQ(cd.history("0x2a0.2"), (Edges{{0, false}})) << "the other output never moved";
}

TEST_F(PortCd, PulseOfALineAlreadyHighEndsLow) {
    CdPort& cd =
        boot("\"CDPort\"=dword:000002a0\n\"CDOutMask\"=dword:0000000c\n", sharedPort(0x00, 0x0C, 0x04));
    pulse(1);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0x04", "out 0x02a0 0x04", "wait 1000", "out 0x02a0 0x00"}));
    EXPECT_EQ(cd.history("0x2a0.2"), (Edges{{0, true}, {1000, false}}));
}

TEST_F(PortCd, ActiveLowOutputs) {
    CdPort::Config hw = sharedPort(0x00, 0x03, 0x03);
    hw.outPort = 0x2A1;
    CdPort& cd = boot(
        "\"CDPort\"=dword:000002a0\n\"CDOutPort\"=dword:000002a1\n\"CDOutMask\"=dword:00000003\n"
        "\"CDIsOutInvert\"=dword:00000001\n",
        hw);
    setOutput(1, 1);
    EXPECT_EQ(cd.latch(), 0x02) << "on is low";
    setOutput(1, 0);
    EXPECT_EQ(cd.latch(), 0x03);
    board.clearTrace();
    board.machine().advance(2000);
    pulse(2);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a1 0x03", "out 0x02a1 0x01", "wait 1000", "out 0x02a1 0x03"}));
    EXPECT_EQ(cd.history("0x2a1.1"), (Edges{{0, true}, {2000, false}, {3000, true}}));
}

TEST_F(PortCd, InputsComeFromTheirListedLinesWithoutInversion) {
    CdPort::Config hw = sharedPort(0x81, 0x00);
    hw.outPort = 0x2A1;
    CdPort& cd = boot(
        "\"CDPort\"=dword:000002a0\n\"CDOutPort\"=dword:000002a1\n\"CDInMask\"=dword:00000081\n"
        "\"CDIsInInvert\"=dword:00000001\n",
        hw);
    cd.setLevels(0x80);
    EXPECT_EQ(inputs(), 0x02) << "input 1 is line 0 (low), input 2 line 7 (high)";
    ASSERT_TRUE(cd.setPin("0x2a0.0", true));
    EXPECT_EQ(inputs(), 0x03);
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0x80", "in 0x02a0 0x81"})) << "inputs are read on CDPort";
}

// A line set while another line is being pulsed is not lost when the pulse
// writes the port back: the set waits for the pulse to end. The wait is a
// real one here so that the second request arrives during it.
TEST_F(PortCd, SetDuringAPulseWaitsForItAndIsKept) {
    CdPort& cd = boot("\"CDPort\"=dword:000002a0\n\"CDOutMask\"=dword:0000000c\n", sharedPort(0x00, 0x0C));
    board.machine().setWaitMode(sim::WaitMode::Real);
    std::thread pulser([&] { pulse(2); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    setOutput(1, 1);
    pulser.join();
    EXPECT_EQ(board.trace(), (Lines{"in 0x02a0 0x00", "out 0x02a0 0x08", "wait 1000", "out 0x02a0 0x00",
                                    "in 0x02a0 0x00", "out 0x02a0 0x04"}));
    EXPECT_EQ(cd.latch(), 0x04);
}

// Masks with more than four lines keep the four lowest.
TEST_F(PortCd, WideMasksKeepTheFourLowestLines) {
    CdPort& cd =
        boot("\"CDPort\"=dword:000002a0\n\"CDInMask\"=dword:000000ff\n\"CDOutMask\"=dword:000000ff\n",
             sharedPort(0x00, 0xFF, 0xF0));
    EXPECT_EQ(count(), 4u);
    setOutput(4, 1);
    EXPECT_EQ(cd.latch(), 0xF8) << "output 4 is line 3";
    board.clearTrace();
    setOutput(5, 1);
    pulse(8);
    EXPECT_EQ(board.trace(), Lines(2, "in 0x02a0 0xf8")) << "output 5 and beyond do not exist";
    EXPECT_EQ(inputs(), 0x08) << "only lines 0..3 are inputs";
}

// A port address of 0 is no port: nothing is read or written there.
TEST_F(PortCd, NoPortNoAccess) {
    boot("\"CDInMask\"=dword:00000003\n\"CDOutMask\"=dword:0000000c\n", sharedPort(0x03, 0x0C));
    EXPECT_EQ(count(), 0u);
    EXPECT_EQ(inputs(), 0u);
    setOutput(1, 1);
    pulse(1);
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(PortCd, OutputPortAloneGivesOutputsButNoInputs) {
    CdPort::Config hw = sharedPort(0x00, 0x01);
    hw.port = 0x2A1;  // only the output port exists on this board
    CdPort& cd =
        boot("\"CDOutPort\"=dword:000002a1\n\"CDInMask\"=dword:00000001\n\"CDOutMask\"=dword:00000001\n", hw);
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(inputs(), 0u);
    EXPECT_TRUE(board.trace().empty()) << "no read port: no read";
    setOutput(1, 1);
    EXPECT_EQ(cd.latch(), 0x01);
}

// "CDOutPort" counts as given when any of its 32 bits is set, but only its
// low 16 bits name the port: 0x10000 leaves no port to write.
TEST_F(PortCd, OutPortWithZeroLowBitsIsNoPort) {
    boot("\"CDPort\"=dword:000002a0\n\"CDOutPort\"=dword:00010000\n\"CDOutMask\"=dword:00000003\n",
         sharedPort(0x00, 0x03));
    EXPECT_EQ(count(), 0u);
    setOutput(1, 1);
    pulse(1);
    EXPECT_TRUE(board.trace().empty());
}

// Chip back-ends have no CD port: the optional slots are empty there, while
// the port back-end answers every CD request.
TEST(PortCdDispatch, EveryCdRequestSucceedsWithoutCdValues) {
    SimBoard board;
    ASSERT_EQ(board.load(zrvtest::portRegistry("DIO", "")), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_GET_INPUTS, {}, 1).data, std::vector<uint8_t>{0});
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1).data, std::vector<uint8_t>{0});
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x11}).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_PULSE_OUTPUT, {1}).status, ZRV_STATUS_SUCCESS);
    EXPECT_TRUE(board.trace().empty());
}

}  // namespace
