// W83627 GPIO digital I/O through the request interface: the "GPIOGroup"
// value, the probe with the group set-up at either pair, the direction byte
// read once, line masks and shifts with gaps, and the groups the back-end
// refuses to bind.
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"
#include "tests/w83627_board.h"

namespace {

using namespace w83627test;
using zrvtest::le16;

constexpr int kGlobal = sim::W83627::kGlobal;

std::string dioKey(uint32_t group) { return dioGroupKey(kW83627, group, 0); }

struct Preset {
    int device;
    uint8_t reg, value;
};

// One board per table row (one virtual board at a time).
struct OneChip : zrvtest::OneDevice<sim::W83627> {
    OneChip(uint16_t port, uint8_t id, uint32_t group, const std::vector<Preset>& presets)
        : OneDevice(port, id), chip(&device) {
        for (const Preset& p : presets) chip->setReg(p.device, p.reg, p.value);
        EXPECT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioKey(group)), ZRV_STATUS_SUCCESS);
    }
    uint16_t word(uint32_t code) { return zrvtest::lineWord(board, code); }
    sim::W83627* chip;
};

class W83627Dio : public ChipBoard {};

// Group 1 on ID 0x88: pins GP10-13 inputs, GP14-17 outputs.
TEST_F(W83627Dio, GroupOneWholeTraceAndLines) {
    addChip(0x2E, 0x88);
    chip->setReg(7, 0x30, 0x01);
    chip->setReg(7, 0xF0, 0x0F);
    chip->setPin("gpio11", false);
    ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioKey(1)), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(),
              Trace(0x2E).enter().rd(0x20, 0x88).select(7).rd(0x30, 0x01).rd(0xF0, 0x0F).exit().lines());
    clearSeen();

    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).data, le16(0x0404));
    EXPECT_EQ(board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(0x5)).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_INPUT, {}, 2).data, le16(0x0D));
    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2).data, le16(0x5));
    const Lines expected = Trace(0x2E)
                               .enter()
                               .select(7)
                               .wr(0xF1, 0x50)
                               .exit()
                               .enter()
                               .select(7)
                               .rd(0xF1, 0x5D)
                               .exit()
                               .enter()
                               .select(7)
                               .rd(0xF1, 0x5D)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    for (auto [line, level] :
         {std::pair{"gpio14", true}, {"gpio15", false}, {"gpio16", true}, {"gpio17", false}})
        EXPECT_EQ(chip->pin(line), level) << line;
    EXPECT_TRUE(newDebugLines().empty());
}

// The group set-up also runs at 0x2E, where nothing answers, before the chip
// is found at 0x4E.
TEST_F(W83627Dio, ProbeAtTheSecondPair) {
    addChip(0x4E, 0x68);
    chip->setReg(7, 0x30, 0x01);
    chip->setReg(7, 0xF0, 0xF0);
    ASSERT_EQ(board.load(hwmKey(kNoChip) + wdtKey(kNoChip) + dioKey(1)), ZRV_STATUS_SUCCESS);
    const Lines expected = Trace(0x2E)
                               .enter()
                               .rd(0x20, 0xFF)
                               .select(7)
                               .rd(0x30, 0xFF)
                               .rd(0xF0, 0xFF)
                               .exit()
                               .at(0x4E)
                               .enter()
                               .rd(0x20, 0x68)
                               .select(7)
                               .rd(0x30, 0x01)
                               .rd(0xF0, 0xF0)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).data, le16(0x0404));
    board.clearTrace();
    EXPECT_EQ(board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(0xFF)).status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.trace(), Trace(0x4E).enter().select(7).wr(0xF1, 0x0F).exit().lines());
}

