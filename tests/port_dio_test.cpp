// The port digital I/O through the request interface, against emulated
// input ports, output latches and a data port with a direction register:
// which ports are read and written in which order, the line words that come
// back, and the levels the output lines end at.
#include <gtest/gtest.h>

#include "sim/devices/dio_ports.h"
#include "tests/support/answers.h"
#include "tests/support/ports.h"

using sim::DioPorts;
using zrvtest::le16;
using zrvtest::SimBoard;
using Lines = std::vector<std::string>;

namespace {

class PortDio : public zrvtest::PortTest<DioPorts> {
protected:
    DioPorts& boot(const std::string& values, DioPorts::Config hw) {
        return PortTest::boot("DIO", values, std::move(hw));
    }
    uint16_t config() { return zrvtest::lineWord(board, IOCTL_DIO_GET_CONFIG); }
    uint16_t inputs() { return zrvtest::lineWord(board, IOCTL_DIO_GET_INPUT); }
    uint16_t outputs() { return zrvtest::lineWord(board, IOCTL_DIO_GET_OUTPUT); }
    // The input word with these levels outside the two input ports.
    uint16_t inputs(DioPorts& dio, uint8_t first, uint8_t second) {
        dio.setLevels(0x300, first);
        dio.setLevels(0x302, second);
        return inputs();
    }
    void set(uint16_t value) {
        EXPECT_EQ(board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(value)).status, ZRV_STATUS_SUCCESS);
    }
    ZrvStatus mask(uint8_t m) { return board.ioctl(IOCTL_DIO_SET_SPECIFIC_MASK, {m}).status; }
};

DioPorts::Config plainPorts() {
    DioPorts::Config c;
    c.inputs = {{0x300, 0x00}, {0x302, 0x00}};
    c.outputs = {{0x301, 0x00}, {0x303, 0x00}};
    return c;
}

DioPorts::Config dataPort(uint8_t directionAtPowerUp) {
    DioPorts::Config c;
    c.dataPort = 0x310;
    c.directionPort = 0x311;
    c.directionReset = directionAtPowerUp;
    return c;
}

const char* kSpecific =
    "\"UseSpecificSetting\"=dword:00000001\n\"SpecificMaskIo\"=dword:00000311\n\"SpecificDataIo\"=dword:"
    "00000310\n";

