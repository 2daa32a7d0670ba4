// Several threads send watchdog and monitor requests to one IT8718F at once.
// The configuration pair allows one bracket at a time and the monitor pair
// one sequence at a time (a whole reading, a whole fan-control
// read-modify-write): the trace of each pair must show them whole.
#include <atomic>
#include <thread>

#include "tests/it87_board.h"
#include "tests/support/trace.h"

namespace {

using namespace it87test;

constexpr int kRounds = 3000;

using zrvtest::startsWith;

// Brackets on 0x2E/0x2F: four key bytes, register accesses in pairs, and
// register 0x02 written with 0x02 to close. Returns the first place where
// something else came in, or an empty string.
std::string firstBrokenBracket(const std::vector<std::string>& t) {
    auto at = [&](size_t i) { return i < t.size() ? t[i] : std::string("<end>"); };
    const Lines key = {"out 0x002e 0x87", "out 0x002e 0x01", "out 0x002e 0x55", "out 0x002e 0x55"};
    size_t i = 0;
    while (i < t.size()) {
        for (const auto& k : key)
            if (at(i++) != k) return fmt::format("{}: bracket not opened by the whole key", i - 1);
        while (!(at(i) == "out 0x002e 0x02" && at(i + 1) == "out 0x002f 0x02")) {
            if (!startsWith(at(i), "out 0x002e ") ||
                !(startsWith(at(i + 1), "out 0x002f ") || startsWith(at(i + 1), "in 0x002f ")))
                return fmt::format("{}: '{}' '{}' inside a bracket", i, at(i), at(i + 1));
            i += 2;
        }
        i += 2;
    }
    return {};
}

// Monitor sequences on 0x0295/0x0296, as (read?, register) pairs.
using Seq = std::vector<std::pair<bool, uint8_t>>;
const Seq kGetData = [] {
    Seq s;
    for (uint8_t r = 0x20; r <= 0x2B; ++r) s.push_back({true, r});
    for (uint8_t r : {0x18, 0x0D, 0x19, 0x0E, 0x1A, 0x0F, 0x81, 0x80, 0x83, 0x82}) s.push_back({true, r});
    return s;
}();
const Seq kOnOff = {{true, 0x13}, {false, 0x13}, {true, 0x14}, {false, 0x14}};
const Seq kAutoFan3 = {{true, 0x13},  {false, 0x88}, {false, 0x90}, {false, 0x91},
                       {false, 0x92}, {false, 0x93}, {false, 0x94}};

std::string firstBrokenSequence(const std::vector<std::string>& t) {
    auto matches = [&](size_t i, const Seq& s) {
        for (size_t k = 0; k < s.size(); ++k, i += 2) {
            if (i + 1 >= t.size() || t[i] != fmt::format("out 0x0295 0x{:02x}", s[k].second) ||
                !startsWith(t[i + 1], s[k].first ? "in 0x0296 " : "out 0x0296 "))
                return false;
        }
        return true;
    };
    size_t i = 0;
    while (i < t.size()) {
        const Seq* found = nullptr;
        for (const Seq* s : {&kGetData, &kOnOff, &kAutoFan3})
            if (matches(i, *s)) found = s;
        if (found == nullptr) return fmt::format("{}: no whole sequence starts at '{}'", i, t[i]);
        i += 2 * found->size();
    }
    return {};
}

class It87Hammer : public ChipBoard {};

TEST_F(It87Hammer, RequestsFromManyThreadsNeverInterleaveOnEitherPair) {
    addChip(0x2E, 0x8718);
    chip->setReg(4, 0x60, 0x02);
    chip->setReg(4, 0x61, 0x90);
    chip->setReg(4, 0x30, 0x01);
    for (uint8_t r = 0x20; r <= 0x2B; ++r) chip->setHwm(r, r);
    chip->setHwm(0x18, 0x01);  // fan 1: count 0x0177, 1800 rpm
    chip->setHwm(0x0D, 0x77);
    board.reg(hwmKey(kIt87) + wdtKey(kIt87) + noDio());
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    board.clearTrace();

    std::atomic<int> wrong{0};
    std::atomic<int> ready{0};
    auto check = [&](bool ok) {
        if (!ok) ++wrong;
    };
    // Every thread starts its requests once all of them are running.
    auto together = [&] {
        ++ready;
        while (ready.load() < 5) std::this_thread::yield();
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] {  // watchdog: SetTimeout and Reset
        together();
        for (int i = 0; i < kRounds; ++i) {
            check(board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(300, 1)).status == 0);
            check(board.ioctl(IOCTL_WDT_RESET).status == 0);
        }
    });
    threads.emplace_back([&] {  // watchdog: Stop and Start
        together();
        for (int i = 0; i < kRounds; ++i) {
            check(board.ioctl(IOCTL_WDT_STOP).status == 0);
            check(board.ioctl(IOCTL_WDT_START).status == 0);
        }
    });
    threads.emplace_back([&] {  // monitor readings
        together();
        for (int i = 0; i < kRounds; ++i) {
            auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
            check(r.data.size() == 36 && r.data[0] == 0x08 && r.data[1] == 0x07 && r.data[20] == 0x20 &&
                  r.data[28] == 0x28 && r.data[29] == 0 && r.data[30] == 0x29 && r.data[32] == 0x2B);
        }
    });
    threads.emplace_back([&] {  // fan control: read-modify-writes of 0x13 and 0x14
        together();
        for (int i = 0; i < kRounds; ++i) {
            const std::vector<uint8_t> c = {
                static_cast<uint8_t>(i % 3), 0, static_cast<uint8_t>(i & 1), 0, 0, 0, 0, 0};
            check(board.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8).status == 0);
        }
    });
    threads.emplace_back([&] {  // fan control: automatic mode of fan 4
        together();
        for (int i = 0; i < kRounds; ++i) {
            const std::vector<uint8_t> c = {3, 2, 0, 40, 60, 0, 0x20, 3};
            check(board.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8).status == 0);
        }
    });
    for (auto& t : threads) t.join();

    EXPECT_EQ(wrong.load(), 0);
    const auto trace = board.trace();
    const auto config = zrvtest::linesOn(trace, 0x2E, 0x2F);
    const auto monitor = zrvtest::linesOn(trace, 0x0295, 0x0296);
    EXPECT_EQ(config.size() + monitor.size(), trace.size());
    EXPECT_GT(config.size(), static_cast<size_t>(kRounds * 4 * 10));
    EXPECT_GT(monitor.size(), static_cast<size_t>(kRounds * 3 * 8));
    EXPECT_EQ(firstBrokenBracket(config), "");
    EXPECT_EQ(firstBrokenSequence(monitor), "");
    EXPECT_FALSE(chip->configOpen());
}

