// Loading the board configuration from the registry at driver load.
#include "core/config.h"

#include <gtest/gtest.h>

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

}  // namespace
