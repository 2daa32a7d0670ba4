// zrvctl's commands in this process, on a device that records the requests
// they send: the records the driver gets, and the arguments refused before
// anything is sent.
#include <gtest/gtest.h>

#include "client/commands.h"

namespace {

using namespace zrvctl;

struct Recorder : Device {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sent;
    int32_t status = ZRV_STATUS_UNSUCCESSFUL;
    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t, HandleAccess) override {
        sent.emplace_back(code, input);
        return Reply{status, 0, {}};
    }
};

struct NoClock : Clock {
    bool sleep(uint64_t) override { return false; }
    std::string stamp() override { return ""; }
    double seconds() override { return 0; }
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

// Runs one command line; the requests it sent and the exit code.
std::pair<Recorder, int> run(const std::string& line) {
    bool helped = false;
    Action a = parseCommand(words(line), helped);
    Recorder device;
    NoClock clock;
    const Profile profile = Profile::raw();
    Context ctx{device, nullptr, clock, profile, nullptr, false, kExitOk, {}};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    a(ctx);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return {device, ctx.exitCode};
}

TEST(ZrvctlFan, EachSettingSendsItsFanControlRecord) {
    const struct {
        const char* line;
        std::vector<uint8_t> record;  // Fan, Mode, Data, Limit1, Limit2, -, StartDuty, Slope
    } cases[] = {
        {"fan 1 on", {0, 0, 1, 0, 0, 0, 0, 0}},
        {"fan 3 off", {2, 0, 0, 0, 0, 0, 0, 0}},
        {"fan 2 duty 127", {1, 1, 127, 0, 0, 0, 0, 0}},
        {"fan 1 auto 40 60", {0, 2, 0, 40, 60, 0, 0, 0}},
        {"fan 2 auto 0x28 0x3c 100 4", {1, 2, 0, 0x28, 0x3c, 0, 100, 4}},
        {"fan 5 auto 0 255 127 7", {4, 2, 0, 0, 255, 0, 127, 7}},
    };
    for (const auto& c : cases) {
        auto [device, rc] = run(c.line);
        ASSERT_EQ(device.sent.size(), 1u) << c.line;
        EXPECT_EQ(device.sent[0].first, IOCTL_HWM_FAN_CONTROL) << c.line;
        EXPECT_EQ(device.sent[0].second, c.record) << c.line;
        EXPECT_EQ(rc, kExitRefused) << c.line << ": the recorder refuses every request";
    }
}

TEST(ZrvctlFan, ArgumentsOutOfRangeAreRefusedBeforeAnyRequest) {
    for (const char* line : {"fan 0 on", "fan 6 on", "fan 1 duty 128", "fan 1 duty", "fan 1 on 1",
                             "fan 1 auto 40", "fan 1 auto 40 256", "fan 1 auto 40 60 128",
                             "fan 1 auto 1 2 3 8", "fan 1 auto 1 2 3 4 5", "fan 1 spin"}) {
        bool helped = false;
        EXPECT_THROW(parseCommand(words(line), helped), ClientError) << line;
    }
}

TEST(ZrvctlWatchdog, TimeoutsOutsideTheRangeAreNotSent) {
    // The recorder refuses GetTimeout, so no range: nothing else is sent.
    auto [device, rc] = run("wdctl -s 30");
    ASSERT_EQ(device.sent.size(), 1u);
    EXPECT_EQ(device.sent[0].first, IOCTL_WDT_GET_TIMEOUT);
    EXPECT_EQ(rc, kExitRefused);
    for (const char* line : {"wdctl -s 0", "wdctl -s 0m", "wdctl -s 65536", "wdctl -s 3h",
                             "wdctl keepalive --every 0", "wdctl keepalive --every 30s --timeout 30s",
                             "wdctl start --every 10s", "wdctl --leave-running", "wdctl reboot"}) {
        bool helped = false;
        EXPECT_THROW(parseCommand(words(line), helped), ClientError) << line;
    }
}

}  // namespace