// The walkers catch what they are there to catch.
TEST(It87HammerCheck, BrokenSequencesAreFound) {
    const Lines key = {"out 0x002e 0x87", "out 0x002e 0x01", "out 0x002e 0x55", "out 0x002e 0x55"};
    Lines ok = key, split = key;
    ok.insert(ok.end(), {"out 0x002e 0x07", "out 0x002f 0x07", "out 0x002e 0x02", "out 0x002f 0x02"});
    split.insert(split.end(), {"out 0x002e 0x07", "out 0x002e 0x87", "out 0x002f 0x07"});
    EXPECT_EQ(firstBrokenBracket(ok), "");
    EXPECT_NE(firstBrokenBracket(split), "");
    const Lines onOff = {"out 0x0295 0x13", "in 0x0296 0x07", "out 0x0295 0x13", "out 0x0296 0x76",
                         "out 0x0295 0x14", "in 0x0296 0x00", "out 0x0295 0x14", "out 0x0296 0x01"};
    Lines mixed = onOff;
    mixed.insert(mixed.begin() + 2, {"out 0x0295 0x13", "in 0x0296 0x07"});
    EXPECT_EQ(firstBrokenSequence(onOff), "");
    EXPECT_NE(firstBrokenSequence(mixed), "");
}

}  // namespace
