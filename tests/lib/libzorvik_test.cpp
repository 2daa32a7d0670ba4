// libzorvik through its C interface only: every function on every example
// board from one table, the driver statuses each error code stands for,
// the records it encodes, and threads sharing one device.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "zorvik/zorvik.h"

namespace {

std::string board(const char* name) { return std::string("sim:") + ZRV_SOURCE_DIR + "/boards/" + name; }

struct Device {
    zrv_device* dev = nullptr;
    explicit Device(const std::string& target) {
        EXPECT_EQ(zrv_open(target.c_str(), &dev), ZRV_OK) << target;
    }
    ~Device() { zrv_close(dev); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
};

// What each function of an example board answers; -1: not on this board.
struct BoardRow {
    const char* file;
    int wdtMax;  // largest count
    unsigned wdtUnits;
    bool hwm;
    int inputs, outputs;
    unsigned deaf;  // output lines that do not take a level (read back otherwise)
    int cdOutputs;
    // What the load made of the monitor, the watchdog and the digital I/O:
    // 0 bound, 1 the load failed, 2 no back-end for the chip code, 3 not found.
    unsigned reasons[ZRV_FUNCTIONS];
    int stop = ZRV_OK;  // a port watchdog configured without a stop action refuses it
};
const BoardRow kBoards[] = {
    {"default.json", 255, 3, true, 8, 8, 0, -1, {0, 0, 0}},
    {"f81216-87.json", 255, 3, false, -1, -1, 0, -1, {2, 0, 2}},
    {"f81865-0704-lines.json", 255, 3, true, 4, 4, 0, -1, {0, 0, 0}},
    {"f81865-1010-groups.json", 255, 3, true, 8, 8, 0, -1, {0, 0, 0}},
    {"it8712f-d.json", 255, 3, true, -1, -1, 0, -1, {0, 0, 2}},
    {"it8718f.json", 65535, 3, true, -1, -1, 0, -1, {0, 0, 2}},
    {"it8783f-4e.json", 65535, 3, false, -1, -1, 0, -1, {3, 0, 2}},
    {"port-plain.json", 255, 1, false, 8, 8, 0, 2, {2, 0, 0}},
    {"port-regtypes.json", 255, 1, false, 4, 4, 0xF, 0, {2, 0, 0}, ZRV_ENOTSUP},
    {"port-specific.json", 255, 1, false, 4, 4, 0, 2, {2, 0, 0}},
    {"sch3114.json", 255, 3, true, 4, 4, 0, -1, {0, 0, 0}},
    {"unconfigured.json", -1, 0, false, -1, -1, 0, -1, {1, 1, 1}},
    {"w83627-60.json", 255, 3, true, 4, 4, 0x2, -1, {0, 0, 0}},  // pins at bits 0, 2, 5 and 7
    {"w83627-88.json", 255, 3, true, 4, 4, 0, -1, {0, 0, 0}},
};

int absent(int value, int err) { return value < 0 ? ZRV_ENOTSUP : err; }

TEST(Libzorvik, EveryFunctionOnEveryExampleBoard) {
    for (const BoardRow& b : kBoards) {
        SCOPED_TRACE(b.file);
        Device d(board(b.file));
        zrv_device* dev = d.dev;
        for (unsigned f = 0; f < ZRV_FUNCTIONS; ++f) {
            unsigned reason = 99;
            EXPECT_EQ(zrv_load_reason(dev, f, &reason), ZRV_OK);
            EXPECT_EQ(reason, b.reasons[f]) << "function " << f << ": " << zrv_reason_text(reason);
        }

        // Watchdog: the range; a 5 s timeout kept alive once, then left to
        // run out: the board resets at 9 s, not before.
        unsigned count = 0, units = 0, seconds = 0, resets = 0;
        ASSERT_EQ(zrv_wdt_limits(dev, &count, &units), absent(b.wdtMax, ZRV_OK));
        EXPECT_EQ(zrv_wdt_range(dev, &seconds), absent(b.wdtMax, ZRV_OK));
        EXPECT_EQ(zrv_wdt_set_timeout(dev, 0), ZRV_ERANGE);
        if (b.wdtMax >= 0) {
            EXPECT_EQ(count, static_cast<unsigned>(b.wdtMax));
            EXPECT_EQ(units, b.wdtUnits);
            EXPECT_EQ(seconds, units & 2 ? count * 60 : count);
            EXPECT_EQ(zrv_wdt_set_timeout(dev, seconds + 1), ZRV_ERANGE);
            ASSERT_EQ(zrv_wdt_set_timeout(dev, 5), ZRV_OK);
            ASSERT_EQ(zrv_wdt_start(dev), ZRV_OK);
            zrv_board_advance(dev, 4000);
            ASSERT_EQ(zrv_wdt_kick(dev), ZRV_OK);
            zrv_board_advance(dev, 4900);
            ASSERT_EQ(zrv_board_resets(dev, &resets), ZRV_OK);
            EXPECT_EQ(resets, 0u);
            zrv_board_advance(dev, 200);
            zrv_board_resets(dev, &resets);
            EXPECT_EQ(resets, 1u);
            EXPECT_EQ(zrv_wdt_stop(dev), b.stop);
        } else {
            EXPECT_EQ(zrv_wdt_start(dev), ZRV_ENOTSUP);
            EXPECT_EQ(zrv_wdt_kick(dev), ZRV_ENOTSUP);
            EXPECT_EQ(zrv_wdt_stop(dev), ZRV_ENOTSUP);
        }

        // Hardware monitor: without a profile every channel of the record,
        // fans in rpm and the rest raw; a short buffer still counts them.
        HwmData raw;
        zrv_sensor s[18];
        size_t n = 0;
        ASSERT_EQ(zrv_hwm_read(dev, &raw), b.hwm ? ZRV_OK : ZRV_ENOTSUP);
        EXPECT_EQ(zrv_sensors(dev, nullptr, s, 2, &n), b.hwm ? ZRV_ERANGE : ZRV_ENOTSUP);
        if (b.hwm) {
            EXPECT_EQ(n, 18u);
            ASSERT_EQ(zrv_sensors(dev, nullptr, s, 18, &n), ZRV_OK);
            EXPECT_STREQ(s[0].key, "fan1");
            EXPECT_EQ(s[0].kind, ZRV_SENSOR_FAN);
            EXPECT_EQ(s[0].value, raw.Fan1);
            EXPECT_GT(raw.Fan1, 0u);
            EXPECT_EQ(s[5].kind, ZRV_SENSOR_RAW);
            EXPECT_STREQ(s[17].key, "temp3");
            EXPECT_EQ(s[17].raw, raw.Temp3);
        }
        EXPECT_EQ(zrv_fan_set(dev, 0, ZRV_FAN_MODE_DUTY, 128), ZRV_EINVAL);

        // Digital I/O: single lines set around each other, the others kept.
        unsigned in = 0, out = 0;
        uint16_t word = 0xFFFF;
        ASSERT_EQ(zrv_dio_lines(dev, &in, &out), absent(b.inputs, ZRV_OK));
        EXPECT_EQ(zrv_dio_read(dev, &word), absent(b.inputs, ZRV_OK));
        if (b.outputs > 0) {
            EXPECT_EQ(in, static_cast<unsigned>(b.inputs));
            EXPECT_EQ(out, static_cast<unsigned>(b.outputs));
            ASSERT_EQ(zrv_dio_write(dev, 0), ZRV_OK);
            // A line that does not take its level fails the write.
            const auto takes = [&](unsigned line) { return (b.deaf >> line & 1) != 0 ? ZRV_EIO : ZRV_OK; };
            EXPECT_EQ(zrv_dio_set_line(dev, 1, 1), takes(1));
            EXPECT_EQ(zrv_dio_set_line(dev, out - 1, 1), takes(out - 1));
            EXPECT_EQ(zrv_dio_set_line(dev, 1, 0), ZRV_OK);
            EXPECT_EQ(zrv_dio_set_line(dev, out, 1), ZRV_EINVAL);
            ASSERT_EQ(zrv_dio_read_outputs(dev, &word), ZRV_OK);
            EXPECT_EQ(word, (1u << (out - 1)) & ~b.deaf);
        } else {
            EXPECT_EQ(zrv_dio_set_line(dev, 0, 1), ZRV_ENOTSUP);
        }

        // CD port: the count, a set, and the output numbers refused.
        unsigned cd = 0;
        uint8_t cdIn = 0;
        EXPECT_EQ(zrv_cd_outputs(dev, &cd), absent(b.cdOutputs, ZRV_OK));
        EXPECT_EQ(zrv_cd_inputs(dev, &cdIn), absent(b.cdOutputs, ZRV_OK));
        EXPECT_EQ(zrv_cd_set(dev, 1, 1), absent(b.cdOutputs, ZRV_OK));
        if (b.cdOutputs >= 0) {
            EXPECT_EQ(cd, static_cast<unsigned>(b.cdOutputs));
        }
        EXPECT_EQ(zrv_cd_set(dev, 16, 1), ZRV_EINVAL);
        EXPECT_EQ(zrv_cd_pulse(dev, 0), ZRV_EINVAL);
    }
}

// zrvctl's answers, one JSON object per line, to a script on a board.
std::vector<std::string> zrvctlLines(const std::string& file, const std::string& script) {
    const std::string cmd = std::string(ZRV_ZRVCTL) + " --json --sim " + ZRV_SOURCE_DIR + "/boards/" + file +
                            " " + script + " 2>/dev/null";
    std::vector<std::string> lines;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return lines;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) lines.emplace_back(buf);
    ::pclose(p);
    return lines;
}

// The same lines by the library and by zrvctl, gaps and all, on every
// example board with digital I/O: the lines zrvctl reads and sets one by
// one are the library's line bits, and zrv_dio_set_line refuses the rest
// before writing. The library is told the profile's direction mask, as
// zrvctl is when it loads the board.
TEST(Libzorvik, LinesNumberedAlikeByTheLibraryAndZrvctl) {
    const struct {
        const char* file;
        uint16_t inputs, outputs;  // the line bits
    } rows[] = {
        {"default.json", 0xFF, 0xFF},
        {"f81865-0704-lines.json", 0xF, 0xF},
        {"f81865-1010-groups.json", 0xFF, 0xFF},
        {"port-plain.json", 0xFF, 0xFF},
        {"port-regtypes.json", 0xF, 0xF},
        {"port-specific.json", 0xF, 0xF},
        {"sch3114.json", 0xF, 0xF},
        {"w83627-60.json", 0xA5, 0x2D},
        {"w83627-88.json", 0xF, 0xF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        Device d(board(row.file));
        std::string profileFile = std::string(ZRV_SOURCE_DIR) + "/boards/" + row.file;
        profileFile.replace(profileFile.size() - 5, 5, ".profile.json");
        zrv_profile* profile = nullptr;
        ASSERT_EQ(zrv_profile_load(profileFile.c_str(), &profile, nullptr, 0), ZRV_OK);
        unsigned mask = 0;
        if (zrv_profile_direction(profile, &mask) == ZRV_OK) {
            EXPECT_EQ(zrv_dio_assume_direction(d.dev, mask), ZRV_OK);
        }
        zrv_profile_free(profile);

        uint16_t inputs = 0, outputs = 0;
        ASSERT_EQ(zrv_dio_line_bits(d.dev, 0, &inputs), ZRV_OK);
        ASSERT_EQ(zrv_dio_line_bits(d.dev, 1, &outputs), ZRV_OK);
        EXPECT_EQ(inputs, row.inputs);
        EXPECT_EQ(outputs, row.outputs);

        std::string script;
        uint16_t set = 0;
        for (unsigned n = 0; n < 16; ++n) {
            script += (n == 0 ? "" : " ';' ") +
                      ("gpioset " + std::to_string(n) + "=1 ';' gpioget " + std::to_string(n));
            const int err = zrv_dio_set_line(d.dev, n, 1);
            EXPECT_EQ(err == ZRV_EINVAL, (row.outputs >> n & 1) == 0) << "line " << n << ": " << err;
            if (err != ZRV_EINVAL) set = static_cast<uint16_t>(set | 1u << n);
        }
        EXPECT_EQ(set, row.outputs);
        uint16_t cliSet = 0, cliGet = 0;
        for (const std::string& l : zrvctlLines(row.file, script)) {
            const size_t at = l.find("\"lines\":{\"");
            if (at == std::string::npos) continue;
            const unsigned n = static_cast<unsigned>(std::atoi(l.c_str() + at + 10));
            uint16_t& side = l.find("read_back") != std::string::npos ? cliSet : cliGet;
            side = static_cast<uint16_t>(side | 1u << n);
        }
        EXPECT_EQ(cliSet, row.outputs);
        EXPECT_EQ(cliGet, row.inputs);
    }
}

TEST(Libzorvik, TheDefaultBoardInVoltsAndDegreesWithItsProfile) {
    Device d(board("default.json"));
    zrv_sensor s[18];
    size_t n = 0;
    const std::string profile = std::string(ZRV_SOURCE_DIR) + "/boards/default.profile.json";
    ASSERT_EQ(zrv_sensors(d.dev, profile.c_str(), s, 18, &n), ZRV_OK);
    ASSERT_EQ(n, 14u);
    EXPECT_STREQ(s[3].label, "Vcore");
    EXPECT_EQ(s[3].kind, ZRV_SENSOR_VOLTAGE);
    EXPECT_DOUBLE_EQ(s[3].value, 1.12);  // raw 140 × 0.008 V
    EXPECT_TRUE(s[3].has_min && s[3].has_max);
    EXPECT_EQ(s[11].kind, ZRV_SENSOR_TEMPERATURE);
    EXPECT_DOUBLE_EQ(s[11].value, 45.0);
    EXPECT_FALSE(s[11].alarm);
    char why[200];
    zrv_profile* p = nullptr;
    EXPECT_EQ(zrv_profile_load("/nonexistent.json", &p, why, sizeof why), ZRV_EINVAL);
    EXPECT_STREQ(why, "/nonexistent.json: cannot open profile");
    EXPECT_EQ(zrv_sensors(d.dev, "/nonexistent.json", s, 18, &n), ZRV_EINVAL);
    // A record read before: the same channels, without a request.
    HwmData raw{};
    raw.Temp1 = 45;
    ASSERT_EQ(zrv_profile_load(profile.c_str(), &p, nullptr, 0), ZRV_OK);
    EXPECT_EQ(zrv_sensors_of(p, &raw, s, 18, &n), ZRV_OK);
    EXPECT_DOUBLE_EQ(s[11].value, 45.0);
    EXPECT_EQ(zrv_sensors_of(p, nullptr, s, 18, &n), ZRV_EINVAL);
    zrv_profile_free(p);
}

TEST(Libzorvik, OpeningBoards) {
    zrv_device* dev = nullptr;
    EXPECT_EQ(zrv_open("sim:/nonexistent/board.json", &dev), ZRV_ENODEV);
    EXPECT_EQ(dev, nullptr);
    unsetenv("ZORVIK_BOARD");
    EXPECT_EQ(zrv_open(nullptr, &dev), ZRV_ENODEV);
    Device a(board("default.json"));
    setenv("ZORVIK_BOARD", (std::string(ZRV_SOURCE_DIR) + "/boards/default.json").c_str(), 1);
    Device same("");  // the same board: one more handle on it
    EXPECT_EQ(zrv_open(board("sch3114.json").c_str(), &dev), ZRV_EBUSY);
    EXPECT_EQ(zrv_version(), static_cast<unsigned>(ZRV_VERSION));
}

// A transport that answers every request with one status and byte count,
// and keeps what it was sent.
struct Stub {
    int32_t status = ZRV_STATUS_SUCCESS;
    size_t bytes = 4;
    std::vector<std::vector<uint8_t>> sent;
    static int32_t ZRV_API request(void* c, uint32_t, const void* in, size_t inLen, void* out, size_t outLen,
                                   size_t* returned) {
        auto* s = static_cast<Stub*>(c);
        s->sent.emplace_back(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inLen);
        const uint8_t range[4] = {0xFF, 0x00, 0x03, 0x00};  // 255, seconds or minutes
        if (outLen > 0) std::memcpy(out, range, std::min(outLen, sizeof range));
        *returned = std::min(outLen, s->bytes);
        return s->status;
    }
};

TEST(Libzorvik, DriverStatusesAsErrorCodes) {
    const struct {
        int32_t status;
        size_t bytes;
        int err;
    } cases[] = {
        {ZRV_STATUS_SUCCESS, 2, ZRV_OK},
        {ZRV_STATUS_SUCCESS, 1, ZRV_EPROTO},  // a short answer
        {ZRV_STATUS_INVALID_PARAMETER, 0, ZRV_EINVAL},
        {ZRV_STATUS_NOT_SUPPORTED, 0, ZRV_ENOTSUP},
        {ZRV_STATUS_NOT_IMPLEMENTED, 0, ZRV_ENOTSUP},
        {ZRV_STATUS_UNSUCCESSFUL, 0, ZRV_EIO},
        {ZRV_STATUS_ACCESS_DENIED, 0, ZRV_EACCES},
        {ZRV_STATUS_INSUFFICIENT_RESOURCES, 0, ZRV_ENOMEM},
        {static_cast<int32_t>(0xC0000034u), 0, ZRV_EIO},
    };
    for (const auto& c : cases) {
        Stub stub{c.status, c.bytes, {}};
        zrv_device* dev = nullptr;
        ASSERT_EQ(zrv_open_transport(Stub::request, nullptr, &stub, &dev), ZRV_OK);
        unsigned in = 0;
        EXPECT_EQ(zrv_dio_lines(dev, &in, nullptr), c.err) << std::hex << c.status;
        EXPECT_EQ(zrv_last_status(dev), c.status);
        EXPECT_EQ(zrv_last_returned(dev), c.bytes);
        EXPECT_STRNE(zrv_strerror(c.err), zrv_strerror(1)) << "every code has its text";
        zrv_close(dev);
    }
    EXPECT_STRNE(zrv_strerror(ZRV_ERANGE), zrv_strerror(1));
    EXPECT_STRNE(zrv_strerror(ZRV_ENODEV), zrv_strerror(1));
    EXPECT_STRNE(zrv_strerror(ZRV_EBUSY), zrv_strerror(1));
}

TEST(Libzorvik, RecordsAsTheDriverTakesThemAndArgumentsRefusedBeforeSending) {
    Stub stub;
    zrv_device* dev = nullptr;
    ASSERT_EQ(zrv_open_transport(Stub::request, nullptr, &stub, &dev), ZRV_OK);
    // Argument refusals: nothing reaches the transport.
    EXPECT_EQ(zrv_fan_set(dev, 5, ZRV_FAN_MODE_ONOFF, 1), ZRV_EINVAL);
    EXPECT_EQ(zrv_fan_set(dev, 0, ZRV_FAN_MODE_AUTO, 1), ZRV_EINVAL);
    EXPECT_EQ(zrv_fan_auto(dev, 0, 40, 60, 128, 0), ZRV_EINVAL);
    EXPECT_EQ(zrv_fan_auto(dev, 0, 40, 60, 0, 8), ZRV_EINVAL);
    EXPECT_EQ(zrv_wdt_set(dev, 10, 3), ZRV_EINVAL);
    EXPECT_EQ(zrv_dio_set_line(dev, 16, 1), ZRV_EINVAL);
    EXPECT_EQ(zrv_dio_set_direction(dev, 0x100), ZRV_EINVAL);
    EXPECT_TRUE(stub.sent.empty());
    // The watchdog range is 255 seconds or minutes: 30 s, then 300 s and
    // 301 s as whole minutes, rounded up.
    const struct {
        unsigned seconds;
        std::vector<uint8_t> record;
    } timeouts[] = {{30, {0x1E, 0, 1, 0}}, {255, {0xFF, 0, 1, 0}}, {300, {5, 0, 2, 0}}, {301, {6, 0, 2, 0}}};
    for (const auto& t : timeouts) {
        stub.sent.clear();
        ASSERT_EQ(zrv_wdt_set_timeout(dev, t.seconds), ZRV_OK);
        ASSERT_EQ(stub.sent.size(), 2u);  // the range, then the record
        EXPECT_EQ(stub.sent[1], t.record) << t.seconds;
    }
    EXPECT_EQ(zrv_wdt_set_timeout(dev, 255 * 60 + 1), ZRV_ERANGE);
    WdtTimeout t;
    EXPECT_EQ(zrv_wdt_choose(255, 1, 256, &t), ZRV_ERANGE) << "seconds only";
    stub.sent.clear();
    EXPECT_EQ(zrv_cd_set(dev, 3, 1), ZRV_OK);
    EXPECT_EQ(zrv_fan_auto(dev, 2, 40, 60, 0x20, 5), ZRV_OK);
    EXPECT_EQ(stub.sent[0], std::vector<uint8_t>{0x31});
    EXPECT_EQ(stub.sent[1], (std::vector<uint8_t>{2, 2, 0, 40, 60, 0, 0x20, 5}));
    zrv_close(dev);
}

TEST(Libzorvik, ThreadsSharingOneDeviceKeepEachOthersLines) {
    Device d(board("default.json"));
    ASSERT_EQ(zrv_dio_write(d.dev, 0), ZRV_OK);
    std::vector<std::thread> threads;
    std::vector<int> failures(6, 0);
    // Each thread toggles its own line and reads it back: only it changes
    // that line, so another thread's read-modify-write must keep it.
    for (unsigned line = 0; line < 4; ++line)
        threads.emplace_back([&, line] {
            uint16_t w = 0;
            for (int i = 1; i <= 2000; ++i) {
                const int level = i % 2;
                failures[line] += zrv_dio_set_line(d.dev, line, level) != ZRV_OK ||
                                  zrv_dio_read_outputs(d.dev, &w) != ZRV_OK ||
                                  ((w >> line) & 1) != static_cast<unsigned>(level);
            }
        });
    for (unsigned r = 4; r < 6; ++r)
        threads.emplace_back([&, r] {
            HwmData raw;
            for (int i = 0; i < 50; ++i)
                failures[r] += zrv_hwm_read(d.dev, &raw) != ZRV_OK || raw.Fan1 != 2400;
        });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < failures.size(); ++i) EXPECT_EQ(failures[i], 0) << "thread " << i;
    uint16_t word = 0;
    ASSERT_EQ(zrv_dio_read_outputs(d.dev, &word), ZRV_OK);
    EXPECT_EQ(word, 0x0000u);
}

// A profile written for one row; the file goes with the object.
struct ProfileFile {
    std::string path;
    explicit ProfileFile(const std::string& json) {
        char name[] = "/tmp/zorvik-profile-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        FILE* f = fdopen(fd, "w");
        fputs(json.c_str(), f);
        fclose(f);
    }
    ~ProfileFile() { std::remove(path.c_str()); }
};

// Faults found by trying the library as a careless or hostile caller would:
// each row fails on the library that had the fault.
TEST(Libzorvik, FaultsCallersFound) {
    const struct {
        const char* fault;
        std::function<void()> check;
    } rows[] = {
        {"a timeout too long for the watchdog is refused, never sent as a count of 0",
         [] {
             for (const char* file : {"default.json", "w83627-88.json", "it8718f.json"}) {
                 SCOPED_TRACE(file);
                 Device d(board(file));
                 unsigned resets = 0;
                 ASSERT_EQ(zrv_wdt_set_timeout(d.dev, 60), ZRV_OK);
                 for (unsigned huge : {4294967295u, 4294967237u, 65535u * 60 + 1})
                     EXPECT_EQ(zrv_wdt_set_timeout(d.dev, huge), ZRV_ERANGE) << huge;
                 EXPECT_EQ(zrv_wdt_set(d.dev, 0, ZRV_WDT_UNIT_SECONDS), ZRV_ERANGE);
                 // The 60 s set before stands: the board resets then, not at once.
                 ASSERT_EQ(zrv_wdt_start(d.dev), ZRV_OK);
                 zrv_board_advance(d.dev, 59000);
                 ASSERT_EQ(zrv_board_resets(d.dev, &resets), ZRV_OK);
                 EXPECT_EQ(resets, 0u);
                 zrv_board_advance(d.dev, 2000);
                 zrv_board_resets(d.dev, &resets);
                 EXPECT_EQ(resets, 1u);
             }
             WdtTimeout t;
             EXPECT_EQ(zrv_wdt_choose(UINT_MAX, ZRV_WDT_UNIT_MINUTES, UINT_MAX, &t), ZRV_ERANGE);
         }},
        {"a label is cut where a character starts",
         [] {
             const std::string label =
                 std::string(46, 'a') + "\xc3\xa9";  // 48 bytes, the last two one character
             ProfileFile f(R"({"channels": {"temp1": {"label": ")" + label + R"("}}})");
             zrv_profile* p = nullptr;
             ASSERT_EQ(zrv_profile_load(f.path.c_str(), &p, nullptr, 0), ZRV_OK);
             HwmData raw{};
             zrv_sensor s[1];
             size_t n = 0;
             ASSERT_EQ(zrv_sensors_of(p, &raw, s, 1, &n), ZRV_OK);
             EXPECT_EQ(std::string(s[0].label), std::string(46, 'a'));
             zrv_profile_free(p);
         }},
        {"two devices on one board in two threads: no rule broken, so no ZRV_EPROTO",
         [] {
             Device a(board("default.json")), b(board("default.json"));
             int broken[2] = {0, 0};
             auto hammer = [&](zrv_device* dev, int* count) {
                 // Configuration brackets of the Super I/O chip, each open
                 // for a moment while the other thread's requests run.
                 for (int i = 0; i < 5000; ++i)
                     *count += (zrv_wdt_set(dev, 255, ZRV_WDT_UNIT_MINUTES) == ZRV_EPROTO) +
                               (zrv_wdt_stop(dev) == ZRV_EPROTO);
             };
             std::thread other(hammer, b.dev, &broken[1]);
             hammer(a.dev, &broken[0]);
             other.join();
             EXPECT_EQ(broken[0] + broken[1], 0);
         }},
        {"a code with another transfer method gets the driver's answer",
         [] {
             Device d(board("default.json"));
             const uint32_t neither = IOCTL_DIO_GET_INPUT | 3u;
             uint8_t out[2];
             for (int i = 0; i < 2000; ++i)
                 ASSERT_EQ(zrv_ioctl(d.dev, neither, nullptr, 0, out, sizeof out, nullptr), ZRV_EINVAL);
             EXPECT_EQ(zrv_last_status(d.dev), ZRV_STATUS_INVALID_PARAMETER);
             uint16_t word = 0;
             EXPECT_EQ(zrv_dio_read(d.dev, &word), ZRV_OK);
         }},
        {"the last status is the calling thread's",
         [] {
             Device d(board("default.json"));
             EXPECT_EQ(zrv_ioctl(d.dev, 0x88200000u, nullptr, 0, nullptr, 0, nullptr), ZRV_EINVAL);
             std::thread([&] {
                 uint16_t word = 0;
                 EXPECT_EQ(zrv_dio_read(d.dev, &word), ZRV_OK);
                 EXPECT_EQ(zrv_last_returned(d.dev), 2u);
             }).join();
             EXPECT_EQ(zrv_last_status(d.dev), ZRV_STATUS_INVALID_PARAMETER);
             EXPECT_EQ(zrv_last_returned(d.dev), 0u);
         }},
        {"every error code has a text, INT_MIN too",
         [] {
             for (int err : {INT_MIN, INT_MIN + 1, -10, 1, INT_MAX})
                 EXPECT_STREQ(zrv_strerror(err), "unknown error");
         }},
        {"a write whose outputs do not change is no success",
         [] {
             Device d(board("port-regtypes.json"));  // four output lines, none wired
             EXPECT_EQ(zrv_dio_write(d.dev, 0x000F), ZRV_EIO);
             EXPECT_EQ(zrv_last_status(d.dev), ZRV_STATUS_SUCCESS);
             EXPECT_EQ(zrv_dio_set_line(d.dev, 2, 1), ZRV_EIO);
         }},
        {"a thread's last status on a device outlives its requests on 9 other devices",
         [] {
             Stub refusing{ZRV_STATUS_INVALID_PARAMETER, 0, {}}, others[9];
             zrv_device* dev = nullptr;
             ASSERT_EQ(zrv_open_transport(Stub::request, nullptr, &refusing, &dev), ZRV_OK);
             EXPECT_EQ(zrv_wdt_start(dev), ZRV_EINVAL);
             for (Stub& o : others) {
                 zrv_device* other = nullptr;
                 ASSERT_EQ(zrv_open_transport(Stub::request, nullptr, &o, &other), ZRV_OK);
                 EXPECT_EQ(zrv_wdt_limits(other, nullptr, nullptr), ZRV_OK);
                 EXPECT_EQ(zrv_last_returned(other), 4u);
                 zrv_close(other);
             }
             EXPECT_EQ(zrv_last_status(dev), ZRV_STATUS_INVALID_PARAMETER);
             zrv_close(dev);
         }},
        {"the board's time stops at its end instead of running backwards",
         [] {
             Device d(board("port-plain.json"));
             ASSERT_EQ(zrv_wdt_set(d.dev, 5, ZRV_WDT_UNIT_SECONDS), ZRV_OK);
             ASSERT_EQ(zrv_board_advance_ms(d.dev, 1000), ZRV_OK);
             ASSERT_EQ(zrv_wdt_start(d.dev), ZRV_OK);
             uint64_t now = 0, at[2] = {0, 0};
             size_t resets = 0;
             for (int i = 0; i < 2; ++i) {
                 EXPECT_EQ(zrv_board_advance_ms(d.dev, UINT64_MAX), ZRV_OK);
                 EXPECT_EQ(zrv_board_now(d.dev, &now), ZRV_OK);
                 EXPECT_EQ(now, UINT64_MAX);
             }
             EXPECT_EQ(zrv_board_reset_times(d.dev, at, 2, &resets), ZRV_OK);
             EXPECT_EQ(resets, 1u);
             EXPECT_EQ(at[0], 6000u) << "five seconds after the start";
         }},
        {"pins beyond the direction mask's byte are refused when the profile loads",
         [] {
             const std::string eight = R"("p0","p1","p2","p3","p4","p5","p6","p7")";
             ProfileFile ok(R"({"lines": {"pins": [)" + eight + R"(, null], "direction": "0x0f"}})");
             ProfileFile nine(R"({"lines": {"pins": [)" + eight + R"(, "p8"], "direction": "0x0f"}})");
             zrv_profile* p = nullptr;
             char why[200];
             ASSERT_EQ(zrv_profile_load(ok.path.c_str(), &p, why, sizeof why), ZRV_OK) << why;
             EXPECT_EQ(zrv_profile_pin_count(p), 9u);
             zrv_profile_free(p);
             EXPECT_EQ(zrv_profile_load(nine.path.c_str(), &p, why, sizeof why), ZRV_EINVAL);
             EXPECT_NE(std::string(why).find("pins[8]: 'p8'"), std::string::npos) << why;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        row.check();
    }
}

}  // namespace

namespace {
std::string slurpFile(const std::string& path) {
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}
}  // namespace

// A program that runs the virtual board itself, as zrvctl --sim does: its
// files, its time and resets, its lines, its registry, a read-only handle,
// the unload and the rules broken; and none of it without a virtual board.
TEST(Libzorvik, TheVirtualBoardAsAProgramThatRunsItSeesIt) {
    const std::string dir = testing::TempDir();
    const std::string trace = dir + "zrv-board.trace", dbg = dir + "zrv-board.dbg";
    const std::string file = std::string(ZRV_SOURCE_DIR) + "/boards/port-plain.json";
    std::remove(trace.c_str()), std::remove(dbg.c_str());
    ASSERT_EQ(zrv_board_files(trace.c_str(), dbg.c_str()), ZRV_OK);
    zrv_device* dev = nullptr;
    int32_t load = -1;
    char why[256] = "x";
    ASSERT_EQ(zrv_board_open(file.c_str(), &dev, &load, why, sizeof why), ZRV_OK);
    EXPECT_EQ(load, ZRV_STATUS_SUCCESS);
    EXPECT_STREQ(why, "");

    // A handle for reading only: the I/O manager refuses the watchdog.
    zrv_device* reader = nullptr;
    EXPECT_EQ(zrv_open_ex(("sim:" + file).c_str(), 2, &reader), ZRV_EINVAL);
    ASSERT_EQ(zrv_open_ex(("sim:" + file).c_str(), ZRV_OPEN_READ_ONLY, &reader), ZRV_OK);
    EXPECT_EQ(zrv_wdt_start(reader), ZRV_EACCES);
    EXPECT_EQ(zrv_last_status(reader), ZRV_STATUS_ACCESS_DENIED);
    uint16_t word = 0;
    EXPECT_EQ(zrv_dio_read(reader, &word), ZRV_OK);

    // Five seconds on the port watchdog, left alone for six.
    ASSERT_EQ(zrv_wdt_set(dev, 5, ZRV_WDT_UNIT_SECONDS), ZRV_OK);
    ASSERT_EQ(zrv_board_advance_ms(dev, 1000), ZRV_OK);
    ASSERT_EQ(zrv_wdt_start(dev), ZRV_OK);
    ASSERT_EQ(zrv_board_advance_ms(dev, 6000), ZRV_OK);
    uint64_t now = 0, at[2] = {0, 0};
    size_t count = 9;
    EXPECT_EQ(zrv_board_now(dev, &now), ZRV_OK);
    EXPECT_EQ(now, 7000u);
    EXPECT_EQ(zrv_board_reset_times(dev, nullptr, 0, &count), ZRV_ERANGE);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(zrv_board_reset_times(dev, at, 2, &count), ZRV_OK);
    EXPECT_EQ(at[0], 6000u) << "five seconds after the start";

    // Lines by the emulated devices' names, against what the driver reads
    // and writes: DI2 is input line 2, DO5 output line 5.
    int level = -1;
    EXPECT_EQ(zrv_board_set_pin(dev, "DI2", 1), ZRV_OK);
    EXPECT_EQ(zrv_dio_read(dev, &word), ZRV_OK);
    EXPECT_EQ(word & 0x4, 0x4);
    EXPECT_EQ(zrv_dio_set_line(dev, 5, 1), ZRV_OK);
    EXPECT_EQ(zrv_board_pin(dev, "DO5", &level), ZRV_OK);
    EXPECT_EQ(level, 1);
    EXPECT_EQ(zrv_board_set_pin(dev, "NOPE", 1), ZRV_EINVAL);
    EXPECT_EQ(zrv_board_pin(dev, "NOPE", &level), ZRV_EINVAL);

    // The registry the driver loaded, and its file.
    char path[512], tiny[4], name[64];
    EXPECT_EQ(zrv_board_registry_file(dev, path, sizeof path), ZRV_OK);
    EXPECT_NE(std::string(path).find("port-plain.reg"), std::string::npos) << path;
    EXPECT_EQ(zrv_board_registry_file(dev, tiny, sizeof tiny), ZRV_ERANGE);
    unsigned values = 0;
    EXPECT_EQ(zrv_board_reg_count(dev, "NOKEY", &values), ZRV_EINVAL);
    ASSERT_EQ(zrv_board_reg_count(dev, "WDT", &values), ZRV_OK);
    bool start = false;
    for (unsigned i = 0; i < values; ++i) {
        uint32_t type = 0;
        uint8_t data[4] = {0, 0, 0, 0};
        size_t length = 0;
        ASSERT_EQ(zrv_board_reg_value(dev, "WDT", i, name, sizeof name, &type, data, sizeof data, &length),
                  ZRV_OK);
        uint8_t alone[4] = {0, 0, 0, 0};  // without a name buffer: the same value
        size_t aloneLength = 0;
        EXPECT_EQ(zrv_board_reg_value(dev, "WDT", i, nullptr, 0, nullptr, alone, sizeof alone, &aloneLength),
                  ZRV_OK)
            << name;
        EXPECT_TRUE(aloneLength == length && std::memcmp(alone, data, sizeof data) == 0) << name;
        if (std::string(name) == "Start")
            start = type == 4 && length == 4 && data[0] == 0x43 && data[1] == 0x84 && data[2] == 0 &&
                    data[3] == 0;
    }
    EXPECT_TRUE(start) << "WDT \"Start\"=dword:00008443";
    EXPECT_EQ(zrv_board_reg_value(dev, "WDT", values, name, sizeof name, nullptr, nullptr, 0, nullptr),
              ZRV_EINVAL);

    // The driver unloads with its last handle only; the board stays.
    EXPECT_EQ(zrv_board_unload(dev), ZRV_EBUSY);
    zrv_close(reader);
    ASSERT_EQ(zrv_board_unload(dev), ZRV_OK);
    EXPECT_NE(zrv_wdt_kick(dev), ZRV_OK) << "no driver after the unload";
    EXPECT_EQ(zrv_board_now(dev, &now), ZRV_OK);
    for (unsigned kind : {ZRV_BREACH_PLATFORM, ZRV_BREACH_HARDWARE, ZRV_BREACH_UNCLAIMED}) {
        unsigned n = 9;
        EXPECT_EQ(zrv_board_breach_count(dev, kind, &n), ZRV_OK) << kind;
        EXPECT_EQ(n, 0u) << kind;
        EXPECT_EQ(zrv_board_breach(dev, kind, 0, name, sizeof name), ZRV_EINVAL) << kind;
    }
    EXPECT_EQ(zrv_board_breach_count(dev, 3, &values), ZRV_EINVAL);
    zrv_close(dev);
    EXPECT_NE(slurpFile(trace).find("out 0x0443 0x05\n"), std::string::npos) << "the start, in the trace";
    std::FILE* made = std::fopen(dbg.c_str(), "rb");
    EXPECT_NE(made, nullptr) << "the debugger file (this board's driver prints nothing)";
    if (made != nullptr) std::fclose(made);

    // A board file at fault says why; none of it without a virtual board.
    const std::string bad = dir + "zrv-bad.json";
    if (std::FILE* f = std::fopen(bad.c_str(), "wb")) {
        std::fputs("{\"name\": 5}", f);
        std::fclose(f);
    }
    EXPECT_EQ(zrv_board_open(bad.c_str(), &dev, &load, why, sizeof why), ZRV_ENODEV);
    EXPECT_NE(std::string(why).find("zrv-bad.json"), std::string::npos) << why;
    EXPECT_EQ(load, ZRV_STATUS_SUCCESS);
    Stub stub;
    ASSERT_EQ(zrv_open_transport(Stub::request, nullptr, &stub, &dev), ZRV_OK);
    const std::function<int()> calls[] = {
        [&] { return zrv_board_now(dev, &now); },
        [&] { return zrv_board_advance_ms(dev, 1); },
        [&] { return zrv_board_reset_times(dev, at, 2, &count); },
        [&] { return zrv_board_set_pin(dev, "DI2", 1); },
        [&] { return zrv_board_pin(dev, "DI2", &level); },
        [&] { return zrv_board_registry_file(dev, path, sizeof path); },
        [&] { return zrv_board_reg_count(dev, "WDT", &values); },
        [&] { return zrv_board_reg_value(dev, "WDT", 0, name, sizeof name, nullptr, nullptr, 0, nullptr); },
        [&] { return zrv_board_unload(dev); },
        [&] { return zrv_board_breach_count(dev, ZRV_BREACH_PLATFORM, &values); },
        [&] { return zrv_board_breach(dev, ZRV_BREACH_PLATFORM, 0, name, sizeof name); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(), ZRV_ENOTSUP);
    EXPECT_TRUE(stub.sent.empty());
    zrv_close(dev);
    std::remove(trace.c_str()), std::remove(dbg.c_str()), std::remove(bad.c_str());
}

namespace {

// The port trace of a run on the default board with a read-only device
// beside the read/write one: `onReader` runs on the reader, then one input
// read, then both close and the driver unloads.
std::string traceWithReader(const std::function<void(zrv_device*)>& onReader) {
    const std::string trace = testing::TempDir() + "zrv-reader.trace";
    EXPECT_EQ(zrv_board_files(trace.c_str(), ""), ZRV_OK);
    {
        Device writer(board("default.json"));
        zrv_device* reader = nullptr;
        EXPECT_EQ(zrv_open_ex(board("default.json").c_str(), ZRV_OPEN_READ_ONLY, &reader), ZRV_OK);
        onReader(reader);
        uint16_t word = 0;
        EXPECT_EQ(zrv_dio_read(reader, &word), ZRV_OK) << "a read-only device reads";
        zrv_close(reader);
    }
    zrv_board_files(nullptr, nullptr);
    std::string text = slurpFile(trace);
    std::remove(trace.c_str());
    return text;
}

}  // namespace

// A device opened for reading only changes nothing on the board: every
// request that writes is refused before it is sent, as the I/O manager
// refuses the codes of write access; the port trace is that of a run that
// only reads.
TEST(Libzorvik, AReadOnlyDeviceWritesNothing) {
    const uint8_t fan[8] = {0, ZRV_FAN_MODE_DUTY, 0x40, 0, 0, 0, 0, 0}, outputs[2] = {0xFF, 0};
    const struct {
        const char* call;
        std::function<int(zrv_device*)> write;
    } writes[] = {
        {"zrv_fan_set", [](zrv_device* d) { return zrv_fan_set(d, 0, ZRV_FAN_MODE_DUTY, 0x40); }},
        {"zrv_fan_auto", [](zrv_device* d) { return zrv_fan_auto(d, 0, 40, 60, 0x20, 3); }},
        {"zrv_dio_write", [](zrv_device* d) { return zrv_dio_write(d, 0xFF); }},
        {"zrv_dio_write_back", [](zrv_device* d) { return zrv_dio_write_back(d, 0x0F, nullptr); }},
        {"zrv_dio_set_direction", [](zrv_device* d) { return zrv_dio_set_direction(d, 0x0F); }},
        {"zrv_wdt_set", [](zrv_device* d) { return zrv_wdt_set(d, 5, ZRV_WDT_UNIT_SECONDS); }},
        {"zrv_wdt_start", [](zrv_device* d) { return zrv_wdt_start(d); }},
        {"zrv_wdt_kick", [](zrv_device* d) { return zrv_wdt_kick(d); }},
        {"zrv_wdt_stop", [](zrv_device* d) { return zrv_wdt_stop(d); }},
        {"zrv_cd_pulse", [](zrv_device* d) { return zrv_cd_pulse(d, 1); }},
        {"zrv_cd_set", [](zrv_device* d) { return zrv_cd_set(d, 1, 1); }},
        {"zrv_ioctl fan",
         [&](zrv_device* d) { return zrv_ioctl(d, IOCTL_HWM_FAN_CONTROL, fan, 8, nullptr, 0, nullptr); }},
        {"zrv_ioctl outputs",
         [&](zrv_device* d) { return zrv_ioctl(d, IOCTL_DIO_SET_OUTPUT, outputs, 2, nullptr, 0, nullptr); }},
    };
    const std::string reading = traceWithReader([](zrv_device*) {});
    const std::string refused = traceWithReader([&](zrv_device* reader) {
        for (const auto& w : writes) {
            EXPECT_EQ(w.write(reader), ZRV_EACCES) << w.call;
            EXPECT_EQ(zrv_last_status(reader), ZRV_STATUS_ACCESS_DENIED) << w.call;
        }
    });
    EXPECT_NE(reading.find("in "), std::string::npos) << "the trace of the load and the read";
    EXPECT_EQ(refused, reading);
}

// zrv_board_unload from one thread while another sends requests on the same
// device, on every example board: the unload waits for the request in
// flight, every request before it is answered as the board answers it, and
// every one after it fails; the driver and the hardware break no rule.
// (Run it under ThreadSanitizer too: the tsan preset.)
TEST(Libzorvik, UnloadWaitsForTheRequestInFlight) {
    for (const BoardRow& b : kBoards) {
        SCOPED_TRACE(b.file);
        zrv_device* dev = nullptr;
        ASSERT_EQ(zrv_open(board(b.file).c_str(), &dev), ZRV_OK);
        // Each request's answer while the driver is loaded.
        const struct {
            int (*send)(zrv_device*);
            int loaded;
        } requests[] = {
            {[](zrv_device* d) { return zrv_dio_read(d, nullptr); }, absent(b.inputs, ZRV_OK)},
            {[](zrv_device* d) { return zrv_hwm_read(d, nullptr); }, b.hwm ? ZRV_OK : ZRV_ENOTSUP},
            {[](zrv_device* d) { return zrv_wdt_limits(d, nullptr, nullptr); }, absent(b.wdtMax, ZRV_OK)},
        };
        std::atomic<int> rounds{0};
        std::atomic<bool> unloaded{false};
        int wrong = 0, afterUnload = 0;
        std::thread sender([&] {
            bool gone = false;  // a request has failed for the unload
            for (bool last = false; !last;) {
                last = unloaded.load();
                for (const auto& r : requests) {
                    const int err = r.send(dev);
                    gone = gone || err == ZRV_EIO;
                    wrong += err != (gone ? ZRV_EIO : r.loaded);
                    afterUnload += last && err == ZRV_EIO;
                }
                rounds.fetch_add(1);
            }
        });
        while (rounds.load() < 2) std::this_thread::yield();
        EXPECT_EQ(zrv_board_unload(dev), ZRV_OK);
        unloaded.store(true);
        sender.join();
        EXPECT_EQ(wrong, 0) << "an answer neither the board's nor a failure after the unload";
        EXPECT_EQ(afterUnload, 3) << "every request after the unload fails";
        for (unsigned kind : {ZRV_BREACH_PLATFORM, ZRV_BREACH_HARDWARE}) {
            unsigned n = 9;
            EXPECT_EQ(zrv_board_breach_count(dev, kind, &n), ZRV_OK);
            EXPECT_EQ(n, 0u) << "breach kind " << kind;
        }
        zrv_close(dev);
    }
}
