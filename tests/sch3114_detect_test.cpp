// SCH3114 probe and detect entries: which configuration pair is tried, the
// one probe shared by the three functions, the runtime block's base, and the
// emulator's protocol checker.
#include "tests/sch3114_board.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"

namespace {

using namespace sch3114test;

const std::string kAllThree = hwmKey(kSCH3114) + wdtKey(kSCH3114) + dioLinesKey(kSCH3114, {{1, 1}}, {{6, 1}});

// Whatever the pair and accepted ID: one probe bracket per pair tried (the
// runtime base read in the one that answered), then the monitor's and the
// watchdog's set-up writes in selection order; the digital I/O's detect
// touches no port.
TEST(SCH3114Detect, OneProbeAtEitherPairServesAllThreeFunctions) {
    struct Case {
        uint16_t port;
        uint8_t id;
    };
    for (const Case c : {Case{0x2E, 0x7D}, Case{0x4E, 0x7C}, Case{0x4E, 0x7F}, Case{0x2E, 0x7F}}) {
        Bench b(c.port, c.id);
        b.board.reg(kAllThree);
        ASSERT_EQ(b.board.load(), ZRV_STATUS_SUCCESS);
        RtTrace expected(0x2E);
        if (c.port == 0x4E) expected.missed().at(0x4E);
        expected.found(c.id).hwmInit().wdtInit();
        EXPECT_EQ(b.board.trace(), expected.lines()) << std::hex << c.port << " " << int(c.id);
        EXPECT_TRUE(b.board.debugLines().empty()) << "the probe logs nothing";
        EXPECT_EQ(b.status(IOCTL_HWM_GET_DATA, 36), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(b.status(IOCTL_WDT_GET_TIMEOUT, 4), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(b.status(IOCTL_DIO_GET_CONFIG, 2), ZRV_STATUS_SUCCESS);
    }
}

// No accepted ID at either pair: one bracket at each, then no function is
// bound and no later entry or request touches a port.
TEST(SCH3114Detect, NoChipIsProbedOnceForAllFunctions) {
    // Other chips answer with IDs that are not accepted.
    struct Case {
        uint16_t port;
        uint8_t id;
    };
    for (const Case c : {Case{0x4E, 0x7E}, Case{0x2E, 0x52}}) {
        Bench b(c.port, c.id);
        b.board.reg(kAllThree);
        ASSERT_EQ(b.board.load(), ZRV_STATUS_SUCCESS);
        const auto seenAt = [&](uint16_t port) { return port == c.port ? c.id : uint8_t{0xFF}; };
        EXPECT_EQ(b.board.trace(), RtTrace(0x2E).missed(seenAt(0x2E)).at(0x4E).missed(seenAt(0x4E)).lines());
        b.board.clearTrace();
        EXPECT_EQ(b.status(IOCTL_HWM_GET_DATA, 36), ZRV_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(b.status(IOCTL_WDT_START, 0), ZRV_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(b.status(IOCTL_DIO_GET_CONFIG, 2), ZRV_STATUS_NOT_SUPPORTED);
        EXPECT_TRUE(b.board.trace().empty());
        EXPECT_TRUE(b.board.debugLines().empty());
    }
}

// A runtime base below 0x100 (logical device 0x0A never set up) would put
// the watchdog, GPIO and monitor accesses on the timer, the keyboard
// controller and the real-time clock's 0x70/0x71; a base whose block wraps
// past 0xFFFF ends there too, and one whose block (up to the monitor pair at
// +0x71) covers a PCI configuration port 0xCF8-0xCFF reaches the chipset's.
// Such a chip counts as not found for every function, and no runtime port is
// touched.
TEST(SCH3114Detect, RuntimeBaseOutsideTheUsableRangeBindsNothing) {
    struct Case {
        uint16_t base;
        bool bound;
    };
    for (const Case c : {Case{0x0000, false}, Case{0x0070, false}, Case{0x00FF, false}, Case{0x0100, true},
                         Case{0xFF8E, true}, Case{0xFF8F, false}, Case{0x0C86, true}, Case{0x0C87, false},
                         Case{0x0CFF, false}, Case{0x0D00, true}}) {
        Bench b(0x2E, 0x7C, c.base);
        b.board.reg(kAllThree);
        ASSERT_EQ(b.board.load(), ZRV_STATUS_SUCCESS);
        const ZrvStatus expected = c.bound ? ZRV_STATUS_SUCCESS : ZRV_STATUS_NOT_SUPPORTED;
        EXPECT_EQ(b.status(IOCTL_WDT_GET_TIMEOUT, 4), expected) << std::hex << c.base;
        EXPECT_EQ(b.status(IOCTL_DIO_GET_CONFIG, 2), expected) << std::hex << c.base;
        if (c.bound) continue;
        EXPECT_EQ(b.board.trace(), RtTrace(0x2E, c.base).found(0x7C).lines()) << std::hex << c.base;
        EXPECT_EQ(
            b.board.debugLines(),
            Lines{fmt::format("Detect_SCH3114 RuntimeBase 0x{:04x} is not a runtime block, SCH3114 not bound",
                              c.base)});
        EXPECT_EQ(b.status(IOCTL_HWM_GET_DATA, 36), ZRV_STATUS_NOT_SUPPORTED);
    }
}

// The digital I/O serves only the line layout: under device type 1 the chip
// is found, yet no table is bound and its entry touches no port.
TEST(SCH3114Detect, DigitalIoOutsideTheLineLayoutIsNotBound) {
    Bench b(0x2E, 0x7D);
    b.board.reg(hwmKey(kNoChip) + wdtKey(kNoChip) + dioGroupKey(kSCH3114, 1, 6));
    ASSERT_EQ(b.board.load(), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(b.board.trace(), RtTrace(0x2E).found(0x7D).lines());
    EXPECT_EQ(b.status(IOCTL_DIO_GET_CONFIG, 2), ZRV_STATUS_NOT_SUPPORTED);
}

// The checker itself: rule breaches made straight on the bus are recorded,
// so an empty list at the end of the other tests means something.
TEST(SCH3114Emulator, ProtocolCheckerRecordsEachKindOfBreach) {
    sim::SCH3114 chip(0x2E, 0x7C);
    chip.setReg(0x0A, 0x60, 0x0A);
    chip.setReg(0x0A, 0x61, 0x80);
    EXPECT_EQ(chip.read(0x2F), 0xFF);  // closed: the data port does not answer
    chip.write(0x2E, 0xAA);            // exit while closed
    chip.write(0x2E, 0x55);
    EXPECT_TRUE(chip.configOpen());
    chip.write(0x2E, 0x20);
    EXPECT_EQ(chip.read(0x2F), 0x7C);
    chip.write(0x2E, 0x60);
    chip.read(0x2F);         // device register before any select in this bracket
    chip.write(0x2E, 0x55);  // entry key inside the bracket
    chip.write(0x2E, 0x07);
    chip.write(0x2F, 0x0A);
    chip.write(0x2E, 0x61);
    EXPECT_EQ(chip.read(0x2F), 0x80);  // selected: fine
    chip.write(0x0AF0, 0x30);
    chip.write(0x0AF0, 0x31);  // index twice
    chip.read(0x0AF1);
    chip.read(0x0AF1);  // data without a fresh index

    zrvtest::expectBreachesThenClose(
        chip, {"read while configuration mode is closed", "exit key",
               "register 0x60 read before a logical device was selected",
               "entry key 0x55 written inside an open bracket", "index port 0xaf0 written twice",
               "data port 0xaf1 accessed with no index write"});
}

TEST(SCH3114Emulator, BoardFilePresetsTheChipAndRefusesWhatItLacks) {
    const auto device =
        zrvtest::fromEntry<sim::SCH3114>(R"({"type": "sch3114", "config_port": "0x4e", "id": "0x7f",
        "config": {"0x0a": {"0x60": "0x02", "0x61": "0x80"}, "global": {"0x26": "0x4e"}},
        "runtime": {"0x50": "0xe3", "0x66": "0x05"}, "gpio_outputs": {"6": "0x0f"},
        "hwm": {"0x20": "0x8c"}, "fan_rpm": {"2": 3000}, "temperature": {"3": 52}, "pins": {"gp67": 0}})");
    auto& chip = *device;
    EXPECT_TRUE(chip.claims(0x4E));
    EXPECT_FALSE(chip.claims(0x2E));
    EXPECT_EQ(chip.id(), 0x7F);
    EXPECT_EQ(chip.reg(sim::SCH3114::kGlobal, 0x26), 0x4E);
    EXPECT_EQ(chip.runtimeBase(), 0x0280);
    EXPECT_TRUE(chip.claims(0x0280));
    EXPECT_TRUE(chip.claims(0x02FF));
    EXPECT_FALSE(chip.claims(0x0300));
    EXPECT_EQ(chip.runtime(0x50),
              0x73);  // latch 0x3 on outputs 0..3, inputs 4..7 float high but pin 7 is low
    EXPECT_EQ(chip.hwm(0x20), 0x8C);
    EXPECT_EQ(chip.hwm(0x2B) << 8 | chip.hwm(0x2A), 1800);  // 5,400,000 / 3000 rpm
    EXPECT_EQ(chip.hwm(0x27), 52);
    chip.advance(0, 5000);  // a watchdog the firmware left running
    EXPECT_EQ(chip.resets(), std::vector<uint64_t>{5000});

    for (const char* bad : {R"({"config_port": "0x3f0"})", R"({"id": "0x100"})", R"({"pins": {"gp70": 1}})",
                            R"({"gpio_outputs": {"0": 1}})", R"({"runtime": {"0x80": 1}})"})
        EXPECT_THROW(sim::SCH3114::fromBoard(nlohmann::json::parse(bad), "b"), sim::BoardError) << bad;
}

}  // namespace
