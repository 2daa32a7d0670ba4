// Corners of the chips and port back-ends, one row per case: the board as a
// board file gives it, the driver loaded on it, then requests. Each row
// checks the port accesses and debugger lines of the load, what each request
// answers (and touched), and the board resets a watchdog caused.
#include <fmt/format.h>

#include <algorithm>

#include "sim/board.h"
#include "tests/f81865_board.h"
#include "tests/it87_board.h"
#include "tests/support/answers.h"
#include "tests/support/board_rows.h"
#include "tests/support/ports.h"
#include "tests/w83627_board.h"

namespace {

using namespace siotest;
using zrvtest::le16;
using zrvtest::le32;
using zrvtest::timeoutRecord;

using zrvtest::chip;
using zrvtest::kAny;
using zrvtest::kNotBound;
using zrvtest::kOk;
using zrvtest::portKey;
using zrvtest::run;
using zrvtest::with;
using Corner = zrvtest::BoardRow;

// Monitor at 0x290 with fan 1 at 9000 rpm; GPIO group 1, lines 0..3 inputs.
const std::string kW83627Body =
    R"("config": {"0x0b": {"0x60": "0x02", "0x61": "0x90", "0x40": "0x01"}, "7": {"0x30": "0x01", "0xf0": "0x0f"}},
       "fan_rpm": {"1": 9000})";
const std::string kIt87Body = R"("config": {"4": {"0x60": "0x02", "0x61": "0x90", "0x30": "0x01"}})";
const std::string kSchBody = R"("config": {"0x0a": {"0x60": "0x0a", "0x61": "0x00"}})";

const std::string kPortWatchdog =
    R"({"type": "port-watchdog", "start": {"access": "write", "port": "0x443"},
        "refresh": {"access": "write", "port": "0x443"}, "stop": {"access": "read", "port": "0x843"}})";

// Each accepted ID of each list once: the watchdog runs out at its count.
Corner watchdogFires(const char* type, uint32_t id, uint32_t code, const std::string& body) {
    return {fmt::format("{} {:#x} watchdog", type, id),
            chip(type, id, body),
            hwmKey(kNoChip) + wdtKey(code) + noDio(),
            kAny,
            kAny,
            {{IOCTL_WDT_SET_TIMEOUT, timeoutRecord(5, 1), 0, kOk}, {IOCTL_WDT_START, {}, 0, kOk}},
            5000,
            1};
}
Corner w83627Monitor(uint32_t id) {
    return {fmt::format("w83627 {:#x} monitor", id),
            chip("w83627", id, kW83627Body),
            hwmKey(1) + wdtKey(kNoChip) + noDio(),
            kAny,
            kAny,
            {{IOCTL_HWM_GET_DATA, {}, 36, kOk, le32(9000)}}};
}
Corner w83627Gpio(uint32_t id) {
    return {fmt::format("w83627 {:#x} GPIO", id),
            chip("w83627", id, kW83627Body),
            hwmKey(kNoChip) + wdtKey(kNoChip) + dioGroupKey(1, 1, 0),
            kAny,
            kAny,
            {{IOCTL_DIO_GET_CONFIG, {}, 2, kOk, {4, 4}}, {IOCTL_DIO_GET_INPUT, {}, 2, kOk, {0x0F, 0}}}};
}

TEST(Corners, EveryAcceptedIdOfEveryList) {
    std::vector<Corner> rows;
    for (uint32_t id : {0x52, 0x59, 0x82, 0x88, 0xA0, 0xA2, 0xB0, 0x60, 0x68}) {
        rows.push_back(watchdogFires("w83627", id, 1, ""));
        rows.push_back(w83627Gpio(id));
    }
    for (uint32_t id : {0x52, 0x82, 0x88, 0xA0, 0xB0, 0xA2, 0x60}) rows.push_back(w83627Monitor(id));
    for (uint32_t id : {0x8712, 0x8718, 0x8783}) rows.push_back(watchdogFires("it87", id, 0, kIt87Body));
    for (uint32_t id : {0x0208, 0x0216}) rows.push_back(watchdogFires("f81216", id, 4, ""));
    for (uint32_t id : {0x7D, 0x7C, 0x7F}) rows.push_back(watchdogFires("sch3114", id, 5, kSchBody));
    for (uint32_t id : {0x0704, 0x1010}) rows.push_back(watchdogFires("f81865", id, 6, ""));
    for (const Corner& c : rows) run(c);
}

