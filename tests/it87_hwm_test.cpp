// IT87xx hardware monitor and fan control through the request interface:
// detection and set-up per chip, the refused bases, readings with their
// divisors and zero rules per chip and version letter, and every fan-control
// mode with the 'K' chips' slope table.
#include "tests/it87_board.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"

namespace {

using zrvtest::fanControl;
using zrvtest::hwmData;
using namespace it87test;

const std::string kHwmOnly = hwmKey(kIt87) + wdtKey(kNoChip) + noDio();
constexpr uint16_t kBase = 0x0290;

// Fan-control records with the unused byte set: it must change nothing.
std::vector<uint8_t> fanCtrl(uint8_t fan, uint8_t mode, uint8_t data, uint8_t limit1 = 0, uint8_t limit2 = 0,
                             uint8_t startDuty = 0, uint8_t slope = 0) {
    return fanControl(fan, mode, data, limit1, limit2, startDuty, slope, 0xEE);
}

class It87Hwm : public ChipBoard {
protected:
    // The chip with device 4 at `base`, active or not, and the driver loaded.
    void start(uint16_t id, uint8_t version, uint16_t base = kBase, uint8_t active = 0x01) {
        addChip(0x2E, id);
        chip->setReg(4, 0x60, static_cast<uint8_t>(base >> 8));
        chip->setReg(4, 0x61, static_cast<uint8_t>(base));
        chip->setReg(4, 0x30, active);
        chip->setReg(sim::It87::kGlobal, 0x22, version);
        ASSERT_EQ(board.load(kHwmOnly), ZRV_STATUS_SUCCESS);
    }
    HwmData getData() { return hwmData(board); }
    ZrvStatus fan(const std::vector<uint8_t>& record) {
        return board.ioctl(IOCTL_HWM_FAN_CONTROL, record, 8).status;
    }
    void setCount(int fanIndex, uint16_t count) {
        static const uint8_t high[] = {0x18, 0x19, 0x1A, 0x81, 0x83}, low[] = {0x0D, 0x0E, 0x0F, 0x80, 0x82};
        chip->setHwm(high[fanIndex], static_cast<uint8_t>(count >> 8));
        chip->setHwm(low[fanIndex], static_cast<uint8_t>(count));
    }
};

// Detection: version register only on the IT8712F, base low byte first,
// divisors from 0x0B only on the IT8712F, then 0x0C written once.
TEST_F(It87Hwm, DetectionOnTheIt8712fReadsVersionAndDivisors) {
    start(0x8712, 0x04);
    Trace t = it87Trace(0x2E, kBase);
    t.enter()
        .rd(0x20, 0x87)
        .rd(0x21, 0x12)
        .rd(0x22, 0x04)
        .select(4)
        .rd(0x61, 0x90)
        .rd(0x60, 0x02)
        .rd(0x30, 0x01);
    t.exit().hrd(0x0B, 0x09).hwr(0x0C, 0x37);
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_TRUE(newDebugLines().empty());
    EXPECT_EQ(chip->hwm(0x0C), 0x37);
}

TEST_F(It87Hwm, DetectionOnTheOthersTakesFixedVersionsAndDivisors) {
    start(0x8783, 0x04);
    Trace t = it87Trace(0x2E, kBase);
    t.enter().rd(0x20, 0x87).rd(0x21, 0x83).select(4).rd(0x61, 0x90).rd(0x60, 0x02).rd(0x30, 0x01).exit();
    t.hwr(0x0C, 0x37);
    EXPECT_EQ(board.trace(), t.lines());
    clearSeen();
    EXPECT_EQ(fan(fanCtrl(3, 1, 10)), ZRV_STATUS_UNSUCCESSFUL) << "an 'H' chip has three fans";
    EXPECT_TRUE(board.trace().empty());
}

// Not bound, and no monitor port touched: a device 4 that is not active, or
// a base below 0x100, each with a line naming it.
TEST(It87HwmBase, InactiveDeviceOrLowBaseLeavesTheMonitorUnbound) {
    struct Case {
        uint16_t base;
        uint8_t active;
        Lines lines;
    };
    const Case cases[] = {
        {0x0290, 0x00, {"HWM_IT87 logical device 4 is not active (0x00), hardware monitor not bound"}},
        {0x0000, 0x01, {"HWM_IT87 BaseAddr 0x0000 is not a monitor base, hardware monitor not bound"}},
        {0x00F0, 0x01, {"HWM_IT87 BaseAddr 0x00f0 is not a monitor base, hardware monitor not bound"}},
    };
    for (const Case& c : cases) {
        zrvtest::OneDevice<sim::It87> row(0x2E, 0x8718);
        auto& [b, it87] = row;
        it87.setReg(4, 0x60, static_cast<uint8_t>(c.base >> 8));
        it87.setReg(4, 0x61, static_cast<uint8_t>(c.base));
        it87.setReg(4, 0x30, c.active);
        ASSERT_EQ(b.load(kHwmOnly), ZRV_STATUS_SUCCESS);
        Trace t = it87Trace(0x2E);
        t.enter().rd(0x20, 0x87).rd(0x21, 0x18).select(4);
        t.rd(0x61, static_cast<uint8_t>(c.base))
            .rd(0x60, static_cast<uint8_t>(c.base >> 8))
            .rd(0x30, c.active);
        EXPECT_EQ(b.trace(), t.exit().lines()) << c.base;
        EXPECT_EQ(b.debugLines(), c.lines);
        EXPECT_EQ(b.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_NOT_SUPPORTED);
    }
}

// Readings per chip and version letter: fan counts and the speeds they give.
struct ReadingCase {
    const char* name;
    uint16_t id;
    uint8_t version;
    uint8_t divisors;  // register 0x0B
    uint16_t counts[5];
    uint32_t rpm[5];
    int fansRead;
};
class It87Readings : public It87Hwm, public ::testing::WithParamInterface<ReadingCase> {};

TEST_P(It87Readings, FanSpeedsVoltagesAndTemperatures) {
    const ReadingCase& c = GetParam();
    addChip(0x2E, c.id);
    chip->setHwm(0x0B, c.divisors);
    chip->setReg(4, 0x60, 0x02);
    chip->setReg(4, 0x61, 0x90);
    chip->setReg(4, 0x30, 0x01);
    chip->setReg(sim::It87::kGlobal, 0x22, c.version);
    ASSERT_EQ(board.load(kHwmOnly), ZRV_STATUS_SUCCESS);
    for (int i = 0; i < 5; ++i) setCount(i, c.counts[i]);
    for (uint8_t r = 0x20; r <= 0x2B; ++r) chip->setHwm(r, static_cast<uint8_t>(r + 0x40));
    clearSeen();

    zrvtest::expectReadings(getData(), std::vector<uint32_t>(c.rpm, c.rpm + 5),
                            {0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0}, {0x69, 0x6A, 0x6B});

    Trace t(0x2E, kBase);
    for (uint8_t reg = 0x20; reg <= 0x2B; ++reg) t.hrd(reg, static_cast<uint8_t>(reg + 0x40));
    const uint8_t high[] = {0x18, 0x19, 0x1A, 0x81, 0x83}, low[] = {0x0D, 0x0E, 0x0F, 0x80, 0x82};
    for (int i = 0; i < c.fansRead; ++i)
        t.hrd(high[i], static_cast<uint8_t>(c.counts[i] >> 8)).hrd(low[i], static_cast<uint8_t>(c.counts[i]));
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_TRUE(newDebugLines().empty());
}

// 1,350,000 / (count x divisor); counts 0 and 65535 read 0, and 255 on 'D' chips.
const ReadingCase kReadings[] = {
    {"IT8718F_K", 0x8718, 0x00, 0x3F, {255, 65535, 0, 375, 675}, {2647, 0, 0, 1800, 1000}, 5},
    {"IT8783F_H", 0x8783, 0x00, 0x3F, {375, 255, 1, 375, 375}, {1800, 2647, 675000, 0, 0}, 3},
    {"IT8712F_D", 0x8712, 0x04, 0x49, {255, 375, 375, 375, 375}, {0, 1800, 450, 0, 0}, 3},
    {"IT8712F_G", 0x8712, 0x25, 0x09, {255, 65535, 375, 375, 375}, {2647, 0, 1800, 0, 0}, 3},
    {"IT8712F_I", 0x8712, 0x07, 0x52, {375, 255, 375, 375, 0}, {900, 1323, 450, 1800, 0}, 5},
    {"IT8712F_Z", 0x8712, 0x19, 0x12, {375, 255, 375, 375, 65535}, {900, 1323, 1800, 1800, 0}, 5},
};
INSTANTIATE_TEST_SUITE_P(Chips, It87Readings, ::testing::ValuesIn(kReadings),
                         [](const auto& p) { return std::string(p.param.name); });

// Fan control: what each mode writes, after the read of register 0x13
// that every accepted index makes. Registers 0x13/0x14 start at 0x07/0x02.
struct FanCase {
    const char* name;
    uint16_t id;
    uint8_t version;
    std::vector<uint8_t> record;
    int32_t result;                               // 0 or -1
    std::vector<std::pair<uint8_t, int>> writes;  // register, value; -1 marks a read
};
class It87Fan : public It87Hwm, public ::testing::WithParamInterface<FanCase> {};

TEST_P(It87Fan, WritesOfEachMode) {
    const FanCase& c = GetParam();
    start(c.id, c.version);
    chip->setHwm(0x13, 0x07);
    chip->setHwm(0x14, 0x02);
    clearSeen();
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, c.record, 8);
    EXPECT_EQ(r.status, c.result == 0 ? ZRV_STATUS_SUCCESS : ZRV_STATUS_UNSUCCESSFUL);
    EXPECT_EQ(r.data, c.result == 0 ? c.record : std::vector<uint8_t>{});
    Trace t(0x2E, kBase);
    uint8_t r13 = 0x07, r14 = 0x02;
    for (auto [reg, value] : c.writes) {
        if (value >= 0) {
            t.hwr(reg, static_cast<uint8_t>(value));
            if (reg == 0x13) r13 = static_cast<uint8_t>(value);
            if (reg == 0x14) r14 = static_cast<uint8_t>(value);
        } else {
            t.hrd(reg, reg == 0x13 ? 0x07 : 0x02);
        }
    }
    EXPECT_EQ(board.trace(), t.lines());
    EXPECT_EQ(chip->hwm(0x13), r13);
    EXPECT_EQ(chip->hwm(0x14), r14);
}

