// F81865 digital I/O through the request interface, in the group layout and
// in the line layout: what reaches the GPIO registers and pins, and what the
// caller reads back.
#include "tests/f81865_board.h"
#include "tests/support/answers.h"

namespace {

using namespace f81865test;
using zrvtest::le16;
using zrvtest::lineWord;

class F81865Dio : public ChipBoard {
protected:
    // Loads with the digital I/O alone bound, then forgets the load's traces.
    void bind(uint16_t port, uint16_t id, const std::string& dioKey) {
        if (chip == nullptr) addChip(port, id);
        ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioKey), ZRV_STATUS_SUCCESS);
        loadDebug = newDebugLines();
        board.clearTrace();
    }
    uint16_t config() { return lineWord(board, IOCTL_DIO_GET_CONFIG); }
    uint16_t inputs() { return lineWord(board, IOCTL_DIO_GET_INPUT); }
    uint16_t outputs() { return lineWord(board, IOCTL_DIO_GET_OUTPUT); }
    void set(uint16_t lines) {
        ASSERT_EQ(board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines)).status, ZRV_STATUS_SUCCESS);
    }

    Lines loadDebug;
};

// ---- Group layout ----------------------------------------------------------

TEST_F(F81865Dio, GroupLayoutOutputsShiftToTheirLowestLine) {
    addChip(0x2E, 0x0704);
    chip->setReg(6, 0xD0, 0xF0);  // group 2: pins 4..7 outputs
    chip->setReg(6, 0xD1, 0x0F);
    bind(0x2E, 0x0704, dioGroupKey(kF81865, 2, 2));
    EXPECT_EQ(Lines(loadDebug.end() - 3, loadDebug.end()),
              (Lines{"DIO_F81865_IOMask: index = d0, outIndex = d0 MaskOutp = f0, MaskInp = f",
                     "DIO_F81865_IOMask: InBits=4, OutBits=4",
                     "DIO_F81865_IOMask: ShiftInp=0, ShiftOutp=4, InMask=f, OutMask=f0"}));
    EXPECT_EQ(config(), 0x0404);

    set(0x0005);
    // The whole register is written: the input bits are written 0.
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(6).wr(0xD1, 0x50).exit().lines());
    EXPECT_EQ(newDebugLines(), (Lines{"DIO_F81865_GetConfig: 404", "DIO_F81865_Set: Output=5"}));
    EXPECT_EQ(chip->pin("gpio24"), true);
    EXPECT_EQ(chip->pin("gpio25"), false);
    EXPECT_EQ(chip->pin("gpio26"), true);
    EXPECT_EQ(chip->pin("gpio27"), false);
    set(0x0015);  // line 4 shifts out of the byte
    EXPECT_EQ(chip->reg(6, 0xD1), 0x50);
    board.clearTrace();
    EXPECT_EQ(outputs(), 0x0005);
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(6).rd(0xD1, 0x50).exit().lines());

    // The same group's inputs: pins 0..3 as the outside drives them.
    chip->setPin("gpio20", false);
    chip->setPin("gpio23", false);
    board.clearTrace();
    EXPECT_EQ(inputs(), 0x0006);
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(6).rd(0xD2, 0x56).exit().lines());
}

TEST_F(F81865Dio, GroupLayoutInputsKeepTheirGaps) {
    addChip(0x4E, 0x1010);
    chip->setReg(6, 0xB0, 0x5A);  // group 4: inputs on pins 0, 2, 5, 7
    chip->setReg(6, 0xB1, 0xFF);  // its outputs high: they must not show as inputs
    chip->setReg(6, 0x88, 0x00);  // group 8: no outputs at all
    chip->setReg(6, 0x89, 0x77);
    bind(0x4E, 0x1010, dioGroupKey(kF81865, 4, 8));
    EXPECT_EQ(loadDebug.back(), "DIO_F81865_IOMask: ShiftInp=0, ShiftOutp=0, InMask=a5, OutMask=0");
    EXPECT_EQ(config(), 0x0004);

    EXPECT_EQ(inputs(), 0x00A5);  // inputs float high
    chip->setPin("gpio40", false);
    chip->setPin("gpio41", false);  // an output pin: not an input line
    chip->setPin("gpio47", false);
    EXPECT_EQ(inputs(), 0x0024);

    board.clearTrace();
    set(0x00FF);  // no output lines: the data register is still written, with 0
    EXPECT_EQ(board.trace(), Trace(0x4E).enter().select(6).wr(0x89, 0x00).exit().lines());
    EXPECT_EQ(outputs(), 0);
}

