// Loading the board configuration from the registry at driver load.
#include "core/config.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "tests/support/harness.h"

using zrvtest::SimBoard;

namespace {

const std::string kDio = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n";
const std::string kWdt = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n";
const std::string kHwmon = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n";

class Config : public ::testing::Test {
protected:
    void loadWith(const std::string& text) {
        if (!text.empty()) board.reg(text);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(sim::openRegistryKeys(), 0) << "every key opened is closed again";
    }
    void TearDown() override {
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
        EXPECT_EQ(board.machine().outstandingAllocations(), 0u) << "pool blocks left after unload";
    }
    SimBoard board;
};

TEST_F(Config, NoKeysAtAllMeansPortBackEndsAndChipZeroMonitor) {
    loadWith("");
    EXPECT_EQ(ConfigLoaded, 1);
    EXPECT_EQ(BoardConfig.HwmChip, 0u);
    EXPECT_EQ(BoardConfig.DioDeviceType, 0u);
    EXPECT_EQ(BoardConfig.WdtChip, 16u);
    EXPECT_EQ(BoardConfig.DioChip, 16u);
}

TEST_F(Config, MissingMonitorChipWithGroupLayoutFailsEverySelection) {
    // Each of the three selections runs the whole load again: three reads of
    // "SuperIO" under HWMON, each a key open plus two pool blocks.
    const uint32_t before = board.machine().allocationCount();
    loadWith(kHwmon + kWdt + "\"DeviceType\"=dword:00000000\n" + kDio +
             "\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000006\n\"GPIOGroup\"=dword:00000105\n");
    EXPECT_EQ(ConfigLoaded, 0);
    // Per attempt: HWMON SuperIO, WDT DeviceType, DIO DeviceType, DIO
    // SuperIO, GPIOGroup, GPIOOutGroup = 6 reads of 2 blocks each.
    EXPECT_EQ(board.machine().allocationCount() - before, 3u * 6u * 2u);
    EXPECT_EQ(BoardConfig.GPIOGroup, 0x05) << "the low byte of GPIOGroup";
    EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4).status, ZRV_STATUS_NOT_SUPPORTED);
}

TEST_F(Config, WatchdogDeviceTypeChoosesChipOrPorts) {
    loadWith(kHwmon + "\"SuperIO\"=dword:00010000\n" + kWdt +
             "\"DeviceType\"=dword:00000002\n\"SuperIO\"=dword:00000006\n");
    EXPECT_EQ(BoardConfig.HwmChip, 0x10000u) << "compared as a full 32-bit number";
    EXPECT_EQ(BoardConfig.WdtChip, 16u) << "device type 2 is the port watchdog whatever SuperIO says";
}

TEST_F(Config, WatchdogInTheChipNamedBySuperIO) {
    loadWith(kHwmon + "\"SuperIO\"=dword:00000005\n" + kWdt +
             "\"DeviceType\"=dword:00000001\n\"SuperIO\"=dword:00000006\n" + kDio +
             "\"DeviceType\"=dword:2\n");
    EXPECT_EQ(BoardConfig.WdtChip, 6u);
    EXPECT_EQ(BoardConfig.HwmChip, 5u);
    EXPECT_EQ(BoardConfig.DioChip, 16u) << "an unknown layout type is the port digital I/O";
}

TEST_F(Config, ValuesOfOtherTypesReadAsZeroAndCountAsRead) {
    loadWith(kHwmon + "\"SuperIO\"=\"6\"\n" + kWdt + "\"DeviceType\"=hex(b):01,00,00,00,01,00,00,00\n" +
             kDio + "\"DeviceType\"=hex:01,00,00,00\n");
    EXPECT_EQ(ConfigLoaded, 1) << "a string value is read successfully, as 0";
    EXPECT_EQ(BoardConfig.HwmChip, 0u);
    EXPECT_EQ(BoardConfig.WdtDeviceType, 0u) << "a 64-bit value never lands in a 32-bit field";
    EXPECT_EQ(BoardConfig.WdtChip, 16u);
    EXPECT_EQ(BoardConfig.DioDeviceType, 0u);
}

