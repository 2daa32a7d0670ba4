// Several threads send requests to all three SCH3114 functions at once. The
// monitor's index and data accesses come in pairs and a whole reading or fan
// setting is one sequence; a Set's per-line read-modify-writes of a shared
// GPIO register are one sequence too, so no caller loses another's bits or
// reads half of a Set.
#include <atomic>
#include <thread>

#include "tests/sch3114_board.h"
#include "tests/support/trace.h"

namespace {

using namespace sch3114test;
using zrvtest::le16;

constexpr int kRounds = 2000;

using Access = zrvtest::PortAccess;

// The GPIO register of the seven output lines (GP60-GP66, one line each;
// GP67 an output held high): a Set is seven reads each followed by its
// write, each read giving the write before it, with every line set or every
// line clear and GP67 kept; a read-back Get is seven reads of one value.
constexpr int kLines = 7;

std::string firstBrokenGpioSequence(const std::vector<Access>& t) {
    auto at = [&](size_t k) { return k < t.size() ? t[k] : Access{false, 0, 0}; };
    for (size_t i = 0; i < t.size();) {
        const size_t start = i;
        bool ok = true;
        if (at(i).in && at(i + 1).in) {
            for (int k = 0; k < kLines; ++k) ok = ok && at(i + k).in && at(i + k).value == at(i).value;
            i += kLines;
        } else {
            const uint8_t v = at(i + 2 * kLines - 1).value & 0x7F;
            ok = (v == 0 || v == 0x7F) && (at(i + 2 * kLines - 1).value & 0x80) != 0;
            for (int k = 0; k < kLines; ++k, i += 2) {
                const uint8_t bit = static_cast<uint8_t>(1u << k);
                ok = ok && at(i).in && !at(i + 1).in &&
                     at(i + 1).value == ((at(i).value & ~bit) | (v & bit)) &&
                     (k == 0 || at(i).value == at(i - 1).value);
            }
        }
        if (!ok) return fmt::format("access {}: not a whole Set or Get", start);
    }
    return {};
}

// The monitor pair: a reading is the sixteen registers in order; a fan
// setting reads and writes the fan's configuration register, then its duty.
std::string firstBrokenMonitorSequence(const std::vector<Access>& t) {
    static const uint8_t kReading[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x99, 0x9A, 0x25,
                                       0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D};
    size_t i = 0;
    auto pair = [&](uint8_t index, bool in) {
        const bool ok = i + 1 < t.size() && !t[i].in && t[i].value == index && t[i + 1].in == in &&
                        t[i + 1].port == t[i].port + 1;
        i += 2;
        return ok;
    };
    while (i < t.size()) {
        const size_t start = i;
        bool ok = true;
        const uint8_t first = t[i].value;
        if (first == 0x20) {
            for (uint8_t r : kReading) ok = ok && pair(r, true);
        } else if (first >= 0x5C && first <= 0x5E) {
            ok = pair(first, true) && pair(first, false) && pair(static_cast<uint8_t>(first - 0x2C), false);
        } else {
            ok = false;
        }
        if (!ok) return fmt::format("access {}: not a whole monitor sequence", start);
    }
    return {};
}

class SCH3114Hammer : public ChipBoard {};

TEST_F(SCH3114Hammer, RequestsFromManyThreadsKeepTheirSequencesWhole) {
    addAt(0x4E);
    chip->setGpioOutputs(6, 0xFF);
    chip->setRuntime(0x50, 0x80);
    for (uint8_t r = 0x20; r <= 0x24; ++r) chip->setHwm(r, r);
    chip->setTemperature(1, 40);
    chip->setHwm(0x28, 0xD0);  // 2000: 2700 rpm, a raw count fan control does not change
    chip->setHwm(0x29, 0x07);
    std::vector<Line> out;
    for (int k = 0; k < kLines; ++k) out.push_back({6, 1u << k});
    loadQuiet(hwmKey(kSCH3114) + wdtKey(kSCH3114) + dioLinesKey(kSCH3114, {{1, 1}}, out));

    // Every thread starts its rounds at once.
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    auto spawn = [&](auto rounds) {
        threads.emplace_back([&go, rounds] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < kRounds; ++i) rounds(i);
        });
    };
    for (uint16_t lines : {uint16_t{0x7F}, uint16_t{0x00}})  // two writers of one register
        spawn([&, lines](int) {
            if (board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines)).status != 0) ++wrong;
        });
    spawn([&](int) {  // a reader never sees half of a Set
        const auto r = board.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2);
        if (r.data != le16(0x7F) && r.data != le16(0x00)) ++wrong;
    });
    spawn([&](int) {  // the watchdog shares the runtime block
        if (board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(200, 1)).status != 0 ||
            board.ioctl(IOCTL_WDT_RESET).status != 0)
            ++wrong;
    });
    spawn([&](int) {  // monitor readings
        const auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
        if (r.data.size() != 36 || r.data[0] != 0x8C || r.data[1] != 0x0A || r.data[20] != 0x20 ||
            r.data[24] != 0x24 || r.data[30] != 40)
            ++wrong;
    });
    spawn([&](int i) {  // fan settings: read-modify-write of a configuration register
        const std::vector<uint8_t> c = {
            static_cast<uint8_t>(i % 3), 1, static_cast<uint8_t>(i % 128), 0, 0, 0, 0, 0};
        if (board.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8).status != 0) ++wrong;
    });
    go = true;
    for (auto& t : threads) t.join();

    EXPECT_EQ(wrong.load(), 0);
    const auto trace = board.trace();
    const auto gpio = zrvtest::accessesOn(trace, kBase + 0x50, kBase + 0x50);
    const auto monitor = zrvtest::accessesOn(trace, kBase + 0x70, kBase + 0x71);
    EXPECT_EQ(gpio.size(), static_cast<size_t>(kRounds * kLines * (2 + 2 + 1)));
    EXPECT_EQ(firstBrokenGpioSequence(gpio), "");
    EXPECT_EQ(firstBrokenMonitorSequence(monitor), "");
    EXPECT_TRUE(chip->pin("gp67").value_or(false));
}

// The walkers catch what they are there to catch: a Set whose line was
// written over by another Set's line in between, and a reading split by a
// fan setting.
TEST(SCH3114HammerCheck, SplitSequencesAreFound) {
    const uint16_t p = kBase + 0x50;
    std::vector<Access> set;
    for (int k = 0; k < kLines; ++k) {
        const auto before = static_cast<uint8_t>(0x80 | ((1u << k) - 1));
        set.push_back({true, p, before});
        set.push_back({false, p, static_cast<uint8_t>(before | 1u << k)});
    }
    EXPECT_EQ(firstBrokenGpioSequence(set), "");
    auto split = set;
    split.insert(split.begin() + 4, {{true, p, 0x83}, {false, p, 0x82}});
    EXPECT_NE(firstBrokenGpioSequence(split), "");
    const uint16_t m = kBase + 0x70;
    EXPECT_NE(firstBrokenMonitorSequence({{false, m, 0x20},
                                          {true, m + 1, 0},
                                          {false, m, 0x5C},
                                          {true, m + 1, 0},
                                          {false, m, 0x5C},
                                          {false, m + 1, 0xE0},
                                          {false, m, 0x30},
                                          {false, m + 1, 0}}),
              "");
}

}  // namespace
