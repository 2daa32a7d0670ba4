// SCH3114 digital I/O in the line layout through the request interface:
// one runtime read per line in Get, one read-modify-write per line in Set,
// what reaches the pins, and the line maps refused at set-up.
#include "tests/sch3114_board.h"
#include "tests/support/answers.h"

namespace {

using namespace sch3114test;
using zrvtest::le16;
using zrvtest::lineWord;

// Inputs: GP10 and GP11 (one register), GP32|GP33, GP57. Outputs: GP60 and
// GP61 (one register, with GP67 an output that is no line), GP44+GP45
// together, GP27.
const std::vector<Line> kIn = {{1, 0x01}, {1, 0x02}, {3, 0x0C}, {5, 0x80}};
const std::vector<Line> kOut = {{6, 0x01}, {6, 0x02}, {4, 0x30}, {2, 0x80}};

class SCH3114Dio : public ChipBoard {
protected:
    void bind(const std::vector<Line>& in, const std::vector<Line>& out) {
        addAt(0x2E, 0x7C);
        chip->setGpioOutputs(6, 0x83);
        chip->setGpioOutputs(4, 0x30);
        chip->setGpioOutputs(2, 0x80);
        chip->setRuntime(0x50, 0x80);  // GP67 high
        loadQuiet(hwmKey(kNoChip) + wdtKey(kNoChip) + dioLinesKey(kSCH3114, in, out));
    }
    uint16_t inputs() { return lineWord(board, IOCTL_DIO_GET_INPUT); }
    uint16_t outputs() { return lineWord(board, IOCTL_DIO_GET_OUTPUT); }
    void set(uint16_t lines) {
        ASSERT_EQ(board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines)).status, ZRV_STATUS_SUCCESS);
    }
};

TEST_F(SCH3114Dio, GetReadsEachLinesRegisterOnce) {
    bind(kIn, kOut);
    EXPECT_EQ(lineWord(board, IOCTL_DIO_GET_CONFIG), 0x0404);
    EXPECT_EQ(newDebugLines(), Lines{"DIO_SCH3114_GetConfig: 404"});

    EXPECT_EQ(inputs(), 0x000F);  // inputs float high
    EXPECT_EQ(board.trace(),
              RtTrace().rin(0x4B, 0xFF).rin(0x4B, 0xFF).rin(0x4D, 0xFF).rin(0x4F, 0xFF).lines());
    // Pins low in turn; line 2 stays high while either of its pins is.
    const std::pair<const char*, uint16_t> steps[] = {
        {"gp11", 0x000D}, {"gp32", 0x000D}, {"gp33", 0x0009}, {"gp57", 0x0001}, {"gp10", 0x0000}};
    for (auto [pin, expected] : steps) {
        chip->setPin(pin, false);
        EXPECT_EQ(inputs(), expected) << pin;
    }
    EXPECT_TRUE(newDebugLines().empty()) << "Get logs nothing";
}

TEST_F(SCH3114Dio, SetIsOneReadModifyWritePerLineAndKeepsOtherBits) {
    bind(kIn, kOut);
    set(0x0002);
    // GP62-66 are inputs and float high.
    const Lines expected =
        RtTrace().rmw(0x50, 0xFC, 0xFC).rmw(0x50, 0xFC, 0xFE).rmw(0x4E, 0xCF, 0xCF).rmw(0x4C, 0x7F, 0x7F);
    EXPECT_EQ(board.trace(), expected);
    board.clearTrace();
    EXPECT_EQ(outputs(), 0x0002);
    EXPECT_EQ(board.trace(),
              RtTrace().rin(0x50, 0xFE).rin(0x50, 0xFE).rin(0x4E, 0xCF).rin(0x4C, 0x7F).lines());

    set(0x000D);
    for (auto [pin, level] : {std::pair{"gp60", true},
                              {"gp61", false},
                              {"gp44", true},
                              {"gp45", true},
                              {"gp27", true},
                              {"gp67", true}})
        EXPECT_EQ(chip->pin(pin), level) << pin;
    EXPECT_EQ(outputs(), 0x000D);
    set(0x0000);
    EXPECT_EQ(chip->pin("gp60"), false);
    EXPECT_EQ(chip->pin("gp67"), true) << "GP67 is no line and keeps its level";
}

TEST_F(SCH3114Dio, NoLinesMeansNoPortAccess) {
    bind({}, {});
    EXPECT_EQ(lineWord(board, IOCTL_DIO_GET_CONFIG), 0);
    EXPECT_EQ(inputs(), 0);
    EXPECT_EQ(outputs(), 0);
    set(0xFFFF);
    EXPECT_TRUE(board.trace().empty());
}

// A line naming a group without a GPIO data register (past the eight-entry
// table, groups 0 and 7, or the group 0 of a line whose value the registry
// lacks) is refused at set-up with the line named, before any runtime access.
TEST(SCH3114DioLines, LinesNamingGroupsWithoutADataRegisterAreRefused) {
    struct Case {
        std::string lines;  // the DIO key
        const char* line;   // null: bound
    };
    const std::string missingAddr = dioLinesKey(kSCH3114, {{1, 1}}, {}) + "\"InBits\"=dword:00000002\n";
    const Case cases[] = {
        {dioLinesKey(kSCH3114, {{1, 1}}, {{6, 1}, {8, 2}}),
         "DIO_SCH3114 output line 1 names GPIO group 8, digital I/O not bound"},
        {dioLinesKey(kSCH3114, {{0xFFFF, 1}}, {}),
         "DIO_SCH3114 input line 0 names GPIO group 65535, digital I/O not bound"},
        {dioLinesKey(kSCH3114, {{1, 1}, {0, 2}}, {}),
         "DIO_SCH3114 input line 1 names GPIO group 0, digital I/O not bound"},
        {dioLinesKey(kSCH3114, {{1, 1}}, {{6, 1}, {7, 4}}),
         "DIO_SCH3114 output line 1 names GPIO group 7, digital I/O not bound"},
        {missingAddr, "DIO_SCH3114 input line 1 names GPIO group 0, digital I/O not bound"},
        {dioLinesKey(kSCH3114, {{1, 1}, {6, 2}}, {{2, 4}, {5, 1}}), nullptr},
    };
    for (const Case& c : cases) {
        Bench b(0x2E);
        b.board.reg(hwmKey(kNoChip) + wdtKey(kNoChip) + c.lines);
        ASSERT_EQ(b.board.load(), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(b.board.trace(), RtTrace(0x2E).found(0x7C).lines()) << "only the probe ran";
        EXPECT_EQ(b.board.debugLines(), c.line ? Lines{c.line} : Lines{});
        EXPECT_EQ(b.status(IOCTL_DIO_GET_CONFIG, 2), c.line ? ZRV_STATUS_NOT_SUPPORTED : ZRV_STATUS_SUCCESS);
    }
}

}  // namespace