// A watchdog started, and restarted, before any timeout was set (count 0)
// does not count on any chip: both requests say so, the count register is
// written with 0, the F81865's run bit stays clear, and nothing fires. The
// F81865 itself fires at once on a count of 0 with its run bit set.
Corner startsWithCountZero(const char* type, uint32_t id, uint32_t code, const std::string& body,
                           const Lines& start) {
    const Corner c = watchdogFires(type, id, code, body);
    constexpr ZrvStatus kStill = ZRV_STATUS_INVALID_DEVICE_STATE;
    return {c.what + " started with count 0",
            c.hardware,
            c.registry,
            kAny,
            kAny,
            {{IOCTL_WDT_START, {}, 0, kStill, {}, start}, {IOCTL_WDT_RESET, {}, 0, kStill}},
            600000,
            0};
}

TEST(Corners, StartWithCountZeroNeverFires) {
    const Lines f81865 = Trace(0x2E).enter().select(7).wr(0xF6, 0).rd(0xF5, 0).wr(0xF5, 0).exit();
    const Corner rows[] = {
        startsWithCountZero("w83627", 0x88, 1, "", Trace(0x2E).enter().select(8).wr(0xF6, 0).exit()),
        startsWithCountZero("it87", 0x8718, 0, kIt87Body, kAny),
        startsWithCountZero("f81216", 0x0216, 4, "", kAny),
        startsWithCountZero("sch3114", 0x7C, 5, kSchBody, kAny),
        startsWithCountZero("f81865", 0x0704, 6, "", f81865),
        startsWithCountZero("f81865", 0x1010, 6, "", f81865),
    };
    for (const Corner& c : rows) run(c);
}

// W83627 (ID 0x88) fan divisors, every fan at 9000 rpm: bit 2 of fans 1 and
// 2 from 0x5D bits 5 and 6, fans 4 and 5 from 0x59 (bits 1..0, 3..2 and 7)
// and 0x4C bit 7. The emulated counts follow the divisors the chip decodes.
TEST(Corners, W83627FanDivisors) {
    struct Row {
        const char* regs;  // 0x47, 0x4C; bank 0: 0x59, 0x5D
        uint32_t fans[5];
    };
    const Row rows[] = {
        {R"("0x47": "0x50", "0x4c": "0x00"}, "hwm_banks": {"0": {"0x59": "0x00", "0x5d": "0x20"})",
         {10546, 9000, 9000, 9000, 9000}},
        {R"("0x47": "0x50", "0x4c": "0x00"}, "hwm_banks": {"0": {"0x59": "0x00", "0x5d": "0x40"})",
         {9000, 10546, 9000, 9000, 9000}},
        {R"("0x47": "0x00", "0x4c": "0x00"}, "hwm_banks": {"0": {"0x59": "0x84", "0x5d": "0x00"})",
         {9000, 9000, 9000, 9000, 10546}},
        {R"("0x47": "0x00", "0x4c": "0x80"}, "hwm_banks": {"0": {"0x59": "0x0b", "0x5d": "0x00"})",
         {9000, 9000, 9000, 10546, 9121}},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> fans;
        for (uint32_t f : row.fans) {
            const auto b = le32(f);
            fans.insert(fans.end(), b.begin(), b.end());
        }
        run({row.regs,
             chip("w83627", 0x88,
                  std::string(R"("config": {"0x0b": {"0x60": "0x02", "0x61": "0x90", "0x40": "0x01"}},)") +
                      R"("fan_rpm": {"1": 9000, "2": 9000, "3": 9000, "4": 9000, "5": 9000}, "hwm": {)" +
                      row.regs + "}"),
             hwmKey(1) + wdtKey(kNoChip) + noDio(),
             kAny,
             kAny,
             {{IOCTL_HWM_GET_DATA, {}, 36, kOk, fans}}});
    }
}

