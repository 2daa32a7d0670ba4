// Request handling with back-ends bound: the dispatch's length and value
// checks in front of real back-ends, what comes back to the caller, and a
// sweep of odd requests over every example board.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "sim/board.h"
#include "sim/devices/f81865.h"
#include "tests/support/harness.h"
#include "zorvik/requests.h"

using zrvtest::SimBoard;

namespace {

// An F81865 whose monitor sits at 0xA00 and answers for the hardware monitor
// only.
class MonitorBoard : public ::testing::Test {
protected:
    void SetUp() override {
        board.reg(
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n\"SuperIO\"=dword:00000006\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\WDT]\n\"DeviceType\"=dword:1\n\"SuperIO\"=dword:"
            "6\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"DeviceType\"=dword:1\n\"SuperIO\"=dword:"
            "6\n"
            "\"GPIOGroup\"=dword:1\n\"GPIOOutGroup\"=dword:2\n");
        const auto entry = nlohmann::json::parse(
            R"({"type": "f81865", "config_port": "0x2e", "id": "0x0704",
                "config": {"4": {"0x60": "0x0a", "0x61": "0x00"}},
                "hwm": {"0x20": "0x8c", "0x21": "0x41", "0x72": "0x2d"}, "fan_rpm": {"1": 2000}})");
        board.attach(sim::F81865::fromBoard(entry, "test"));
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        board.clearTrace();
    }
    void TearDown() override {
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
    std::vector<uint8_t> fan(uint8_t index, uint8_t mode, uint8_t data) {
        return {index, mode, data, 0, 0, 0, 0, 0};
    }
    SimBoard board;
};

TEST_F(MonitorBoard, ReadingsComeBackWhole36BytesWithNoStaleMemory) {
    auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 35);
    EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_TRUE(board.trace().empty()) << "refused before the back-end runs";

    // Whatever pattern lies in the system buffer, the answer is the same:
    // every byte returned was written by the driver.
    board.machine().setPoison(0xCD);
    auto first = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
    board.machine().setPoison(0x3C);
    auto second = board.ioctl(IOCTL_HWM_GET_DATA, {}, 64);
    ASSERT_EQ(first.status, ZRV_STATUS_SUCCESS);
    ASSERT_EQ(first.bytes, 36u);
    ASSERT_EQ(second.bytes, 36u) << "exactly the record, whatever the output length";
    EXPECT_EQ(first.data, second.data);
    EXPECT_EQ(first.data[33], 0);
    EXPECT_EQ(first.data[34], 0);
    EXPECT_EQ(first.data[35], 0);
    // Fan 1 at 2000 rpm: 0xD0 0x07 0x00 0x00 at the start of the record.
    EXPECT_EQ(std::vector<uint8_t>(first.data.begin(), first.data.begin() + 4),
              (std::vector<uint8_t>{0xD0, 0x07, 0x00, 0x00}));
}

TEST_F(MonitorBoard, FanControlChecksBeforeTheBackEnd) {
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, {0, 1, 0x40, 0, 0, 0, 0}, 8);  // 7 bytes
    EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
    r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fan(0, 0, 0x80), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
    r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fan(0, 0, 0xFF), 8);
    EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(board.trace().empty()) << "no port touched by refused requests";

    for (uint8_t mode : {2, 3}) {
        r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fan(0, mode, 1), 8);
        EXPECT_EQ(r.status, ZRV_STATUS_UNSUCCESSFUL) << int(mode);
        EXPECT_EQ(r.bytes, 0u);
    }

    const auto duty = fan(0, 1, 0x40);
    r = board.ioctl(IOCTL_HWM_FAN_CONTROL, duty, 8);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, duty) << "the record comes back unchanged";
}

TEST_F(MonitorBoard, FanSettingWithAShortOrNoOutputBufferIsStillApplied) {
    auto r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fan(1, 1, 0x20), 3);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{1, 1, 0x20}));
    const auto withShortBuffer = board.trace();
    EXPECT_FALSE(withShortBuffer.empty());

    board.clearTrace();
    r = board.ioctl(IOCTL_HWM_FAN_CONTROL, fan(1, 1, 0x20), 0);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(r.bytes, 0u);
    EXPECT_EQ(board.trace(), withShortBuffer) << "the same setting reaches the chip";
}

TEST_F(MonitorBoard, ChipDigitalIOHasNoCDPort) {
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_GET_INPUTS, {}, 0).status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_GET_INPUTS, {}, 1).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x31}).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_SET_SPECIFIC_MASK, {0x0F}).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_PULSE_OUTPUT, {1}).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
    // The watchdog's range: 255 in seconds or minutes, whatever the poison.
    board.machine().setPoison(0x77);
    auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 16);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xFF, 0x00, 0x03, 0x00}));
}

