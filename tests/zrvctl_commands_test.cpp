// zrvctl's commands in this process, on a device that records the requests
// they send: the records the driver gets, and the arguments refused before
// anything is sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>
#include <utility>

#include "client/commands.h"

namespace {

using namespace zrvctl;

// The library's device on a transport that records and refuses every
// request.
struct Recorder : Device {
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sent;
    int32_t status = ZRV_STATUS_UNSUCCESSFUL;
    std::shared_ptr<zrv_device> dev;
    zrv_device* open(HandleAccess) override {
        if (!dev) {
            zrv_device* d = nullptr;
            zrv_open_transport(record, nullptr, this, &d);
            dev.reset(d, zrv_close);
        }
        return dev.get();
    }
    static int32_t record(void* self, uint32_t code, const void* in, size_t inLen, void*, size_t,
                          size_t* returned) {
        auto* r = static_cast<Recorder*>(self);
        const auto* bytes = static_cast<const uint8_t*>(in);
        r->sent.emplace_back(code, std::vector<uint8_t>(bytes, bytes + inLen));
        *returned = 0;
        return r->status;
    }
};

struct NoClock : Clock {
    bool sleep(uint64_t) override { return false; }
    bool caughtUp(uint64_t) override { return false; }
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
    for (const char* line :
         {"wdctl -s 0", "wdctl -s 0m", "wdctl -s 65536", "wdctl -s 0h", "wdctl -s 1093h", "wdctl -s 3d",
          "wdctl keepalive --every 0", "wdctl keepalive --every 30s --timeout 30s", "wdctl start --every 10s",
          "wdctl --leave-running", "wdctl reboot",
          // durations past 2^64-1 ms, never saturated
          "advance 18446744073709551616ms", "advance 18446744073709552s", "advance 99999999999999999999",
          "advance 0x10000000000000000ms"}) {
        bool helped = false;
        EXPECT_THROW(parseCommand(words(line), helped), ClientError) << line;
    }
    EXPECT_EQ(parseDuration("18446744073709551615ms", "d"), ~uint64_t{0});
    EXPECT_EQ(parseDuration("010", "d"), 10000u) << "decimal, never octal";
    EXPECT_EQ(parseDuration("0x10s", "d"), 16000u);
}

// Two keepalive loops of two boards writing at once to one shared file: a
// reader always finds both boards' records, each board's last keepalive
// never goes back (no write undoes another's), no write fails, nothing but
// the writers' lock is left beside the file.
TEST(ZrvctlKeepaliveState, TwoWritersNeverLeaveAReaderWithoutAState) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zrv-state-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "k.state").string();
    std::atomic<int> failed{0}, missed{0}, undone{0};
    std::atomic<bool> done{false};
    const std::string boards[] = {"sim:/a.json", "sim:/b\tc.json"};
    const auto writer = [&](const std::string& device, int rounds) {
        KeepaliveState state;
        state.device = device, state.running = true, state.periodSeconds = 10;
        for (state.lastKeepalive = 1; state.lastKeepalive <= rounds; ++state.lastKeepalive)
            if (std::string w; !writeKeepaliveState(state, w, path)) ++failed;
    };
    writer(boards[0], 1), writer(boards[1], 1);
    std::thread reader([&] {
        std::map<std::string, int64_t> seen;
        for (std::string w; !done;) {
            const std::vector<KeepaliveState> records = readKeepaliveStates(w, path);
            missed += records.size() == 2 ? 0 : 1;
            for (const KeepaliveState& r : records)
                undone += std::exchange(seen[r.device], std::max(seen[r.device], r.lastKeepalive)) >
                          r.lastKeepalive;
        }
    });
    std::thread a(writer, boards[0], 300), b(writer, boards[1], 300);
    a.join(), b.join(), done = true, reader.join();
    EXPECT_EQ(failed + missed + undone, 0)
        << failed << " writes failed, " << missed << " reads missed a board, " << undone << " went back";
    std::string w;
    for (const KeepaliveState& r : readKeepaliveStates(w, path)) EXPECT_EQ(r.lastKeepalive, 300) << r.device;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2) << "a temporary file left";
    std::filesystem::remove_all(dir);  // and without a place named, a folder of the user's own,
    ::unsetenv(kKeepaliveStateVariable);
    for (const char* runtime : {"", "run/user"}) {  // a relative XDG_RUNTIME_DIR is no place
        ::setenv("XDG_RUNTIME_DIR", runtime, 1);
        EXPECT_TRUE(keepaliveStatePath("sim:/b.json")
                        .starts_with("/tmp/zorvik-" + std::to_string(::geteuid()) + "/keepalive-"))
            << runtime;
    }
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_NE(keepaliveStatePath("sim:/b.json"), keepaliveStatePath("sim:/c.json"));
}

// A client that cannot know the direction mask in effect (the Windows
// client: the driver outlives its runs) resolves pin names only where the
// back-end never changes the mask it read at load: the W83627's.
TEST(ZrvctlLines, PinNamesWhereTheDirectionCannotChange) {
    struct Config : ConfigSource {
        uint32_t dioType, chip;
        std::string where() override { return "test"; }
        std::optional<std::vector<RegistryEntry>> values(const std::string& key) override {
            if (key != "DIO") return std::vector<RegistryEntry>{};
            const auto dword = [](const char* name, uint32_t v) {
                return RegistryEntry{
                    name, 4, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}};
            };
            return std::vector<RegistryEntry>{dword("DeviceType", dioType), dword("SuperIO", chip)};
        }
    };
    const struct {
        uint32_t dioType, chip;
        int rc;  // 1: sent (and refused by the recorder); 2: refused by name before
    } rows[] = {{1, 1, kExitRefused}, {1, 2, kExitRefused}, {1, 6, kExitUsage}, {0, 16, kExitUsage}};
    const Profile profile = Profile::load(std::string(ZRV_SOURCE_DIR) + "/boards/w83627-60.profile.json");
    for (const auto& row : rows) {
        bool helped = false;
        Action a = parseCommand(words("gpioset gpio66=1"), helped);
        Recorder device;
        NoClock clock;
        Config config;
        config.dioType = row.dioType;
        config.chip = row.chip;
        Context ctx{device, nullptr, clock, profile, &config, false, kExitOk, {}};
        testing::internal::CaptureStderr();
        a(ctx);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(ctx.exitCode, row.rc) << row.chip;
        EXPECT_EQ(device.sent.size(), row.rc == kExitUsage ? 0u : 1u) << row.chip;
    }
}

}  // namespace