// W83627 GPIO groups 3, 4 and 5 (logical device 9): their set-up test runs
// whole, and the group is refused both when it passes (no data register to
// serve) and when it fails. Group 5 reads 0x2D only once its bit is set.
TEST(Corners, W83627GpioGroupsWithoutADataRegister) {
    struct Row {
        uint32_t group;
        uint8_t activate, reg2D;
        bool passes, reads2D;
    };
    const Row rows[] = {
        {3, 0x02, 0xFF, true, false},  {3, 0x0D, 0xFF, false, false}, {4, 0x04, 0xFF, true, false},
        {4, 0x0B, 0xFF, false, false}, {5, 0x08, 0xFF, true, true},   {5, 0x08, 0xFE, false, true},
        {5, 0x07, 0xFF, false, false},
    };
    for (const Row& r : rows) {
        Trace t(0x2E);
        t.enter().rd(0x20, 0x88).select(9).rd(0x30, r.activate);
        if (r.reads2D) t.rd(0x2D, r.reg2D);
        const std::string why = r.passes ? "has no data register on ID 88" : "failed its set-up test (ID 88)";
        run({fmt::format("group {} activate {:#x}", r.group, r.activate),
             chip("w83627", 0x88,
                  fmt::format(R"("config": {{"global": {{"0x2d": "{:#x}"}}, "9": {{"0x30": "{:#x}"}}}})",
                              r.reg2D, r.activate)),
             hwmKey(kNoChip) + wdtKey(kNoChip) + dioGroupKey(1, r.group, 0),
             t.exit().lines(),
             {fmt::format("DIO_W83627_SelectGroup group {} {}, digital I/O not bound", r.group, why)},
             {{IOCTL_DIO_GET_CONFIG, {}, 2, kNotBound}}});
    }
}

// An IT8712F that answers only at 0x4E: its version byte, read at that pair,
// gives the watchdog an 8-bit count (version 7) or a 16-bit one (8).
TEST(Corners, It8712fOnlyAt4E) {
    for (auto [version, max] : {std::pair<uint8_t, uint16_t>{0x07, 255}, {0x08, 65535}}) {
        Trace t = it87test::it87Trace(0x2E);
        t.enter().rd(0x20, 0xFF).rd(0x21, 0xFF).rd(0x22, 0xFF).exit();
        Trace t4e = it87test::it87Trace(0x4E);
        t4e.enter().rd(0x20, 0x87).rd(0x21, 0x12).rd(0x22, version).exit();
        Lines load = t.lines();
        load.insert(load.end(), t4e.lines().begin(), t4e.lines().end());
        run({fmt::format("version {}", version),
             chip("it87", 0x8712, fmt::format(R"("config": {{"global": {{"0x22": "{:#x}"}}}})", version),
                  0x4E),
             hwmKey(kNoChip) + wdtKey(0) + noDio(),
             load,
             {},
             {{IOCTL_WDT_GET_TIMEOUT, {}, 4, kOk, timeoutRecord(max, 3), {}}}});
    }
}

// Found with random boards. Monitor bases with their low bits set are taken
// as the chips decode them (aligned to eight ports, so no pair runs past
// 0xFFFF); monitors whose logical device is not active are not bound; a port
// watchdog without a stop action refuses the stop and fires; port line
// counts beyond the line word refuse the port digital I/O.
TEST(Corners, RandomBoardFindings) {
    Trace w83627At295(0x2E, 0x0290);
    w83627test::monitorProbe(w83627At295, 0x88, 0x0295, 0, 0, 0).hrd(0x59, 0x00).hrd(0x4C, 0x00);
    const std::string w83627Base295 =
        R"("config": {"0x0b": {"0x60": "0x02", "0x61": "0x95", "0x40": "0x01"}}, "fan_rpm": {"1": 9000})";
    const auto it87At = [](uint16_t base, uint8_t active) {
        return fmt::format(R"("config": {{"4": {{"0x60": "{:#x}", "0x61": "{:#x}", "0x30": "{:#x}"}}}})",
                           base >> 8, base & 0xFF, active);
    };
    const auto it87Load = [](uint16_t base, uint8_t active, uint16_t monitor) {
        Trace t = it87test::it87Trace(0x2E, monitor);
        t.enter().rd(0x20, 0x87).rd(0x21, 0x18).select(4).rd(0x61, base & 0xFF).rd(0x60, base >> 8);
        t.rd(0x30, active).exit();
        if (monitor != 0) t.hwr(0x0C, 0x37);
        return t.lines();
    };
    // An IT8718F whose device 4 has this base and activation, the monitor
    // alone bound: the load's set-up accesses, with the monitor at `monitor`.
    const auto it87Row = [&](uint16_t base, uint8_t active, uint16_t monitor, const Lines& debug,
                             const std::vector<zrvtest::RowRequest>& requests) {
        return Corner{fmt::format("it87 base {:#x} active {:#x}", base, active),
                      chip("it87", 0x8718, it87At(base, active)),
                      hwmKey(0) + wdtKey(kNoChip) + noDio(),
                      it87Load(base, active, monitor),
                      debug,
                      requests};
    };
    const std::string itInactive =
        "HWM_IT87 logical device 4 is not active (0x02), hardware monitor not bound";
    Trace f81865Load(0x2E);
    f81865test::monitorReads(f81865test::probed(f81865Load, 0x1010), 0x0A00, 0x00).exit();
    const Lines f81865Debug =
        with(f81865test::detectLines(0x1010, 0, true),
             f81865test::monitorLines(
                 0x0A00, "HWM_F81865 logical device 4 is not active (0x00), hardware monitor not bound"));
    const std::vector<zrvtest::RowRequest> startThenStop = {
        {IOCTL_WDT_SET_TIMEOUT, timeoutRecord(60, 1), 0, kOk},
        {IOCTL_WDT_START, {}, 0, kOk, {}, {"out 0x0443 0x3c"}},
        {IOCTL_WDT_STOP, {}, 0, kNotBound, {}, {}}};
    const std::string portDio = hwmKey(kNoChip) + wdtKey(kNoChip);
    const char* wordRefusal = "DIO_Port {} {} is more than a line word carries, digital I/O not bound";
    // A monitor block below 0x100, over the PCI configuration ports, or whose
    // pair would run past 0xFFFF, is refused by every chip with its own line;
    // the monitor stays unbound.
    const auto monitorAt = [](const char* type, uint32_t id, uint32_t code, const char* device,
                              const char* extra, uint16_t base, Lines debug, ZrvStatus status) {
        const std::string body = fmt::format(R"("config": {{"{}": {{"0x60": "{:#x}", "0x61": "{:#x}"{}}}}})",
                                             device, base >> 8, base & 0xFF, extra);
        return Corner{fmt::format("{} monitor at {:#x}", type, base),
                      chip(type, id, body),
                      hwmKey(code) + wdtKey(kNoChip) + noDio(),
                      kAny,
                      debug,
                      {{IOCTL_HWM_GET_DATA, {}, 36, status}}};
    };
    const char* notMonitor = "{} BaseAddr 0x{:04x} is not a monitor base, hardware monitor not bound";
    const char* notRuntime = "Detect_SCH3114 RuntimeBase 0x{:04x} is not a runtime block, SCH3114 not bound";
    const Corner rows[] = {
        monitorAt("w83627", 0x88, 1, "0x0b", R"(, "0x40": "0x01")", 0x00F8,
                  {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 00f8", "W83627GetChipID-",
                   fmt::format(fmt::runtime(notMonitor), "HWM_W83627_Detect", 0xF8)},
                  kNotBound),
        monitorAt("it87", 0x8718, 0, "4", R"(, "0x30": "0x01")", 0x00F8,
                  {fmt::format(fmt::runtime(notMonitor), "HWM_IT87", 0xF8)}, kNotBound),
        monitorAt("it87", 0x8718, 0, "4", R"(, "0x30": "0x01")", 0x0CF8,
                  {fmt::format(fmt::runtime(notMonitor), "HWM_IT87", 0xCF8)}, kNotBound),
        monitorAt(
            "f81865", 0x0704, 6, "4", R"(, "0x30": "0x01")", 0x00F8,
            with(f81865test::detectLines(0x0704, 0, true),
                 f81865test::monitorLines(0xF8, fmt::format(fmt::runtime(notMonitor), "HWM_F81865", 0xF8))),
            kNotBound),
        monitorAt("sch3114", 0x7D, 5, "0x0a", "", 0x00F8, {fmt::format(fmt::runtime(notRuntime), 0xF8)},
                  kNotBound),
        monitorAt("sch3114", 0x7D, 5, "0x0a", "", 0xFFA0, {fmt::format(fmt::runtime(notRuntime), 0xFFA0)},
                  kNotBound),
        monitorAt("sch3114", 0x7D, 5, "0x0a", "", 0xFF8E, {}, kOk),
        {"w83627 base 0x0295",
         chip("w83627", 0x88, w83627Base295),
         hwmKey(1) + wdtKey(kNoChip) + noDio(),
         w83627At295.lines(),
         {"W83627GetChipID+", "W83627GetChipID HWM BASE Addr 0290", "W83627GetChipID-"},
         {{IOCTL_HWM_GET_DATA, {}, 36, kOk, le32(9000)}}},
        it87Row(0x0295, 1, 0x0290, {}, {}),
        it87Row(0xFFFA, 1, 0xFFF8, {}, {}),
        it87Row(0xFFFF, 1, 0xFFF8, {}, {}),
        it87Row(0x0290, 2, 0, {itInactive},
                {{IOCTL_HWM_GET_DATA, {}, 36, kNotBound},
                 {IOCTL_HWM_FAN_CONTROL, {0, 0, 1, 0, 0, 0, 0, 0}, 8, kNotBound}}),
        it87Row(0x0290, 3, 0x0290, {}, {{IOCTL_HWM_GET_DATA, {}, 36, kOk}}),  // active with more bits
        {"f81865 device 4 inactive",
         chip("f81865", 0x1010,
              R"("config": {"4": {"0x30": "0x00", "0x60": "0x0a"}}, "fan_rpm": {"1": 2000})"),
         hwmKey(6) + wdtKey(kNoChip) + noDio(),
         f81865Load.lines(),
         f81865Debug,
         {{IOCTL_HWM_GET_DATA, {}, 36, kNotBound},
          {IOCTL_HWM_FAN_CONTROL, {0, 0, 1, 0, 0, 0, 0, 0}, 8, kNotBound}}},
        {"port watchdog without a stop",
         kPortWatchdog,
         hwmKey(kNoChip) + portKey("WDT", "\"Start\"=dword:00008443\n") + noDio(),
         {},
         {},
         startThenStop,
         60000,
         1},
        {"port watchdog stopping at port 0",
         kPortWatchdog,
         hwmKey(kNoChip) + portKey("WDT", "\"Start\"=dword:00008443\n\"Stop\"=dword:00008000\n") + noDio(),
         {},
         {},
         startThenStop,
         60000,
         1},
        {"port watchdog with a stop",
         kPortWatchdog,
         hwmKey(kNoChip) + portKey("WDT", "\"Start\"=dword:00008443\n\"Stop\"=dword:00000843\n") + noDio(),
         {},
         {},
         {{IOCTL_WDT_SET_TIMEOUT, timeoutRecord(60, 1), 0, kOk},
          {IOCTL_WDT_START, {}, 0, kOk},
          {IOCTL_WDT_STOP, {}, 0, kOk, {}, {"in 0x0843 0xff"}}},
         60000,
         0},
        {"port InBits 64",
         "",
         portDio + portKey("DIO", "\"InBits\"=dword:00000040\n\"OutBits\"=dword:00000008\n"),
         {},
         {fmt::format(fmt::runtime(wordRefusal), "InBits", 64)},
         {{IOCTL_DIO_GET_CONFIG, {}, 2, kNotBound}}},
        {"port OutBits 17",
         "",
         portDio + portKey("DIO", "\"OutBits\"=dword:00000011\n"),
         {},
         {fmt::format(fmt::runtime(wordRefusal), "OutBits", 17)},
         {{IOCTL_DIO_GET_CONFIG, {}, 2, kNotBound}}},
        {"port 16 lines each",
         "",
         portDio + portKey("DIO", "\"InBits\"=dword:00000010\n\"OutBits\"=dword:00000010\n"),
         {},
         {},
         {{IOCTL_DIO_GET_CONFIG, {}, 2, kOk, {16, 16}}}},
        {"port InBits 64 unused by the specific layout",
         "",
         portDio + portKey("DIO", "\"InBits\"=dword:00000040\n\"UseSpecificSetting\"=dword:00000001\n"),
         {},
         {},
         {{IOCTL_DIO_GET_CONFIG, {}, 2, kOk, {0, 0}}}},
    };
    for (const Corner& c : rows) run(c);
}

}  // namespace