TEST_F(PortDio, EmptyKeyBindsATableThatTouchesNothing) {
    boot("", plainPorts());
    EXPECT_EQ(config(), 0u);
    EXPECT_EQ(inputs(), 0u);
    EXPECT_EQ(outputs(), 0u);
    set(0xFFFF);
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(PortDio, SecondInputPortContinuesTheWordAboveTheFirst) {
    DioPorts& dio = boot(
        "\"IOBaseIn\"=dword:00000300\n\"InMask\"=dword:0000000f\n\"IOBaseIn2\"=dword:00000302\n"
        "\"InMask2\"=dword:0000000f\n\"InBits\"=dword:00000008\n\"OutBits\"=dword:00000004\n",
        plainPorts());
    EXPECT_EQ(config(), 0x0408);
    // Lines 0..3 of each port carry 0x5 and 0xC, the rest are masked off.
    EXPECT_EQ(inputs(dio, 0xA5, 0x3C), 0x00C5);
    EXPECT_EQ(board.trace(), (Lines{"in 0x0302 0x3c", "in 0x0300 0xa5"})) << "the second port is read first";
}

TEST_F(PortDio, SecondOutputPortTakesTheHighLinesAndIsWrittenFirst) {
    DioPorts& dio = boot(
        "\"IOBaseOut\"=dword:00000301\n\"OutMask\"=dword:000000f0\n\"IOBaseOut2\"=dword:00000303\n"
        "\"OutMask2\"=dword:0000000f\n",
        plainPorts());
    set(0xA5);
    EXPECT_EQ(board.trace(), (Lines{"out 0x0303 0x0a", "out 0x0301 0x50"}));
    EXPECT_EQ(dio.wires(0x301), 0x50);
    EXPECT_EQ(dio.wires(0x303), 0x0A);
    EXPECT_EQ(dio.pin("0x301.4"), true);
    EXPECT_EQ(dio.pin("0x301.5"), false);
    EXPECT_EQ(dio.pin("0x303.1"), true);

    board.clearTrace();
    EXPECT_EQ(outputs(), 0x00A5) << "read back from the latches";
    EXPECT_EQ(board.trace(), (Lines{"in 0x0303 0x0a", "in 0x0301 0x50"}));

    // Lines outside the masks are written 0 and no latch is read first.
    board.clearTrace();
    set(0xFF5A);
    EXPECT_EQ(board.trace(), (Lines{"out 0x0303 0x05", "out 0x0301 0xa0"}));
}

TEST_F(PortDio, EmptyFirstMaskPutsTheSecondPortAtBitZero) {
    DioPorts& dio = boot(
        "\"IOBaseIn\"=dword:00000300\n\"InMask\"=dword:00000000\n\"IOBaseIn2\"=dword:00000302\n"
        "\"InMask2\"=dword:0000000f\n",
        plainPorts());
    EXPECT_EQ(inputs(dio, 0xFF, 0xF6), 0x0006);
}

TEST_F(PortDio, NoFirstInputPortMeansNoInputsAndNoRead) {
    DioPorts& dio =
        boot("\"IOBaseIn2\"=dword:00000302\n\"InMask2\"=dword:0000000f\n\"InBits\"=dword:00000004\n",
             plainPorts());
    dio.setLevels(0x302, 0x0F);
    EXPECT_EQ(inputs(), 0u);
    EXPECT_EQ(config(), 0x0004) << "the count is reported as stored";
    EXPECT_TRUE(board.trace().empty());
}

// A second port whose lowest line lies above the first port's line count
// would need a negative shift: it adds nothing and is written 0.
TEST_F(PortDio, SecondPortBeyondTheWordAddsNothingAndIsWrittenZero) {
    DioPorts& dio = boot(
        "\"IOBaseIn\"=dword:00000300\n\"InMask\"=dword:00000001\n\"IOBaseIn2\"=dword:00000302\n"
        "\"InMask2\"=dword:000000f0\n\"IOBaseOut\"=dword:00000301\n\"OutMask\"=dword:00000003\n"
        "\"IOBaseOut2\"=dword:00000303\n\"OutMask2\"=dword:00000080\n",
        plainPorts());
    EXPECT_EQ(inputs(dio, 0x01, 0xF0), 0x0001);
    EXPECT_EQ(board.trace(), (Lines{"in 0x0302 0xf0", "in 0x0300 0x01"}));
    board.clearTrace();
    set(0xFFFF);
    EXPECT_EQ(board.trace(), (Lines{"out 0x0303 0x00", "out 0x0301 0x03"}));
    EXPECT_EQ(dio.wires(0x303), 0x00);
}

TEST_F(PortDio, SpecificLayoutReadsTheDirectionAtLoadAndSplitsTheDataPort) {
    DioPorts& dio = boot(kSpecific, dataPort(0x0F));
    EXPECT_EQ(board.trace(), (Lines{"in 0x0311 0x0f", "out 0x0311 0x0f"}))
        << "the direction is kept as found";
    EXPECT_EQ(config(), 0x0404);

    board.clearTrace();
    set(0x3);
    EXPECT_EQ(board.trace(), Lines{"out 0x0310 0x30"});
    EXPECT_EQ(dio.pin("0x310.4"), true);
    EXPECT_EQ(dio.pin("0x310.5"), true);
    EXPECT_EQ(dio.pin("0x310.6"), false);

    dio.setLevels(0x310, 0x0A);
    EXPECT_EQ(inputs(), 0x000A);
    EXPECT_EQ(outputs(), 0x0003);
}

TEST_F(PortDio, DirectionMaskSwitchesTheLayout) {
    DioPorts& dio = boot(kSpecific, dataPort(0x0F));
    dio.setLevels(0x310, 0xFF);
    board.clearTrace();

    ASSERT_EQ(mask(0x00), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Lines{"out 0x0311 0x00"}) << "the new mask is written, not read back";
    EXPECT_EQ(dio.direction(), 0x00);
    EXPECT_EQ(config(), 0x0800);
    board.clearTrace();
    EXPECT_EQ(inputs(), 0u);
    EXPECT_TRUE(board.trace().empty()) << "all lines are outputs: no input port";
    set(0x81);
    EXPECT_EQ(dio.wires(0x310), 0x81);

    ASSERT_EQ(mask(0xFF), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(config(), 0x0008);
    board.clearTrace();
    set(0xFF);
    EXPECT_TRUE(board.trace().empty()) << "all lines are inputs: no output port";
    EXPECT_EQ(inputs(), 0x00FF);

    // A mask with gaps is not compacted.
    ASSERT_EQ(mask(0x5A), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(config(), 0x0404);
    dio.setLevels(0x310, 0x48);
    EXPECT_EQ(inputs(), 0x0024) << "(0x48 & 0x5a) >> 1";
}

TEST_F(PortDio, DirectionMaskOnAPlainBoardTurnsTheSecondPairOff) {
    DioPorts::Config hw = plainPorts();
    hw.dataPort = 0x310;
    hw.directionPort = 0x311;
    DioPorts& dio = boot(
        "\"IOBaseOut\"=dword:00000301\n\"OutMask\"=dword:0000000f\n\"IOBaseOut2\"=dword:00000303\n"
        "\"OutMask2\"=dword:0000000f\n\"SpecificMaskIo\"=dword:00000311\n\"SpecificDataIo\"=dword:00000310\n",
        hw);
    EXPECT_TRUE(board.trace().empty()) << "the plain layout does not touch the direction register";
    ASSERT_EQ(mask(0xF0), ZRV_STATUS_SUCCESS);
    board.clearTrace();
    set(0xFFFF);
    EXPECT_EQ(board.trace(), Lines{"out 0x0310 0x0f"});
    EXPECT_EQ(dio.latch(0x303), 0x00);
}

// Without a direction register there is nothing to write a mask to; port 0
// is the DMA controller on a PC. The request is refused and the layout stays.
TEST_F(PortDio, DirectionMaskWithoutDirectionRegisterIsRefused) {
    DioPorts& dio = boot(
        "\"IOBaseOut\"=dword:00000301\n\"OutMask\"=dword:000000ff\n\"OutBits\"=dword:00000008\n"
        "\"SpecificDataIo\"=dword:00000310\n",
        plainPorts());
    EXPECT_EQ(mask(0x0F), ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
    EXPECT_EQ(config(), 0x0800);
    set(0x42);
    EXPECT_EQ(board.trace(), Lines{"out 0x0301 0x42"});
    EXPECT_EQ(dio.latch(0x301), 0x42);
}

TEST_F(PortDio, SpecificLayoutWithoutDirectionRegisterLeavesTheLinesOff) {
    boot("\"UseSpecificSetting\"=dword:00000001\n\"SpecificDataIo\"=dword:00000310\n", dataPort(0x0F));
    EXPECT_TRUE(board.trace().empty());
    EXPECT_EQ(config(), 0u);
    EXPECT_EQ(inputs(), 0u);
    set(0xFF);
    EXPECT_EQ(mask(0x0F), ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
}

}  // namespace