TEST_F(Config, OversizedValueDoesNotFitTheQueryBufferAndCountsAsFailed) {
    // A long string's full information exceeds the reader's buffer.
    loadWith(kHwmon + "\"SuperIO\"=\"a long text that does not fit\"\n" + kDio + "\"DeviceType\"=dword:3\n");
    EXPECT_EQ(ConfigLoaded, 0);
}

TEST_F(Config, LineMapStopsAtTheFirstMissingValue) {
    loadWith(kHwmon + "\"SuperIO\"=dword:6\n" + kWdt + "\"DeviceType\"=dword:0\n" + kDio +
             "\"DeviceType\"=dword:00000003\n\"SuperIO\"=dword:00000006\n\"InBits\"=dword:00000002\n"
             "\"OutBits\"=dword:00000001\n\"InAddr0\"=dword:00010003\n\"InMask0\"=dword:00000180\n"
             "\"InMask1\"=dword:00000004\n\"OutAddr0\"=dword:00000002\n\"OutMask0\"=dword:00000001\n");
    EXPECT_EQ(ConfigLoaded, 1) << "the line map's outcome does not fail the load";
    ASSERT_EQ(BoardConfig.InBits, 2);
    ASSERT_EQ(BoardConfig.OutBits, 1);
    EXPECT_EQ(BoardConfig.InAddr[0], 0x0003) << "low 16 bits";
    EXPECT_EQ(BoardConfig.InMask[0], 0x80) << "low 8 bits";
    EXPECT_EQ(BoardConfig.InAddr[1], 0);
    EXPECT_EQ(BoardConfig.InMask[1], 0) << "not read after the first missing value";
    EXPECT_EQ(BoardConfig.OutAddr[0], 0);
    EXPECT_EQ(BoardConfig.OutMask[0], 0);
    EXPECT_EQ(BoardConfig.DioChip, 6u);
}

TEST_F(Config, LineCountsAreKeptAtSixteen) {
    std::string text =
        kDio + "\"DeviceType\"=dword:00000004\n\"InBits\"=dword:000000ff\n\"OutBits\"=dword:00000111\n";
    for (int i = 0; i < 20; ++i) {
        text += "\"InAddr" + std::to_string(i) + "\"=dword:" + std::to_string(100 + i) + "\n";
        text += "\"InMask" + std::to_string(i) + "\"=dword:1\n";
        text += "\"OutAddr" + std::to_string(i) + "\"=dword:" + std::to_string(200 + i) + "\n";
        text += "\"OutMask" + std::to_string(i) + "\"=dword:2\n";
    }
    loadWith(text);
    EXPECT_EQ(BoardConfig.InBits, 16);
    EXPECT_EQ(BoardConfig.OutBits, 16) << "0x111 keeps its low byte 0x11 = 17, then 16";
    EXPECT_EQ(BoardConfig.InAddr[15], 0x115);  // "115" read as hex digits by the export format
    EXPECT_EQ(BoardConfig.OutAddr[15], 0x215);
    EXPECT_EQ(BoardConfig.OutMask[15], 2);
    EXPECT_EQ(BoardConfig.DioChip, 16u);
}

TEST_F(Config, CaseDoesNotMatterInKeysAndNames) {
    loadWith("[hkey_local_machine\\software\\VARNEL\\zorvik\\hwmon]\n\"superio\"=dword:00000004\n");
    EXPECT_EQ(BoardConfig.HwmChip, 4u);
}

// Every pool allocation of a load fails in turn: the driver still loads,
// frees what it took, and never leaves a half-built line map behind.
TEST(ConfigFaults, EachPoolAllocationFailureIsSurvived) {
    const std::string text = kHwmon + "\"SuperIO\"=dword:6\n" + kWdt +
                             "\"DeviceType\"=dword:1\n\"SuperIO\"=dword:6\n" + kDio +
                             "\"DeviceType\"=dword:3\n\"SuperIO\"=dword:6\n\"InBits\"=dword:1\n"
                             "\"OutBits\"=dword:1\n\"InAddr0\"=dword:1\n\"InMask0\"=dword:1\n"
                             "\"OutAddr0\"=dword:2\n\"OutMask0\"=dword:2\n";
    uint32_t total = 0;
    {
        SimBoard board;
        board.reg(text);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        total = board.machine().allocationCount();
        board.unload();
    }
    ASSERT_GT(total, 20u);
    for (uint32_t n = 1; n <= total; ++n) {
        SimBoard board;
        board.reg(text);
        board.machine().failAllocation(n);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS) << "allocation " << n;
        EXPECT_EQ(sim::openRegistryKeys(), 0) << "allocation " << n;
        if (BoardConfig.InBits != 0) {
            ASSERT_NE(BoardConfig.InAddr, nullptr) << "allocation " << n;
            ASSERT_NE(BoardConfig.InMask, nullptr) << "allocation " << n;
        }
        if (BoardConfig.OutBits != 0) {
            ASSERT_NE(BoardConfig.OutAddr, nullptr) << "allocation " << n;
            ASSERT_NE(BoardConfig.OutMask, nullptr) << "allocation " << n;
        }
        EXPECT_EQ(board.ioctl(IOCTL_SPARE_1, {1, 2}, 2).status, ZRV_STATUS_SUCCESS);
        board.unload();
        EXPECT_EQ(board.machine().outstandingAllocations(), 0u) << "allocation " << n;
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
}