class PortBoard : public ::testing::Test {
protected:
    void SetUp() override {
        sim::loadBoard(board.machine(), ZRV_SOURCE_DIR "/boards/port-plain.json");
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        board.clearTrace();
    }
    void TearDown() override {
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
    SimBoard board;
};

TEST_F(PortBoard, WatchdogRequestsCheckLengthsAndUnits) {
    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, {30, 0, 1}).status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(30, 3)).status,
              ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(255, 2)).status,
              ZRV_STATUS_INVALID_PARAMETER)
        << "the port watchdog counts seconds only";
    EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 3).status, ZRV_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(board.trace().empty());

    EXPECT_EQ(board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(30, 1)).status, ZRV_STATUS_SUCCESS);
    for (uint32_t code : {IOCTL_WDT_START, IOCTL_WDT_RESET, IOCTL_WDT_STOP}) {
        auto r = board.ioctl(code);
        EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS) << std::hex << code;
        EXPECT_EQ(r.bytes, 0u);
    }
    EXPECT_EQ(board.trace(),
              (std::vector<std::string>{"out 0x0443 0x1e", "out 0x0443 0x1e", "in 0x0843 0xff"}));
    auto r = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xFF, 0x00, 0x01, 0x00}));
}

TEST_F(PortBoard, OneByteRequestsNeedTheirByte) {
    for (uint32_t code : {IOCTL_DIO_CD_PULSE_OUTPUT, IOCTL_DIO_SET_SPECIFIC_MASK, IOCTL_DIO_CD_SET_OUTPUT}) {
        auto r = board.ioctl(code, {}, 4);
        EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER) << std::hex << code;
    }
    EXPECT_TRUE(board.trace().empty());
}

TEST_F(PortBoard, CDSetOutputTakesNumberFromHighNibbleAndStateFromBitZero) {
    auto& machine = board.machine();
    auto level = [&](const char* line) {
        for (auto& d : machine.bus().devices())
            if (auto l = d->pin(line)) return *l;
        ADD_FAILURE() << "no line " << line;
        return false;
    };
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x21}).status, ZRV_STATUS_SUCCESS);
    EXPECT_TRUE(level("CD_OUT2"));
    EXPECT_FALSE(level("CD_OUT1"));
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x20}).status, ZRV_STATUS_SUCCESS);
    EXPECT_FALSE(level("CD_OUT2"));
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x1E}).status, ZRV_STATUS_SUCCESS);
    EXPECT_FALSE(level("CD_OUT1")) << "bits 1..3 are not the state";
    EXPECT_EQ(board.ioctl(IOCTL_DIO_CD_SET_OUTPUT, {0x1F}).status, ZRV_STATUS_SUCCESS);
    EXPECT_TRUE(level("CD_OUT1"));
    auto r = board.ioctl(IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{2}));
}

// Odd requests of every kind, on every example board: whatever comes in,
// the driver completes each request, never returns more than the output
// length, and breaks no platform or hardware rule.
TEST(RequestSweep, EveryBoardSurvivesOddRequests) {
    const uint32_t codes[] = {
        ZRV_REQUESTS(ZRV_REQUEST_CODE) ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x808, 0, 0),
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x800, 0, 2),
    };
    int boards = 0;
    for (auto& entry : std::filesystem::directory_iterator(ZRV_SOURCE_DIR "/boards")) {
        // Board files only: NAME.profile.json beside them is a board profile.
        if (entry.path().extension() != ".json" || entry.path().stem().extension() == ".profile") continue;
        ++boards;
        SCOPED_TRACE(entry.path().filename().string());
        std::mt19937 rng(1234);
        SimBoard board;
        sim::loadBoard(board.machine(), entry.path().string());
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        for (int i = 0; i < 400; ++i) {
            const uint32_t code = codes[rng() % std::size(codes)];
            std::vector<uint8_t> in(rng() % 12);
            for (auto& b : in) b = static_cast<uint8_t>(rng());
            const uint32_t out = rng() % 48;
            const auto access = rng() % 4 == 0 ? sim::Access::Read : sim::Access::ReadWrite;
            auto r = board.ioctl(code, in, out, access);
            ASSERT_LE(r.bytes, out);
            ASSERT_EQ(r.data.size(), r.bytes);
            if (r.status != ZRV_STATUS_SUCCESS) {
                ASSERT_EQ(r.bytes, 0u);
            }
        }
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
    EXPECT_GE(boards, 3);
}

}  // namespace
