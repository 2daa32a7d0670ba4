// Board files and registry exports that are not what they should be: each
// ends in a BoardError naming the file and the problem, and the machine keeps
// what it had, with nothing of the refused file in it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "driver/core/chips.h"
#include "sim/board.h"

namespace {

namespace fs = std::filesystem;

const char* kGoodReg =
    "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Good]\n\"A\"=dword:1\n";
// Fails on its third line, after a key of its own.
const char* kBadReg =
    "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Half]\n\"A\"=dword:zz\n";

TEST(BoardFile, AMalformedFileIsRefusedWholeWithItsNameAndProblem) {
    const fs::path dir = fs::temp_directory_path() / ("zrv-board-file-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "good.reg") << kGoodReg;
    std::ofstream(dir / "bad.reg") << kBadReg;
    std::ofstream(dir / "big.reg") << std::string(2u << 20, ';');

    struct Row {
        const char* json;
        const char* problem;  // after the file's name
    };
    const Row rows[] = {
        {R"({"name": 5})", "b.json: \"name\" is a text"},
        {R"([1, 2])", "b.json:1: a board file is a JSON object"},
        {R"({"hardware": [{"type": "latch", "ports": {"0x310": 1e400}}]})",
         "b.json: malformed JSON: [json.exception.out_of_range.406]"},
        {R"({"registry": "good.reg", "hardware": {}})", "b.json: \"hardware\" is a list"},
        {R"({"registry": "bad.reg"})", "bad.reg:3: bad dword value"},
        {R"({"registry": "big.reg"})", "big.reg: larger than"},
        {R"({"registry": "/dev/zero"})", "/dev/zero: not a regular file"},
        {R"({"registry": "."})", ": not a regular file"},
        {R"({"registry": "good.reg", "hardware": [{"type": "latch", "ports": {"0x310": 1}}, {"type": "kettle"}]})",
         "b.json: hardware[1]: unknown hardware type 'kettle'"},
        {R"({"registry": "good.reg", "hardware": [{"type": "latch", "ports": {"0x310": 1}}, {"type": "latch"}]})",
         "b.json: hardware[1]: a latch needs a \"ports\" object"},
        {R"({"hardware": [{"type": "latch", "ports": {"0x310": [1]}}]})", "expected a number"},
        {R"({"hardware": [{"type": "it87"}, {"type": "latch", "ports": {"0x4f": 1}}, {"type": "w83627"}]})",
         "b.json: hardware[0] and hardware[2] are both on configuration pair 0x2e/0x2f"},
        {R"({"registry": "good.reg", "Hardware": [{"type": "latch", "ports": {"0x310": 1}}]})",
         "b.json: \"Hardware\" is not a key of a board file (\"name\", \"registry\", \"hardware\"); did you "
         "mean \"hardware\"?"},
        {R"({"registry": "good.reg"})", "b.json: no \"hardware\" list"},
        {R"({"chip": "f81865-isa-0a00", "channels": {"fan1": {"label": "CPU fan"}}})",
         "b.json: \"channels\" is a board profile's key: this is a board profile"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        std::ofstream(dir / "b.json", std::ios::trunc) << row.json;
        sim::Machine machine;
        machine.registry().setDword("\\Registry\\Machine\\Software\\Before", "B", 1);
        const auto keysBefore = machine.registry().keys();
        try {
            sim::loadBoard(machine, (dir / "b.json").string());
            ADD_FAILURE() << "accepted";
        } catch (const sim::BoardError& e) {
            EXPECT_NE(std::string(e.what()).find(row.problem), std::string::npos) << e.what();
        }
        EXPECT_EQ(machine.registry().keys(), keysBefore) << "nothing of the refused file is kept";
        EXPECT_TRUE(machine.bus().devices().empty());
    }
    fs::remove_all(dir);
}

TEST(RegistryText, AFailedLoadKeepsTheRegistryAsItWas) {
    sim::Registry registry;
    registry.loadText(kGoodReg, "good.reg");
    const sim::Registry before = registry;
    EXPECT_THROW(registry.loadText(kBadReg, "bad.reg"), sim::BoardError);
    EXPECT_EQ(registry.keys(), before.keys());
    ASSERT_NE(registry.find("HKLM\\SOFTWARE\\Good", "A"), nullptr);
    EXPECT_EQ(registry.find("HKLM\\SOFTWARE\\Half", "A"), nullptr);
}

}  // namespace

// The chip table names each family's emulator by its board-file type: each
// is a type the board loader has.
TEST(BoardFile, EveryChipRowHasItsEmulator) {
    const fs::path dir = fs::temp_directory_path() / ("zrv-chip-types-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const ChipRow& row : kChipRows) {
        if (*row.BoardType == '\0') continue;
        SCOPED_TRACE(row.BoardType);
        std::ofstream(dir / "b.json", std::ios::trunc)
            << R"({"hardware": [{"type": ")" << row.BoardType << R"("}]})";
        sim::Machine machine;
        EXPECT_NO_THROW(sim::loadBoard(machine, (dir / "b.json").string()));
        EXPECT_EQ(machine.bus().devices().size(), 1u);
    }
    fs::remove_all(dir);
}