TEST_F(F81865Dio, GroupLayoutWithNoInputLines) {
    addChip(0x2E, 0x1010);
    chip->setReg(6, 0xF0, 0xFF);
    chip->setReg(6, 0x80, 0x5A);  // group 7 of the larger chip: outputs with gaps
    bind(0x2E, 0x1010, dioGroupKey(kF81865, 0, 7));
    EXPECT_EQ(config(), 0x0400);
    EXPECT_EQ(inputs(), 0);
    // The lines are bits 0, 2, 3 and 5 of the word (pins 1, 3, 4, 6): bit 1
    // would be pin 2, an input, and is dropped.
    set(0x000F);
    EXPECT_EQ(chip->reg(6, 0x81), 0x1A);
    EXPECT_EQ(outputs(), 0x000D);
}

// Group numbers the chip does not have: the smaller chip has groups 0..6,
// the larger 0..8.
TEST(F81865DioGroups, GroupsOutOfRangeForTheChipAreRefused) {
    struct Case {
        uint16_t id;
        uint32_t in, out;
        bool bound;
    };
    const Case cases[] = {
        {0x0704, 6, 6, true},  {0x0704, 7, 0, false}, {0x0704, 0, 7, false},    {0x1010, 7, 8, true},
        {0x1010, 0, 9, false}, {0x0704, 9, 0, false}, {0x1010, 0x100, 0, true},  // low byte kept: group 0
    };
    for (const Case& c : cases) {
        zrvtest::SimBoard board;
        board.attach(std::make_unique<sim::F81865>(0x2E, c.id));
        ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioGroupKey(kF81865, c.in, c.out)),
                  ZRV_STATUS_SUCCESS);
        const auto r = board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2);
        EXPECT_EQ(r.status, c.bound ? ZRV_STATUS_SUCCESS : ZRV_STATUS_NOT_SUPPORTED)
            << std::hex << c.id << " " << c.in << "/" << c.out;
        if (!c.bound) {
            EXPECT_EQ(board.trace().size(), 7u) << "only the probe ran";
        }
        board.unload();
        EXPECT_TRUE(board.violations().empty());
    }
}

// ---- Line layout -----------------------------------------------------------

// Inputs: group 0 pins 0 and 2, group 3 pins 4+5 together, group 5 pin 7.
// Outputs: group 5 pins 0 and 1 (one register), group 4 pins 2+3 together,
// group 6 pin 7.
const std::vector<Line> kIn = {{0, 0x01}, {0, 0x04}, {3, 0x30}, {5, 0x80}};
const std::vector<Line> kOut = {{5, 0x01}, {5, 0x02}, {4, 0x0C}, {6, 0x80}};

class F81865Lines : public F81865Dio {
protected:
    void SetUp() override {
        addChip(0x2E, 0x0704);
        chip->setReg(6, 0xA0, 0x03);
        chip->setReg(6, 0xA1, 0xF0);  // bits of other lines in the shared register
        chip->setReg(6, 0xB0, 0x0C);
        chip->setReg(6, 0x90, 0x80);
        bind(0x2E, 0x0704, dioLinesKey(kF81865, kIn, kOut));
    }
};