// Masks and shifts: lines keep their gaps, input bits are written 0, the
// direction byte is read once (a later change is not seen).
TEST(W83627DioPerGroup, MasksAndShiftsWithGaps) {
    struct Case {
        uint8_t id;
        uint32_t group;
        std::vector<Preset> presets;
        int device;
        uint8_t dataReg, direction;
        uint16_t config, set;
        uint8_t written;
        uint16_t inputs, outputs;  // inputs with every input pin high
    };
    const Case cases[] = {
        {0x88, 1, {{7, 0x30, 0x01}}, 7, 0xF1, 0x0F, 0x0404, 0x0005, 0x50, 0x0F, 0x05},
        {0x88, 1, {{7, 0x30, 0x01}}, 7, 0xF1, 0xFF, 0x0008, 0x00FF, 0x00, 0xFF, 0x00},
        {0x52, 1, {{7, 0x30, 0x01}}, 7, 0xF1, 0x00, 0x0800, 0x01A5, 0xA5, 0x00, 0xA5},
        {0x60, 6, {{7, 0x30, 0x08}, {kGlobal, 0x29, 0x08}}, 7, 0xF5, 0xA5, 0x0404, 0x00FF, 0x5A, 0xA5, 0x2D},
        {0xA2, 2, {{9, 0x30, 0x02}}, 9, 0xE5, 0x3C, 0x0404, 0x00FF, 0xC3, 0x0F, 0xC3},
    };
    for (const Case& c : cases) {
        auto presets = c.presets;
        presets.push_back({c.device, static_cast<uint8_t>(c.dataReg - 1), c.direction});
        OneChip b(0x2E, c.id, c.group, presets);
        const std::string at = fmt::format("ID {:02x} group {} direction {:02x}", c.id, c.group, c.direction);
        EXPECT_EQ(b.word(IOCTL_DIO_GET_CONFIG), c.config) << at;
        EXPECT_EQ(b.board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(c.set)).status, ZRV_STATUS_SUCCESS) << at;
        EXPECT_EQ(b.chip->reg(c.device, c.dataReg), c.written) << at;
        EXPECT_EQ(b.word(IOCTL_DIO_GET_INPUT), c.inputs) << at;
        EXPECT_EQ(b.word(IOCTL_DIO_GET_OUTPUT), c.outputs) << at;
        b.chip->setReg(c.device, static_cast<uint8_t>(c.dataReg - 1), static_cast<uint8_t>(~c.direction));
        EXPECT_EQ(b.word(IOCTL_DIO_GET_CONFIG), c.config) << at;
    }
}

// Groups the back-end cannot serve are not bound, with a debugger line when
// the chip answered; a "GPIOGroup" out of range touches no port.
TEST(W83627DioPerGroup, GroupsWithoutLinesAreNotBound) {
    struct Case {
        uint8_t id;
        uint32_t group;
        std::vector<Preset> presets;
        Lines debug;
        bool touchesPorts;
    };
    const auto noData = [](int group, uint8_t id) {
        return Lines{fmt::format(
            "DIO_W83627_SelectGroup group {} has no data register on ID {:02x}, digital I/O not bound", group,
            id)};
    };
    const auto failed = [](int group, uint8_t id) {
        return Lines{fmt::format(
            "DIO_W83627_SelectGroup group {} failed its set-up test (ID {:02x}), digital I/O not bound",
            group, id)};
    };
    const Case cases[] = {
        {0x88, 2, {{9, 0x30, 0xFF}}, noData(2, 0x88), true},
        {0xA2, 3, {{9, 0x30, 0xFF}}, noData(3, 0xA2), true},
        {0x88, 4, {{9, 0x30, 0xFF}}, noData(4, 0x88), true},
        {0x88, 5, {{9, 0x30, 0x08}, {kGlobal, 0x2D, 0xFF}}, noData(5, 0x88), true},
        {0x88, 1, {{7, 0x30, 0x00}}, failed(1, 0x88), true},
        {0xA2, 2, {{9, 0x30, 0x01}}, failed(2, 0xA2), true},
        {0x60, 6, {{7, 0x30, 0x08}, {kGlobal, 0x29, 0x00}}, failed(6, 0x60), true},
        {0x60, 6, {{7, 0x30, 0x00}, {kGlobal, 0x29, 0x08}}, failed(6, 0x60), true},
        {0x77, 1, {{7, 0x30, 0x01}}, {}, true},
        {0x88, 0, {{7, 0x30, 0x01}}, {}, false},
        {0x88, 7, {{7, 0x30, 0x01}}, {}, false},
    };
    for (const Case& c : cases) {
        OneChip b(0x2E, c.id, c.group, c.presets);
        const std::string at = fmt::format("ID {:02x} group {}", c.id, c.group);
        EXPECT_EQ(b.board.debugLines(), c.debug) << at;
        EXPECT_EQ(b.board.trace().empty(), !c.touchesPorts) << at;
        EXPECT_EQ(b.board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).status, ZRV_STATUS_NOT_SUPPORTED) << at;
    }
}

}  // namespace