// Which missing values fail the load (nothing bound) and which do not: the
// monitor's chip and the watchdog's device type and chip are needed unless
// the digital I/O is the port back-end; the digital I/O's chip, groups and
// line map are not.
TEST(ConfigFlag, MissingValuesThatFailTheLoadAndThoseThatDoNot) {
    struct Value {
        const char* key;
        const char* name;
        const char* data;
    };
    const Value groups[] = {
        {"HWMON", "SuperIO", "dword:00010000"},    {"WDT", "DeviceType", "dword:00000001"},
        {"WDT", "SuperIO", "dword:00010000"},      {"DIO", "DeviceType", "dword:00000001"},
        {"DIO", "SuperIO", "dword:00010000"},      {"DIO", "GPIOGroup", "dword:00000001"},
        {"DIO", "GPIOOutGroup", "dword:00000002"},
    };
    const Value lines[] = {
        {"HWMON", "SuperIO", "dword:00010000"},  {"WDT", "DeviceType", "dword:00000000"},
        {"DIO", "DeviceType", "dword:00000003"}, {"DIO", "SuperIO", "dword:00010000"},
        {"DIO", "InBits", "dword:00000001"},     {"DIO", "OutBits", "dword:00000001"},
        {"DIO", "InAddr0", "dword:00000001"},    {"DIO", "OutMask0", "dword:00000001"},
    };
    struct Row {
        const Value* values;
        size_t count;
        const char* missing;  // "KEY\\Name", or "" for none
        bool loaded;
    };
    const Row rows[] = {
        {groups, std::size(groups), "", true},
        {groups, std::size(groups), "HWMON\\SuperIO", false},
        {groups, std::size(groups), "WDT\\DeviceType", false},
        {groups, std::size(groups), "WDT\\SuperIO", false},
        {groups, std::size(groups), "DIO\\DeviceType", true},  // type 0: the port digital I/O
        {groups, std::size(groups), "DIO\\SuperIO", true},
        {groups, std::size(groups), "DIO\\GPIOGroup", true},
        {groups, std::size(groups), "DIO\\GPIOOutGroup", true},
        {lines, std::size(lines), "HWMON\\SuperIO", false},
        {lines, std::size(lines), "DIO\\InBits", true},
        {lines, std::size(lines), "DIO\\InAddr0", true},
        {lines, std::size(lines), "DIO\\OutMask0", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.missing);
        std::string text;
        for (size_t i = 0; i < row.count; ++i) {
            const Value& v = row.values[i];
            if (std::string(v.key) + "\\" + v.name == row.missing) continue;
            text += fmt::format("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\{}]\n\"{}\"={}\n", v.key,
                                v.name, v.data);
        }
        SimBoard board;
        board.reg(text);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(ConfigLoaded, row.loaded ? 1 : 0);
        board.unload();
        EXPECT_EQ(board.machine().outstandingAllocations(), 0u);
    }
}