constexpr int kRd = -1;
// clang-format off
// name, chip, version, record, result, the accesses after the record
const FanCase kFans[] = {
    {"OnFan0", 0x8718, 0, fanCtrl(0, 0, 1), 0, {{0x13, kRd}, {0x13, 0x76}, {0x14, kRd}, {0x14, 0x03}}},
    {"OffFan1", 0x8718, 0, fanCtrl(1, 0, 0), 0, {{0x13, kRd}, {0x13, 0x75}, {0x14, kRd}, {0x14, 0x00}}},
    {"OnFan3", 0x8718, 0, fanCtrl(3, 0, 1), 0, {{0x13, kRd}, {0x88, 0x7F}}},
    {"OffFan4", 0x8718, 0, fanCtrl(4, 0, 0), 0, {{0x13, kRd}, {0x89, 0x00}}},
    {"DutyFan1", 0x8718, 0, fanCtrl(1, 1, 0x50), 0, {{0x13, kRd}, {0x13, 0x77}, {0x16, 0x50}}},
    {"DutyFan4", 0x8718, 0, fanCtrl(4, 1, 0x7F), 0, {{0x13, kRd}, {0x89, 0x7F}}},
    {"AutoFan0K", 0x8718, 0, fanCtrl(0, 2, 0, 0x32, 0x46, 0x20, 4), 0,
     {{0x13, kRd}, {0x13, 0x77}, {0x15, 0x80}, {0x60, 0x32},
      {0x61, 0x46}, {0x62, 0x3C}, {0x63, 0xA0}, {0x64, 0x00}}},
    {"AutoFan2KSlope0", 0x8718, 0, fanCtrl(2, 2, 0, 0x28, 0x50, 0xFF, 0x08), 0,
     {{0x13, kRd}, {0x13, 0x77}, {0x17, 0x82}, {0x70, 0x28},
      {0x71, 0x50}, {0x72, 0x3C}, {0x74, 0x00}, {0x73, 0x7F}}},
    {"AutoFan4I", 0x8712, 0x07, fanCtrl(4, 2, 0, 0x30, 0x40, 0x90, 0x0D), 0,
     {{0x13, kRd}, {0x89, 0x80}, {0x98, 0x30}, {0x99, 0x40}, {0x9A, 0x3C}, {0x9B, 0x10}, {0x9C, 0x05}}},
    {"AutoFan1H", 0x8783, 0, fanCtrl(1, 2, 0, 0x30, 0x40, 0x85, 0x04), 0,
     {{0x13, kRd}, {0x13, 0x77}, {0x16, 0x81}, {0x68, 0x30},
      {0x69, 0x40}, {0x6A, 0x3C}, {0x6B, 0x05}, {0x6C, 0x04}}},
    {"Mode3ReadsOnly", 0x8718, 0, fanCtrl(0, 3, 1), -1, {{0x13, kRd}}},
    {"Fan5Refused", 0x8718, 0, fanCtrl(5, 1, 1), -1, {}},
    {"Fan3RefusedOnD", 0x8712, 0x04, fanCtrl(3, 1, 1), -1, {}},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Modes, It87Fan, ::testing::ValuesIn(kFans),
                         [](const auto& p) { return std::string(p.param.name); });

