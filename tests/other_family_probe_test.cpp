// A driver probes for the chip family the registry names at every pair, also
// where a chip of another family sits: that chip stays closed, its checker
// takes the probe for what it is, and the function is not found. A chip's
// own sequence without its entry is still a breach.
#include <sstream>

#include "sim/board.h"
#include "sim/devices/f81216.h"
#include "sim/devices/f81865.h"
#include "sim/devices/it87.h"
#include "sim/devices/sch3114.h"
#include "sim/devices/w83627.h"
#include "tests/support/answers.h"
#include "tests/support/boards.h"
#include "tests/support/sio.h"

namespace {

using namespace siotest;

TEST(OtherFamilyProbe, ChipOfAnotherFamilyIsNotFoundAndBreaksNoRule) {
    const std::pair<const char*, std::string> families[] = {
        // names it for each function it has
        {"it87", hwmKey(ZRV_CHIP_IT87XX) + wdtKey(ZRV_CHIP_IT87XX) + noDio()},
        {"w83627", hwmKey(ZRV_CHIP_W83627) + wdtKey(ZRV_CHIP_W83627) + dioGroupKey(ZRV_CHIP_W83627, 6, 6)},
        {"f81216", hwmKey(kNoChip) + wdtKey(ZRV_CHIP_F81216) + noDio()},
        {"sch3114", hwmKey(ZRV_CHIP_SCH3114) + wdtKey(ZRV_CHIP_SCH3114) +
                        dioLinesKey(ZRV_CHIP_SCH3114, {{1, 0x01}}, {{1, 0x02}})},
        {"f81865", hwmKey(ZRV_CHIP_F81865) + wdtKey(ZRV_CHIP_F81865) + dioGroupKey(ZRV_CHIP_F81865, 1, 8)},
    };
    const char* const chips[] = {
        R"("type": "w83627", "id": "0x88")",        R"("type": "f81865", "id": "0x1010")",
        R"("type": "it87", "id": "0x8718")",        R"("type": "sch3114", "id": "0x7c")",
        R"("type": "f81216", "entry_key": "0x77")", R"("type": "f81216", "entry_key": "0xa0")",
        R"("type": "f81216", "entry_key": "0x87")", R"("type": "f81216", "entry_key": "0x67")"};
    for (const char* port : {"0x2e", "0x4e"})
        for (const char* chip : chips)
            for (const auto& [family, registry] : families) {
                if (std::string(chip).find(family) != std::string::npos) continue;
                SCOPED_TRACE(fmt::format("{} at {}, {} probed", chip, port, family));
                zrvtest::SimBoard board;
                board.reg(registry);
                sim::loadBoardText(
                    board.machine(),
                    fmt::format(R"({{"hardware": [{{{}, "config_port": "{}"}}]}})", chip, port), "b.json");
                ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
                EXPECT_EQ(board.violations(), std::vector<std::string>{});
                for (const sim::IoResult& answer : zrvtest::probeFunctions(board))
                    EXPECT_EQ(answer.status, ZRV_STATUS_NOT_SUPPORTED);
                board.unload();
            }
}

// Accesses at the chip's pair: "i87" an index write, "w05" a data write, "r"
// a data read.
void drive(sim::SuperIo& chip, const std::string& accesses) {
    const uint16_t index = chip.claims(0x2E) ? 0x2E : 0x4E, data = static_cast<uint16_t>(index + 1);
    std::istringstream in(accesses);
    for (std::string a; in >> a;) {
        const auto value = static_cast<uint8_t>(a.size() > 1 ? std::stoul(a.substr(1), nullptr, 16) : 0);
        a[0] == 'r' ? static_cast<void>(chip.read(data)) : chip.write(a[0] == 'i' ? index : data, value);
    }
}

TEST(OtherFamilyProbe, OwnSequenceWithoutEntryIsStillABreach) {
    struct Row {
        std::unique_ptr<sim::SuperIo> chip;
        std::string accesses;
        std::vector<std::string> breaches;
    };
    const auto w83627 = [](uint16_t port) { return std::make_unique<sim::W83627>(port, 0x88); };
    const auto it87 = [](uint16_t port) { return std::make_unique<sim::It87>(port, 0x8718); };
    const auto sch3114 = [](uint16_t port) { return std::make_unique<sim::SCH3114>(port, 0x7C); };
    const std::string it87Probe = "i87 i01 i55 i55 i20 r i21 r i02 w02 ",
                      it87Probe4E = "i87 i01 i55 iaa i20 r i02 w02 ";
    Row rows[] = {
        {w83627(0x2E), "i20 r iaa", {"read while configuration mode is closed", "exit key"}},
        {w83627(0x4E), it87Probe4E, {}},
        {w83627(0x4E), it87Probe4E + "i20 r iaa", {"read while", "exit key"}},
        {it87(0x2E), "i87 i01 i55 i20 r", {"read while configuration mode is closed"}},
        {it87(0x2E), "i87 i01 i55 iaa i20 r", {"other pair's", "read while"}},
        {sch3114(0x2E), it87Probe, {}},  // opened by the 0x55 in the key, and left so
        {sch3114(0x2E), it87Probe + "i55 i60 r", {"register 0x60 read before a logical device", "left open"}},
        {sch3114(0x4E), it87Probe4E, {}},
        {std::make_unique<sim::F81216>(0x4E, 0x0216, 0x87),
         "i87 i67 i87 if1 w05 iaa",
         {"written (0x05) while", "exit key"}},
        {std::make_unique<sim::F81865>(0x2E, 0x1010),
         "i55 i20 r iaa i07 w07 iaa",
         {"written (0x07) while", "exit key"}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(fmt::format("{}: {}", row.chip->type(), row.accesses));
        drive(*row.chip, row.accesses);
        zrvtest::expectBreaches(row.chip->violations(), row.breaches);
    }
}

}  // namespace
