// F81865 probe and detect entries: which configuration pair is tried, what
// each detect entry does at load, and the emulator's protocol checker.
#include "tests/f81865_board.h"

namespace {

using namespace f81865test;

class F81865Detect : public ChipBoard {};

TEST_F(F81865Detect, ChipAtFirstPairIsProbedThereOnly) {
    addChip(0x2E, 0x0704);
    board.reg(hwmKey(kNoChip) + wdtKey(kF81865) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E)
                               .enter()
                               .rd(0x20, 0x07)
                               .rd(0x21, 0x04)
                               .exit()
                               // watchdog set-up
                               .enter()
                               .select(7)
                               .wr(0xF5, 0x40)
                               .wr(0xF6, 0x00)
                               .wr(0xFA, 0x01)
                               .wr(0x30, 0x01)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(newDebugLines(), (Lines{"Detect_F81865+", "Detect_F81865 Detecting master device ID 0704",
                                      "Detect_F81865 F81865 detected", "Detect_F81865-"}));
    EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4).status, ZRV_STATUS_SUCCESS);
}

TEST_F(F81865Detect, ChipAtSecondPairIsFoundAfterTheFirstFails) {
    addChip(0x4E, 0x1010);
    board.reg(hwmKey(kNoChip) + wdtKey(kF81865) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E)
                               .enter()
                               .rd(0x20, 0xFF)
                               .rd(0x21, 0xFF)
                               .exit()
                               .at(0x4E)
                               .enter()
                               .rd(0x20, 0x10)
                               .rd(0x21, 0x10)
                               .exit()
                               // every later bracket stays on the second pair
                               .enter()
                               .select(7)
                               .wr(0xF5, 0x40)
                               .wr(0xF6, 0x00)
                               .wr(0xFA, 0x01)
                               .wr(0x30, 0x01)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(newDebugLines(), (Lines{"Detect_F81865+", "Detect_F81865 Detecting master device ID ffff",
                                      "Detect_F81865 Detecting slave device ID 1010",
                                      "Detect_F81865 F81865 detected", "Detect_F81865-"}));
    EXPECT_EQ(chip->reg(7, 0x30), 0x01);
}

TEST_F(F81865Detect, NoChipIsProbedOnceAndLaterEntriesTouchNothing) {
    // Another chip answers at 0x4E with an ID that is not accepted: it is
    // logged at the second pair, then refused.
    addChip(0x4E, 0x0523);
    board.reg(hwmKey(kF81865) + wdtKey(kF81865) + dioGroupKey(kF81865, 0, 1));
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E)
                               .enter()
                               .rd(0x20, 0xFF)
                               .rd(0x21, 0xFF)
                               .exit()
                               .at(0x4E)
                               .enter()
                               .rd(0x20, 0x05)
                               .rd(0x21, 0x23)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(newDebugLines(),
              (Lines{"Detect_F81865+", "Detect_F81865 Detecting master device ID ffff",
                     "Detect_F81865 Detecting slave device ID 0523", "Detect_F81865- (NotFound)"}));
    clearSeen();
    EXPECT_EQ(board.ioctl(IOCTL_HWM_GET_DATA, {}, 36).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_START).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(F81865Detect, ThreeFunctionsShareOneProbeAndRunTheirSetUpsInSelectionOrder) {
    addChip(0x4E, 0x1010);
    chip->setReg(4, 0x60, 0x0A);
    chip->setReg(4, 0x61, 0x00);
    chip->setHwm(0x01, 0x03);
    chip->setReg(6, 0xE0, 0x0F);  // group 1: pins 0..3 outputs, 4..7 inputs
    board.reg(hwmKey(kF81865) + wdtKey(kF81865) + dioGroupKey(kF81865, 1, 1));
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);

    const Lines expected = Trace(0x2E, 0x0A00)
                               .enter()
                               .rd(0x20, 0xFF)
                               .rd(0x21, 0xFF)
                               .exit()
                               .at(0x4E)
                               .enter()
                               .rd(0x20, 0x10)
                               .rd(0x21, 0x10)
                               .exit()
                               // hardware monitor: base from device 4, start bits already set
                               .enter()
                               .select(4)
                               .rd(0x60, 0x0A)
                               .rd(0x61, 0x00)
                               .rd(0x30, 0x01)
                               .hrd(0x01, 0x03)
                               .exit()
                               // watchdog
                               .enter()
                               .select(7)
                               .wr(0xF5, 0x40)
                               .wr(0xF6, 0x00)
                               .wr(0xFA, 0x01)
                               .wr(0x30, 0x01)
                               .exit()
                               // digital I/O: output group's direction, then the input group's
                               .enter()
                               .select(6)
                               .rd(0xE0, 0x0F)
                               .rd(0xE0, 0x0F)
                               .exit();
    EXPECT_EQ(board.trace(), expected);
    EXPECT_EQ(newDebugLines(),
              (Lines{"Detect_F81865+", "Detect_F81865 Detecting master device ID ffff",
                     "Detect_F81865 Detecting slave device ID 1010", "Detect_F81865 F81865 detected",
                     "Detect_F81865-", "HWM_F81865_SetDefault+", "HWM_F81865 BaseAddr = 0x0a00",
                     "HWM_F81865_SetDefault-",
                     "DIO_F81865_IOMask: index = e0, outIndex = e0 MaskOutp = f, MaskInp = f0",
                     "DIO_F81865_IOMask: InBits=4, OutBits=4",
                     "DIO_F81865_IOMask: ShiftInp=4, ShiftOutp=0, InMask=f0, OutMask=f"}));
    auto config = board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2);
    EXPECT_EQ(config.data, (std::vector<uint8_t>{4, 4}));
}

