// The emulated IT87xx itself: its protocol checker records each kind of
// breach (so an empty list at the end of the other tests means something),
// and the board file sets it up.
#include "tests/it87_board.h"

namespace {

void keys(sim::It87& chip, uint16_t port, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) chip.write(port, b);
}
void wr(sim::It87& chip, uint8_t reg, uint8_t value) {
    chip.write(0x2E, reg);
    chip.write(0x2F, value);
}

TEST(It87Emulator, ProtocolCheckerRecordsEachKindOfBreach) {
    sim::It87 chip(0x2E, 0x8712);                // version 7: 8-bit count
    EXPECT_EQ(chip.read(0x2F), 0xFF);            // closed: the data port does not answer
    keys(chip, 0x2E, {0x87, 0x01, 0x55, 0xAA});  // the 0x4E pair's key
    EXPECT_FALSE(chip.configOpen());
    keys(chip, 0x2E, {0x87, 0x87, 0x01, 0x55, 0x55});  // a key byte out of turn restarts the sequence
    EXPECT_TRUE(chip.configOpen());
    chip.write(0x2E, 0x21);
    EXPECT_EQ(chip.read(0x2F), 0x12);
    wr(chip, 0x72, 0x40);                        // device register before any select
    keys(chip, 0x2E, {0x87, 0x01, 0x55, 0x55});  // opened again inside the bracket
    wr(chip, 0x07, 0x07);
    wr(chip, 0x73, 0x09);  // selected: fine
    wr(chip, 0x74, 0x01);  // no high byte on this chip
    wr(chip, 0x02, 0x01);  // bit 1 clear: stays open
    EXPECT_EQ(chip.reg(7, 0x73), 0x09);
    EXPECT_EQ(chip.reg(7, 0x74), 0x00);

    const auto v = chip.violations();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_NE(v[0].find("read while configuration mode is closed"), std::string::npos) << v[0];
    EXPECT_NE(v[1].find("other pair's"), std::string::npos) << v[1];
    EXPECT_NE(v[2].find("register 0x72 written before a logical device was selected"), std::string::npos)
        << v[2];
    EXPECT_NE(v[3].find("again inside an open bracket"), std::string::npos) << v[3];
    EXPECT_NE(v[4].find("8-bit count"), std::string::npos) << v[4];
    EXPECT_EQ(v[5], "configuration mode left open");
    wr(chip, 0x02, 0x02);
    EXPECT_FALSE(chip.configOpen());
    EXPECT_EQ(chip.violations().size(), 5u);
}

TEST(It87Emulator, BoardFileSetsPairIdPresetsAndRefusesBadEntries) {
    const auto entry = nlohmann::json::parse(R"({"type": "it87", "config_port": "0x4e", "id": "0x8712",
        "config": {"global": {"0x22": "0x04"}, "4": {"0x60": "0x0a", "0x61": "0x30", "0x30": "0x01"},
                   "7": {"0x72": "0xc0"}},
        "hwm": {"0x0b": "0x49", "0x20": "0x8c"}, "fan_rpm": {"3": 450, "5": 1000}, "temperature": {"3": 52}})");
    auto device = sim::It87::fromBoard(entry, "b.json: hardware[0]");
    auto& chip = static_cast<sim::It87&>(*device);
    EXPECT_TRUE(chip.claims(0x4E));
    EXPECT_FALSE(chip.claims(0x2E));
    EXPECT_EQ(chip.chipId(), 0x8712);
    EXPECT_EQ(chip.reg(sim::It87::kGlobal, 0x22), 0x04);
    EXPECT_EQ(chip.reg(7, 0x72), 0xC0);
    EXPECT_EQ(chip.monitorBase(), 0x0A30);
    EXPECT_TRUE(chip.claims(0x0A35));
    EXPECT_TRUE(chip.claims(0x0A36));
    EXPECT_EQ(chip.hwm(0x20), 0x8C);
    EXPECT_EQ(chip.hwm(0x1A) << 8 | chip.hwm(0x0F), 375);  // 1,350,000 / (450 rpm x 8)
    EXPECT_EQ(chip.hwm(0x83) << 8 | chip.hwm(0x82), 675);  // 1,350,000 / (1000 rpm x 2)
    EXPECT_EQ(chip.hwm(0x2B), 52);

    for (const char* bad : {R"({"config_port": "0x3f0"})", R"({"fan_rpm": {"6": 100}})", R"({"hwm": [1]})"})
        EXPECT_THROW(sim::It87::fromBoard(nlohmann::json::parse(bad), "b"), sim::BoardError) << bad;
}

}  // namespace
