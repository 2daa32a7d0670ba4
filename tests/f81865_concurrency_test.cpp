// Several threads send requests to all three F81865 functions at once. The
// chip allows one configuration bracket at a time and the monitor's index
// and data accesses come in pairs: the port trace must show every bracket
// and every monitor sequence whole, and every caller must get its own
// answer.
#include <atomic>
#include <thread>

#include "tests/f81865_board.h"
#include "tests/support/trace.h"

namespace {

using namespace f81865test;
using zrvtest::le16;

constexpr int kRounds = 150;

using zrvtest::startsWith;

// The configuration pair and the monitor pair are separate paths into the
// chip, each with its own lock: a monitor access may come during a bracket,
// but never another bracket.
// Walks the accesses of one pair; returns the first place where another
// sequence came between the accesses of one, or an empty string.
std::string firstInterleaving(const std::vector<std::string>& t) {
    auto at = [&](size_t i) { return i < t.size() ? t[i] : std::string("<end>"); };
    size_t i = 0;
    while (i < t.size()) {
        if (t[i] == "out 0x002e 0x87") {
            if (at(i + 1) != "out 0x002e 0x87") return fmt::format("{}: bracket opened by half", i);
            i += 2;
            while (at(i) != "out 0x002e 0xaa") {
                if (!startsWith(at(i), "out 0x002e ") ||
                    !(startsWith(at(i + 1), "out 0x002f ") || startsWith(at(i + 1), "in 0x002f ")))
                    return fmt::format("{}: '{}' '{}' inside a bracket", i, at(i), at(i + 1));
                i += 2;
            }
            ++i;
        } else if (startsWith(t[i], "out 0x0a05 ")) {
            const bool readModifyWrite = t[i] == "out 0x0a05 0x96" && startsWith(at(i + 1), "in 0x0a06 ");
            if (!startsWith(at(i + 1), "in 0x0a06 ") && !startsWith(at(i + 1), "out 0x0a06 "))
                return fmt::format("{}: monitor index '{}' followed by '{}'", i, t[i], at(i + 1));
            // Fan control reads the mode register and writes it back at once.
            if (readModifyWrite && (at(i + 2) != "out 0x0a05 0x96" || !startsWith(at(i + 3), "out 0x0a06 ")))
                return fmt::format("{}: mode register read-modify-write split by '{}'", i, at(i + 2));
            i += readModifyWrite ? 4 : 2;
        } else {
            return fmt::format("{}: stray access '{}'", i, t[i]);
        }
    }
    return {};
}

class F81865Hammer : public ChipBoard {};

TEST_F(F81865Hammer, RequestsFromManyThreadsNeverInterleaveOnTheChip) {
    addChip(0x2E, 0x1010);
    chip->setReg(4, 0x60, 0x0A);
    chip->setHwm(0x01, 0x03);
    for (uint8_t r = 0x20; r <= 0x27; ++r) chip->setHwm(r, r);
    chip->setHwm(0x72, 40);
    chip->setHwm(0x74, 41);
    chip->setHwm(0x7E, 42);
    chip->setHwm(0xA0, 0x02);  // 2000 rpm, counts fixed so that fan control does not change them
    chip->setHwm(0xA1, 0xEE);
    // Outputs: four lines sharing group 5's data register, one per pin.
    chip->setReg(6, 0xA0, 0x0F);
    board.reg(hwmKey(kF81865) + wdtKey(kF81865) +
              dioLinesKey(kF81865, {{0, 1}, {3, 2}}, {{5, 1}, {5, 2}, {5, 4}, {5, 8}}));
    ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    board.clearTrace();

    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {  // watchdog: configuration brackets on device 7
        for (int i = 0; i < kRounds; ++i) {
            if (board.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(200, 1)).status != 0) ++wrong;
            if (board.ioctl(IOCTL_WDT_RESET).status != 0) ++wrong;
        }
    });
    threads.emplace_back([&] {  // digital I/O: per-line read-modify-write on device 6
        for (int i = 0; i < kRounds; ++i) {
            const uint16_t lines = static_cast<uint16_t>(i & 0xF);
            if (board.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines)).status != 0) ++wrong;
            if (board.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2).data != le16(lines)) ++wrong;
        }
    });
    threads.emplace_back([&] {  // monitor readings
        for (int i = 0; i < kRounds; ++i) {
            auto r = board.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
            if (r.data.size() != 36 || r.data[0] != 0xD0 || r.data[1] != 0x07 || r.data[20] != 0x20 ||
                r.data[27] != 0x27 || r.data[30] != 40 || r.data[31] != 41 || r.data[32] != 42)
                ++wrong;
        }
    });
    threads.emplace_back([&] {  // fan control: read-modify-write of the monitor's mode register
        for (int i = 0; i < kRounds; ++i) {
            const std::vector<uint8_t> c = {
                static_cast<uint8_t>(i % 3), 1, static_cast<uint8_t>(i % 128), 0, 0, 0, 0, 0};
            if (board.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8).status != 0) ++wrong;
        }
    });
    for (auto& t : threads) t.join();

    EXPECT_EQ(wrong.load(), 0);
    const auto trace = board.trace();
    EXPECT_GT(trace.size(), static_cast<size_t>(kRounds * 4 * 4));
    const auto config = zrvtest::linesOn(trace, 0x2E, 0x2F);
    const auto monitor = zrvtest::linesOn(trace, 0x0A05, 0x0A06);
    EXPECT_EQ(config.size() + monitor.size(), trace.size());
    EXPECT_EQ(firstInterleaving(config), "");
    EXPECT_EQ(firstInterleaving(monitor), "");
    EXPECT_FALSE(chip->configOpen());
}

// The walker itself catches what it is there to catch.
TEST(F81865HammerCheck, InterleavedSequencesAreFound) {
    EXPECT_EQ(firstInterleaving({"out 0x002e 0x87", "out 0x002e 0x87", "out 0x002e 0x07", "out 0x002f 0x07",
                                 "out 0x002e 0xaa"}),
              "");
    EXPECT_NE(firstInterleaving({"out 0x002e 0x87", "out 0x002e 0x87", "out 0x0a05 0x20", "in 0x0a06 0x20",
                                 "out 0x002e 0xaa"}),
              "");
    EXPECT_NE(firstInterleaving({"out 0x0a05 0x96", "in 0x0a06 0x00", "out 0x0a05 0x20", "in 0x0a06 0x20",
                                 "out 0x0a05 0x96", "out 0x0a06 0x03"}),
              "");
    EXPECT_NE(firstInterleaving({"out 0x0a05 0x20", "out 0x0a05 0x21", "in 0x0a06 0x20"}), "");
}

}  // namespace
