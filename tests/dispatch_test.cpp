// The control device's request handling on a board where nothing is bound,
// and the I/O manager's rules around it.
#include <gtest/gtest.h>

#include "tests/support/harness.h"
#include "zorvik/requests.h"

using zrvtest::SimBoard;

namespace {

// Configuration that makes the load fail: the digital I/O names a chip but
// the hardware monitor's chip value is missing.
const char* kFailingConfig = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Varnel\Zorvik\HWMON]
[HKEY_LOCAL_MACHINE\SOFTWARE\Varnel\Zorvik\WDT]
"DeviceType"=dword:00000001
"SuperIO"=dword:00000006
[HKEY_LOCAL_MACHINE\SOFTWARE\Varnel\Zorvik\DIO]
"DeviceType"=dword:00000001
"SuperIO"=dword:00000006
)";

class UnboundBoard : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(board.load(kFailingConfig), ZRV_STATUS_SUCCESS); }
    void TearDown() override {
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
    SimBoard board;
};

const ZrvRequestInfo kRequests[] = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};

struct Case {
    uint32_t code;
    uint32_t in;
    uint32_t out;
};

TEST_F(UnboundBoard, EveryHardwareRequestIsNotSupported) {
    std::vector<Case> cases = {{IOCTL_HWM_GET_DATA, 0, 35}};
    for (const ZrvRequestInfo& q : kRequests)
        if (q.Function != ZRV_REQUEST_NONE) cases.push_back({q.Code, q.MinInput, q.MinOutput});
    for (const Case& c : cases) {
        auto r = board.ioctl(c.code, std::vector<uint8_t>(c.in, 0x11), c.out);
        EXPECT_EQ(r.status, ZRV_STATUS_NOT_SUPPORTED) << std::hex << c.code;
        EXPECT_EQ(r.bytes, 0u) << std::hex << c.code;
    }
    EXPECT_TRUE(board.trace().empty()) << "the dispatch never touches hardware";
}

TEST_F(UnboundBoard, SpareCodesEchoTwoBytesWithoutAnyTable) {
    for (uint32_t code : {IOCTL_SPARE_1, IOCTL_SPARE_2}) {
        auto r = board.ioctl(code, {0x34, 0x12}, 2);
        EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(r.data, (std::vector<uint8_t>{0x34, 0x12}));

        r = board.ioctl(code, {0x34, 0x12, 0x99}, 8);  // only two come back
        EXPECT_EQ(r.data, (std::vector<uint8_t>{0x34, 0x12}));

        r = board.ioctl(code, {0x34}, 2);
        EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
        EXPECT_EQ(r.bytes, 0u);

        // A short output buffer gets as much as fits, never more.
        r = board.ioctl(code, {0x34, 0x12}, 1);
        EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(r.data, (std::vector<uint8_t>{0x34}));
        r = board.ioctl(code, {0x34, 0x12}, 0);
        EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
        EXPECT_EQ(r.bytes, 0u);
    }
}

TEST_F(UnboundBoard, CodesOutsideTheTableAreInvalid) {
    const uint32_t bad[] = {
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x808, 0, 0),  // between listed functions
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x804, 0, 2),  // spare with write access
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x810, 0, 0),  // watchdog without write access
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x81A, 0, 2),  // past the last function
        ZRV_CTL_CODE(0x8821u, 0x804, 0, 0),          // another device type
        ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x804, 0, 1),  // read-access field
    };
    for (uint32_t code : bad) {
        auto r = board.ioctl(code, {0x34, 0x12}, 2);
        EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER) << std::hex << code;
        EXPECT_EQ(r.bytes, 0u);
    }
}

TEST_F(UnboundBoard, WriteAccessCodesNeedAWritableHandle) {
    auto r = board.ioctl(IOCTL_WDT_START, {}, 0, sim::Access::Read);
    EXPECT_EQ(r.status, ZRV_STATUS_ACCESS_DENIED);
    // Any-access codes work on a read-only handle.
    r = board.ioctl(IOCTL_SPARE_1, {1, 2}, 2, sim::Access::Read);
    EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
}

TEST_F(UnboundBoard, TheControlDeviceIsSharedAndOfTheDriversType) {
    const PlatDevice* device = board.machine().findDevice(ZRV_KERNEL_DEVICE_NAME);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->type, 0x8820u);
    EXPECT_EQ(device->characteristics, 0u);
    EXPECT_FALSE(device->exclusive);
    int first = 0, second = 0;
    ASSERT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &first), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &second), ZRV_STATUS_SUCCESS)
        << "several handles at once";
    board.machine().close(second);
    board.machine().close(first);
}

TEST_F(UnboundBoard, CreateAndCloseSucceedOtherMajorsAreNotImplemented) {
    int handle = 0;
    ASSERT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handle),
              ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.machine().sendMajor(handle, 3 /* read */), ZRV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(board.machine().sendMajor(handle, 4 /* write */), ZRV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(board.machine().close(handle), ZRV_STATUS_SUCCESS);
}

TEST(DriverLoad, DeviceAndLinkLiveFromLoadToUnload) {
    SimBoard board;
    int handle = 0;
    EXPECT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handle),
              ZRV_STATUS_OBJECT_NAME_NOT_FOUND);
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    // The kernel name and the link both reach the device.
    ASSERT_EQ(board.machine().open("\\Device\\ZRV0", sim::Access::Read, &handle), ZRV_STATUS_SUCCESS);
    board.machine().close(handle);
    ASSERT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handle), ZRV_STATUS_SUCCESS);
    board.machine().close(handle);
    board.unload();
    EXPECT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handle),
              ZRV_STATUS_OBJECT_NAME_NOT_FOUND);
    // Loading again starts from fresh driver state and recreates both.
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    EXPECT_EQ(board.ioctl(IOCTL_SPARE_2, {7, 8}, 2).data, (std::vector<uint8_t>{7, 8}));
    board.unload();
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    EXPECT_EQ(board.machine().outstandingAllocations(), 0u);
}

TEST(DriverLoad, FailedDeviceCreationLeavesNothing) {
    SimBoard board;
    board.machine().failDeviceCreation(true);
    EXPECT_EQ(board.load(), ZRV_STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_FALSE(board.machine().loaded());
    int handle = 0;
    EXPECT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handle),
              ZRV_STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    EXPECT_EQ(board.machine().outstandingAllocations(), 0u);
    EXPECT_TRUE(board.trace().empty());
}

TEST(DriverLoad, FailedLinkCreationDeletesTheDevice) {
    SimBoard board;
    board.machine().failLinkCreation(true);
    EXPECT_EQ(board.load(), ZRV_STATUS_INSUFFICIENT_RESOURCES);
    int handle = 0;
    EXPECT_EQ(board.machine().open("\\Device\\ZRV0", sim::Access::Read, &handle),
              ZRV_STATUS_OBJECT_NAME_NOT_FOUND);
    // The load check flags a device left behind; there must be none.
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    EXPECT_TRUE(board.trace().empty());
}

}  // namespace