TEST_F(F81865Lines, SetIsOneReadModifyWritePerLineInOneBracket) {
    EXPECT_EQ(config(), 0x0404);
    board.clearTrace();
    set(0x0002);
    const Lines expected = Trace(0x2E)
                               .enter()
                               .select(6)
                               .rd(0xA1, 0xF0)
                               .wr(0xA1, 0xF0)
                               .rd(0xA1, 0xF0)
                               .wr(0xA1, 0xF2)
                               .rd(0xB1, 0x00)
                               .wr(0xB1, 0x00)
                               .rd(0x91, 0x00)
                               .wr(0x91, 0x00)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(chip->reg(6, 0xA1), 0xF2);

    set(0x000D);  // lines 0, 2 (both pins) and 3
    EXPECT_EQ(chip->reg(6, 0xA1), 0xF1);
    EXPECT_EQ(chip->reg(6, 0xB1), 0x0C);
    for (const char* p : {"gpio50", "gpio42", "gpio43", "gpio67"}) EXPECT_EQ(chip->pin(p), true) << p;
    EXPECT_EQ(chip->pin("gpio51"), false);
    EXPECT_EQ(outputs(), 0x000D);
}

TEST_F(F81865Lines, GetAssemblesTheWordFromEachLinesGroup) {
    chip->setPin("gpio00", false);
    chip->setPin("gpio34", false);  // one of the two pins of line 2 is enough
    board.clearTrace();
    EXPECT_EQ(inputs(), 0x000E);
    EXPECT_EQ(board.trace(), Trace(0x2E)
                                 .enter()
                                 .select(6)
                                 .rd(0xF2, 0xFE)
                                 .rd(0xF2, 0xFE)
                                 .rd(0xC2, 0xEF)
                                 .rd(0xA2, 0xFC)
                                 .exit()
                                 .lines());
    chip->setPin("gpio35", false);
    chip->setPin("gpio57", false);
    EXPECT_EQ(inputs(), 0x0002);
    EXPECT_TRUE(newDebugLines().empty()) << "Get logs nothing";
}

TEST_F(F81865Dio, LineLayoutWithoutOutputsMakesAnEmptyBracket) {
    bind(0x2E, 0x0704, dioLinesKey(kF81865, {{1, 1}, {1, 2}, {2, 4}}, {}));
    EXPECT_EQ(config(), 0x0003);
    board.clearTrace();
    set(0xFFFF);
    EXPECT_EQ(outputs(), 0);
    EXPECT_EQ(board.trace(), Trace(0x2E).enter().select(6).exit().enter().select(6).exit().lines());
}

TEST_F(F81865Dio, LineLayoutCountsTravelAsTheConfigRecord) {
    bind(0x4E, 0x1010,
         dioLinesKey(kF81865, {{0, 1}, {0, 2}, {0, 4}}, {{8, 1}, {8, 2}, {8, 4}, {8, 8}, {7, 1}}));
    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).data, (std::vector<uint8_t>{0x03, 0x05}));
    EXPECT_EQ(newDebugLines(), Lines{"DIO_F81865_GetConfig: 503"});
    set(0x0011);
    EXPECT_EQ(chip->reg(6, 0x89), 0x01);
    EXPECT_EQ(chip->reg(6, 0x81), 0x01);
}

// A line naming a group past the register table (or one the smaller chip
// lacks) is refused at set-up, with the line named; no GPIO register is
// touched.
TEST(F81865DioLines, LinesNamingMissingGroupsAreRefused) {
    struct Case {
        uint16_t id;
        std::vector<Line> in, out;
        const char* line;
    };
    const Case cases[] = {
        {0x1010,
         {{0, 1}},
         {{8, 1}, {9, 2}},
         "DIO_F81865 output line 1 names GPIO group 9, digital I/O not bound"},
        {0x1010, {{0xFFFF, 1}}, {}, "DIO_F81865 input line 0 names GPIO group 65535, digital I/O not bound"},
        {0x0704,
         {{6, 1}, {1, 1}, {7, 1}},
         {},
         "DIO_F81865 input line 2 names GPIO group 7, digital I/O not bound"},
    };
    for (const Case& c : cases) {
        zrvtest::SimBoard board;
        board.attach(std::make_unique<sim::F81865>(0x2E, c.id));
        ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioLinesKey(kF81865, c.in, c.out)),
                  ZRV_STATUS_SUCCESS);
        EXPECT_EQ(board.debugLines().back(), c.line);
        EXPECT_EQ(board.trace().size(), 7u) << "only the probe ran";
        EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).status, ZRV_STATUS_NOT_SUPPORTED);
        board.unload();
        EXPECT_TRUE(board.violations().empty());
    }
}

}  // namespace