// The checker itself: rule breaches made straight on the bus are recorded,
// so an empty list at the end of the other tests means something.
TEST(F81865Emulator, ProtocolCheckerRecordsEachKindOfBreach) {
    sim::F81865 chip(0x2E, 0x1010);
    EXPECT_EQ(chip.read(0x2F), 0xFF);  // closed: the data port does not answer
    chip.write(0x2E, 0xAA);            // exit while closed
    chip.write(0x2E, 0x87);
    chip.write(0x2E, 0x55);  // a wrong second key leaves it closed
    chip.write(0x2E, 0x87);
    EXPECT_FALSE(chip.configOpen());
    chip.write(0x2E, 0x87);
    EXPECT_TRUE(chip.configOpen());
    chip.write(0x2E, 0x20);
    EXPECT_EQ(chip.read(0x2F), 0x10);
    chip.write(0x2E, 0xF5);
    chip.write(0x2F, 0x01);  // device register before any select in this bracket
    chip.write(0x2E, 0x87);
    chip.write(0x2E, 0x87);  // opened again inside the bracket
    chip.write(0x2E, 0x07);
    chip.write(0x2F, 0x07);
    chip.write(0x2E, 0xF6);
    chip.write(0x2F, 0x09);  // selected: fine
    EXPECT_EQ(chip.reg(7, 0xF6), 0x09);

    const auto v = chip.violations();
    ASSERT_EQ(v.size(), 5u);
    EXPECT_NE(v[0].find("read while configuration mode is closed"), std::string::npos) << v[0];
    EXPECT_NE(v[1].find("exit key"), std::string::npos) << v[1];
    EXPECT_NE(v[2].find("register 0xf5 written before a logical device was selected"), std::string::npos)
        << v[2];
    EXPECT_NE(v[3].find("opened again inside an open bracket"), std::string::npos) << v[3];
    EXPECT_EQ(v[4], "configuration mode left open");
    chip.write(0x2E, 0xAA);
    EXPECT_EQ(chip.violations().size(), 4u);
}

TEST(F81865Emulator, BoardFileSetsPairIdPresetsAndRefusesOtherPairs) {
    const auto entry = nlohmann::json::parse(R"({"type": "f81865", "config_port": "0x4e", "id": "0x0704",
        "config": {"global": {"0x2d": "0x11"}, "4": {"0x60": "0x02", "0x61": "0x95"}},
        "hwm": {"0x20": "0x8c"}, "fan_rpm": {"2": 3000}, "temperature": {"3": 52}, "pins": {"gpio63": 0}})");
    auto device = sim::F81865::fromBoard(entry, "b.json: hardware[0]");
    auto& chip = static_cast<sim::F81865&>(*device);
    EXPECT_TRUE(chip.claims(0x4E));
    EXPECT_FALSE(chip.claims(0x2E));
    EXPECT_EQ(chip.chipId(), 0x0704);
    EXPECT_EQ(chip.reg(sim::F81865::kGlobal, 0x2D), 0x11);
    EXPECT_EQ(chip.monitorBase(), 0x0290);  // low three bits ignored
    EXPECT_TRUE(chip.claims(0x295));
    EXPECT_TRUE(chip.claims(0x296));
    EXPECT_EQ(chip.hwm(0x20), 0x8C);
    EXPECT_EQ(chip.hwm(0xB0) << 8 | chip.hwm(0xB1), 500);  // 1,500,000 / 3000 rpm
    EXPECT_EQ(chip.hwm(0x7E), 52);
    EXPECT_EQ(chip.pin("gpio63"), false);
    EXPECT_EQ(chip.pin("gpio73"), std::nullopt) << "ID 0x0704 has GPIO groups 0 to 6";

    EXPECT_THROW(sim::F81865::fromBoard(nlohmann::json::parse(R"({"config_port": "0x3f0"})"), "b"),
                 sim::BoardError);
    EXPECT_THROW(sim::F81865::fromBoard(nlohmann::json::parse(R"({"pins": {"gpio99": 1}})"), "b"),
                 sim::BoardError);
}

}  // namespace