// A REG_DWORD counts only when it holds exactly four bytes; any other length
// reads as 0, in the configuration reader and in the port back-ends' reader
// alike.
TEST(RegistryDword, BothReadersTakeOnlyFourByteNumbers) {
    struct Row {
        const char* data;
        uint32_t value;
    };
    const Row rows[] = {
        {"dword:00000444", 0x444},
        {"hex(4):44,04,00,00", 0x444},
        {"hex(4):44,04,00,00,00,00,00,00", 0},
        {"hex(4):44,04,00", 0},
        {"hex(4):44", 0},
        {"hex(4):", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.data);
        SimBoard board;
        board.reg(fmt::format("{}\"SuperIO\"={}\n{}\"DeviceType\"=dword:0\n\"Timeout\"={}\n", kHwmon,
                              row.data, kWdt, row.data));
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(BoardConfig.HwmChip, row.value) << "the configuration reader";
        board.clearTrace();
        ASSERT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(10, 1)).status,
                  ZRV_STATUS_SUCCESS);
        const std::vector<std::string> written =
            row.value != 0 ? std::vector<std::string>{"out 0x0444 0x0a"} : std::vector<std::string>{};
        EXPECT_EQ(board.trace(), written) << "the port watchdog's timeout port";
        board.unload();
    }
}

// The port back-ends' registry query takes a pool block, as the kernel's
// does: when it fails, the function stays unbound and the others load.
TEST(PortLoaderQuery, ItsPoolBlockCanFailAndLeavesOnlyThatFunctionUnbound) {
    const std::string text = kHwmon + "\"SuperIO\"=dword:00010000\n" + kWdt +
                             "\"DeviceType\"=dword:0\n\"Start\"=dword:00008443\n" + kDio +
                             "\"DeviceType\"=dword:0\n\"OutBits\"=dword:8\n";
    const uint32_t allocations = zrvtest::allocationsOfLoad(text);
    // The load ends with the watchdog loader's key path and query block,
    // then the digital I/O loader's.
    struct Row {
        uint32_t fromEnd;
        bool watchdog, digitalIo;
    };
    const Row rows[] = {{0, true, false}, {2, false, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fromEnd);
        SimBoard board;
        board.reg(text);
        board.machine().failAllocation(allocations - row.fromEnd);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4).status == ZRV_STATUS_SUCCESS, row.watchdog);
        EXPECT_EQ(board.ioctl(IOCTL_DIO_GET_CONFIG, {}, 2).status == ZRV_STATUS_SUCCESS, row.digitalIo);
        board.unload();
        EXPECT_EQ(board.machine().outstandingAllocations(), 0u);
    }
}

}  // namespace

