// F81865 probe and detect entries: which configuration pair is tried, what
// each detect entry does at load, and the emulator's protocol checker.
#include "tests/f81865_board.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"

namespace {

using namespace f81865test;
using zrvtest::BoardRow;
using zrvtest::kNotBound;
using zrvtest::kOk;
using zrvtest::with;

// The chip at either pair or neither: the probe, then the set-ups of the
// functions it serves in selection order, or nothing more when it is not
// there.
TEST(F81865Detect, ProbeThenTheSetUpsOfTheFunctionsItServes) {
    // The watchdog alone bound; the chip's ID by its pair.
    const auto watchdogOnly = [](const char* what, uint16_t port, const Trace& load, const Lines& debug) {
        return BoardRow{what,
                        zrvtest::chip("f81865", port == 0x2E ? 0x0704 : 0x1010, "", port),
                        hwmKey(kNoChip) + wdtKey(kF81865) + noDio(),
                        load.lines(),
                        debug,
                        {{IOCTL_WDT_GET_TIMEOUT, {}, 4, kOk}}};
    };
    Trace atFirst(0x2E), atSecond(0x2E), another(0x2E), allThree(0x2E, 0x0A00);
    watchdogSetUp(probed(atFirst, 0x0704));
    watchdogSetUp(probedAt4E(atSecond, 0x1010));  // every later bracket stays on the second pair
    probedAt4E(another, 0x0523);
    // Monitor base from device 4 with its start bits already set; the
    // digital I/O reads the output group's direction, then the input group's.
    monitorReads(probedAt4E(allThree, 0x1010), 0x0A00, 0x01).hrd(0x01, 0x03).exit();
    watchdogSetUp(allThree).enter().select(6).rd(0xE0, 0x0F).rd(0xE0, 0x0F).exit();
    const BoardRow rows[] = {
        watchdogOnly("at the first pair, probed there only", 0x2E, atFirst, detectLines(0x0704, 0, true)),
        watchdogOnly("at the second pair after the first", 0x4E, atSecond, detectLines(0xFFFF, 0x1010, true)),
        // Another chip answers at 0x4E with an ID that is not accepted: it is
        // logged at the second pair, then refused; later entries touch nothing.
        {"another chip, probed once",
         zrvtest::chip("f81865", 0x0523, "", 0x4E),
         hwmKey(kF81865) + wdtKey(kF81865) + dioGroupKey(kF81865, 0, 1),
         another.lines(),
         detectLines(0xFFFF, 0x0523, false),
         {{IOCTL_HWM_GET_DATA, {}, 36, kNotBound, {}, {}},
          {IOCTL_WDT_START, {}, 0, kNotBound, {}, {}},
          {IOCTL_DIO_GET_CONFIG, {}, 2, kNotBound, {}, {}}}},
        // Group 1: pins 0..3 outputs, 4..7 inputs.
        {"three functions share one probe",
         zrvtest::chip("f81865", 0x1010,
                       R"("config": {"4": {"0x60": "0x0a", "0x61": "0x00"}, "6": {"0xe0": "0x0f"}},
                          "hwm": {"0x01": "0x03"})",
                       0x4E),
         hwmKey(kF81865) + wdtKey(kF81865) + dioGroupKey(kF81865, 1, 1),
         allThree.lines(),
         with(with(detectLines(0xFFFF, 0x1010, true), monitorLines(0x0A00)),
              {"DIO_F81865_IOMask: index = e0, outIndex = e0 MaskOutp = f, MaskInp = f0",
               "DIO_F81865_IOMask: InBits=4, OutBits=4",
               "DIO_F81865_IOMask: ShiftInp=4, ShiftOutp=0, InMask=f0, OutMask=f"}),
         {{IOCTL_DIO_GET_CONFIG, {}, 2, kOk, {4, 4}}}},
    };
    for (const BoardRow& row : rows) zrvtest::run(row);
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

    zrvtest::expectBreachesThenClose(chip, {"read while configuration mode is closed", "exit key",
                                            "register 0xf5 written before a logical device was selected",
                                            "opened again inside an open bracket"});
}

TEST(F81865Emulator, BoardFileSetsPairIdPresetsAndRefusesOtherPairs) {
    const auto device =
        zrvtest::fromEntry<sim::F81865>(R"({"type": "f81865", "config_port": "0x4e", "id": "0x0704",
        "config": {"global": {"0x2d": "0x11"}, "4": {"0x60": "0x02", "0x61": "0x95"}},
        "hwm": {"0x20": "0x8c"}, "fan_rpm": {"2": 3000}, "temperature": {"3": 52}, "pins": {"gpio63": 0}})");
    auto& chip = *device;
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