// The 'K' chips' slope table on fan 1: Auto 4 (0x6B) and Auto 5 (0x6C) by
// slope code; only the low three bits of Slope count.
TEST_F(It87Hwm, SlopeTableOfTheKChips) {
    start(0x8718, 0x00);
    const struct {
        uint8_t slope;
        uint8_t auto4;
        uint8_t auto5;
    } rows[] = {{0x00, 0x25, 0x00}, {0x01, 0x25, 0x08}, {0x02, 0x25, 0x10}, {0x03, 0x25, 0x20},
                {0x04, 0xA5, 0x00}, {0x05, 0xA5, 0x3F}, {0x06, 0xA5, 0x3F}, {0xFF, 0xA5, 0x3F}};
    for (auto row : rows) {
        clearSeen();
        ASSERT_EQ(fan(fanCtrl(1, 2, 0, 0x30, 0x50, 0x25, row.slope)), ZRV_STATUS_SUCCESS);
        const auto trace = board.trace();
        ASSERT_EQ(trace.size(), 16u);
        const Lines tail(trace.end() - 4, trace.end());
        Trace t(0x2E, kBase);
        if ((row.slope & 7) == 0)
            t.hwr(0x6C, row.auto5).hwr(0x6B, row.auto4);
        else
            t.hwr(0x6B, row.auto4).hwr(0x6C, row.auto5);
        EXPECT_EQ(tail, t.lines()) << int(row.slope);
    }
}

}  // namespace