// zrvctl config and a driver load on the same registries: what config says
// each function will bind (a chip back-end only where its chip answers, at
// the pair and with the ID config names) is what the load binds.
namespace prediction {

namespace fs = std::filesystem;

nlohmann::json zrvctlJson(const std::string& args) {
    FILE* p = ::popen((std::string(ZRV_ZRVCTL) + " --json " + args + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) != 0;) out.append(buf, n);
    ::pclose(p);
    return nlohmann::json::parse(out);
}

// The board's chip of a chip code, if it has one where config says it is looked for.
bool chipAnswers(const nlohmann::json& board, const nlohmann::json& bind) {
    const std::map<uint32_t, std::string> types = {{0, "it87"},   {1, "w83627"},  {2, "w83627"},
                                                   {4, "f81216"}, {5, "sch3114"}, {6, "f81865"}};
    const uint32_t code = bind["chip"];
    if (code == ZRV_CHIP_PORTS) return true;
    for (const auto& hw : board["hardware"]) {
        if (hw["type"] != types.at(code)) continue;
        if (bind.contains("only_at") && hw.value("config_port", "0x2e") != bind["only_at"]) continue;
        if (bind.contains("only_id") && std::stoul(hw.value("id", "0"), nullptr, 16) !=
                                            std::stoul(bind["only_id"].get<std::string>(), nullptr, 16))
            continue;
        return true;
    }
    return false;
}

TEST(ConfigPrediction, ConfigSaysWhatTheLoadBinds) {
    struct Crafted {
        const char* hardwareOf;  // board whose hardware it runs on
        std::string reg;
    };
    const std::string dioW =
        kHwmon + "\"SuperIO\"=dword:1\n" + kWdt + "\"DeviceType\"=dword:0\n" + kDio + "\"SuperIO\"=dword:1\n";
    const std::string sch = kHwmon + "\"SuperIO\"=dword:5\n" + kWdt + "\"DeviceType\"=dword:1\n" +
                            "\"SuperIO\"=dword:5\n" + kDio + "\"SuperIO\"=dword:5\n";
    const std::string f0704 =
        kHwmon + "\"SuperIO\"=dword:6\n" + kWdt + "\"DeviceType\"=dword:0\n" + kDio + "\"SuperIO\"=dword:6\n";
    const std::string lines =
        "\"DeviceType\"=dword:3\n\"InBits\"=dword:2\n\"OutBits\"=dword:1\n"
        "\"InAddr0\"=dword:1\n\"InMask0\"=dword:1\n\"InMask1\"=dword:2\n"
        "\"OutAddr0\"=dword:6\n\"OutMask0\"=dword:1\n";
    const Crafted crafted[] = {
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:2\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:3\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:4\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:5\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:7\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:3\n\"GPIOGroup\"=dword:1\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=\"1\"\n"},
        {"w83627-88", dioW + "\"DeviceType\"=dword:1\n"},
        {"sch3114", sch + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:1\n"},
        {"sch3114", sch + lines},
        {"sch3114", sch + lines + "\"InAddr1\"=dword:7\n"},
        {"sch3114", sch + lines + "\"InAddr1\"=dword:2\n"},
        {"sch3114", sch + "\"DeviceType\"=\"3\"\n"},
        {"sch3114", kHwmon + "\"SuperIO\"=hex:05,00,00,00\n" + kWdt + "\"DeviceType\"=dword:1\n" + kDio +
                        "\"DeviceType\"=dword:3\n\"SuperIO\"=dword:5\n"},
        {"sch3114", kHwmon + "\"SuperIO\"=\"a long text that does not fit\"\n" + kWdt +
                        "\"DeviceType\"=dword:1\n\"SuperIO\"=dword:5\n" + kDio + "\"DeviceType\"=dword:3\n"},
        {"f81865-0704-lines",
         f0704 + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:1\n\"GPIOOutGroup\"=dword:8\n"},
        {"f81865-0704-lines", f0704 + "\"DeviceType\"=dword:1\n\"GPIOOutGroup\"=dword:6\n"},
        {"f81865-1010-groups", f0704 + "\"DeviceType\"=dword:1\n\"GPIOGroup\"=dword:9\n"},
        {"f81865-0704-lines", f0704 + lines + "\"InAddr1\"=dword:7\n"},
        {"port-plain", kDio + "\"InBits\"=dword:00000011\n"},
        {"port-plain",
         kDio + "\"DeviceType\"=dword:5\n\"UseSpecificSetting\"=dword:1\n\"OutBits\"=dword:20\n"},
    };
    std::vector<std::string> boards;
    for (const auto& e : fs::directory_iterator(fs::path(ZRV_SOURCE_DIR) / "boards"))
        if (e.path().extension() == ".json" && e.path().string().find(".profile.") == std::string::npos)
            boards.push_back(e.path().string());
    const fs::path dir = fs::temp_directory_path() / ("zrv-config-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (size_t i = 0; i < std::size(crafted); ++i) {
        const std::string source = std::string(ZRV_SOURCE_DIR) + "/boards/" + crafted[i].hardwareOf + ".json";
        nlohmann::json board = nlohmann::json::parse(std::ifstream(source));
        board["registry"] = fmt::format("c{}.reg", i);
        std::ofstream(dir / fmt::format("c{}.reg", i)) << "Windows Registry Editor Version 5.00\n"
                                                       << crafted[i].reg;
        std::ofstream(dir / fmt::format("c{}.json", i)) << board.dump();
        boards.push_back((dir / fmt::format("c{}.json", i)).string());
    }
    for (const std::string& file : boards) {
        SCOPED_TRACE(file);
        const nlohmann::json board = nlohmann::json::parse(std::ifstream(file));
        const nlohmann::json config = zrvctlJson("--sim " + file + " config");
        const nlohmann::json status = zrvctlJson("--sim " + file + " status");
        for (const char* function : {"hardware monitor", "watchdog", "digital I/O"}) {
            const nlohmann::json& bind = config["binds"][function];
            const bool predicted = bind["bound"].get<bool>() && chipAnswers(board, bind);
            EXPECT_EQ(predicted, status[function]["bound"].get<bool>())
                << function << ": " << config["functions"][function] << "\n"
                << config["problems"];
        }
    }
    fs::remove_all(dir);
}

}  // namespace prediction
