// F81216 watchdog through the request interface: the probe over entry keys
// and configuration pairs, the bracket of each request, refusals, the
// emulated countdown, and brackets from many threads.
#include <atomic>
#include <chrono>
#include <thread>

#include "sim/devices/f81216.h"
#include "tests/support/answers.h"
#include "tests/support/sio.h"

namespace {

using namespace siotest;
using zrvtest::keepAlive;
using zrvtest::startWatchdog;
using zrvtest::timeoutRecord;

constexpr uint32_t kF81216 = 4;
constexpr uint8_t kKeys[] = {0x77, 0xA0, 0x87, 0x67};
constexpr uint16_t kPairs[] = {0x2E, 0x4E};

template <typename Chip>
class F81216BoardOf : public ChipTest<Chip> {
protected:
    // The chip at `port`, opening on `key`; the driver loaded with the
    // watchdog on chip code 4 and nothing else bound.
    void load(uint16_t port, uint8_t key, uint16_t id = 0x0216) {
        this->addChip(port, id, key);
        this->board.reg(hwmKey(kNoChip) + wdtKey(kF81216) + noDio());
        ASSERT_EQ(this->board.load(), ZRV_STATUS_SUCCESS);
    }
    ZrvStatus setTimeout(uint16_t count, uint16_t unit) {
        return this->board.ioctl(IOCTL_WDT_SET_TIMEOUT, timeoutRecord(count, unit)).status;
    }
    ZrvStatus request(uint32_t code) { return this->board.ioctl(code).status; }
};
using F81216Board = F81216BoardOf<sim::F81216>;

// One probe round that does not open the chip: the key twice, the ID read
// unanswered (or answered with an ID the driver does not take), 0xAA.
void failedRound(Trace& t, uint8_t key, uint16_t id = 0xFFFF) {
    t.keys({key, key})
        .enter()
        .rd(0x20, static_cast<uint8_t>(id >> 8))
        .rd(0x21, static_cast<uint8_t>(id))
        .exit();
}

using Writes = std::vector<std::pair<uint8_t, uint8_t>>;

// One bracket on device 8 with these register writes.
Trace& bracket(Trace& t, const Writes& writes) {
    t.enter().select(8);
    for (auto [reg, value] : writes) t.wr(reg, value);
    return t.exit();
}

// ---- Probe --------------------------------------------------------------------------

struct ProbeCase {
    uint16_t port;
    size_t key;  // position in kKeys
    uint16_t id;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << fmt::format("chip at 0x{:02x}, key 0x{:02x}, ID 0x{:04x}", c.port, kKeys[c.key], c.id);
}

class F81216Probe : public F81216Board, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(F81216Probe, FindsTheChipWithItsKeyAndOpensEveryLaterBracketWithIt) {
    const ProbeCase c = GetParam();
    const uint8_t key = kKeys[c.key];
    load(c.port, key, c.id);

    Trace expected(0x2E);
    for (uint16_t pair : kPairs) {
        expected.at(pair);
        for (size_t k = 0; k < std::size(kKeys) && !(pair == c.port && k == c.key); ++k)
            failedRound(expected, kKeys[k]);
        if (pair == c.port) break;
    }
    // The round that opened the chip stays open for the set-up.
    expected.keys({key, key})
        .enter()
        .rd(0x20, static_cast<uint8_t>(c.id >> 8))
        .rd(0x21, static_cast<uint8_t>(c.id))
        .select(8)
        .wr(0x70, 0x00)
        .wr(0xF0, 0x02)
        .wr(0xF1, 0x00)
        .wr(0x30, 0x01)
        .exit();
    EXPECT_EQ(board.trace(), expected.lines());
    EXPECT_EQ(newDebugLines(), Lines{"WDT: F81216 detected"});
    EXPECT_EQ(chip->reg(8, 0x30), 0x01);

    clearSeen();
    ASSERT_EQ(startWatchdog(board, 9, 1), ZRV_STATUS_SUCCESS);
    Trace later(c.port);
    bracket(later.keys({key, key}), {{0xF1, 0x00}, {0xF0, 0x02}});
    EXPECT_EQ(board.trace(), bracket(later, {{0xF1, 0x09}, {0xF1, 0x09}}).lines());
    EXPECT_TRUE(newDebugLines().empty());
}

std::vector<ProbeCase> allProbeCases() {
    std::vector<ProbeCase> cases;
    for (uint16_t port : kPairs)
        for (size_t k = 0; k < std::size(kKeys); ++k)
            cases.push_back({port, k, k % 2 == 0 ? uint16_t{0x0216} : uint16_t{0x0208}});
    return cases;
}

std::string probeCaseName(const ::testing::TestParamInfo<ProbeCase>& p) {
    return fmt::format("At{:02X}Key{:02X}", p.param.port, kKeys[p.param.key]);
}
INSTANTIATE_TEST_SUITE_P(EveryKeyAtEitherPair, F81216Probe, ::testing::ValuesIn(allProbeCases()),
                         probeCaseName);

TEST_F(F81216Board, NoAcceptedIdMeansEightClosedRoundsAndNoWatchdog) {
    // A chip with an ID the driver does not take opens on 0x87 at 0x2E; at
    // 0x4E nothing answers.
    load(0x2E, 0x87, 0x0704);
    Trace expected(0x2E);
    for (uint16_t pair : kPairs) {
        expected.at(pair);
        for (uint8_t key : kKeys) failedRound(expected, key, pair == 0x2E && key == 0x87 ? 0x0704 : 0xFFFF);
    }
    EXPECT_EQ(board.trace(), expected.lines());
    EXPECT_TRUE(newDebugLines().empty());
    EXPECT_FALSE(chip->configOpen());
    clearSeen();
    EXPECT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4).status, ZRV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(board.trace().empty());
}

// ---- Requests ----------------------------------------------------------------------

// One request and the register writes of its bracket after the device
// select; no writes: no port touched. Count and unit are SetTimeout's.
struct Step {
    uint32_t code;
    uint16_t count, unit;
    ZrvStatus status;
    Writes writes;
};

TEST_F(F81216Board, EachRequestIsOneBracketAndRefusalsTouchNothing) {
    load(0x4E, 0x87);
    clearSeen();
    constexpr uint32_t kSet = IOCTL_WDT_SET_TIMEOUT, kStart = IOCTL_WDT_START;
    constexpr ZrvStatus kOk = ZRV_STATUS_SUCCESS, kRefused = ZRV_STATUS_INVALID_PARAMETER;
    constexpr ZrvStatus kStill = ZRV_STATUS_INVALID_DEVICE_STATE;  // count 0: does not count
    const Step steps[] = {
        {kStart, 0, 0, kStill, {{0xF1, 0x00}, {0xF1, 0x00}}},  // before any SetTimeout
        {kSet, 0, 2, kOk, {{0xF1, 0x00}, {0xF0, 0x04}}},
        {kStart, 0, 0, kStill, {{0xF1, 0x00}, {0xF1, 0x00}}},
        {kSet, 255, 1, kOk, {{0xF1, 0x00}, {0xF0, 0x02}}},
        {kSet, 256, 1, kRefused, {}},
        {kSet, 1, 3, kRefused, {}},
        {kSet, 10, 0, kRefused, {}},
        {kSet, 0xFFFF, 2, kRefused, {}},
        {kStart, 0, 0, kOk, {{0xF1, 0xFF}, {0xF1, 0xFF}}},  // the last accepted count
        {IOCTL_WDT_RESET, 0, 0, kOk, {{0xF1, 0xFF}, {0xF1, 0xFF}}},
        {IOCTL_WDT_STOP, 0, 0, kOk, {{0xF1, 0x00}}},
        {kSet, 12, 2, kOk, {{0xF1, 0x00}, {0xF0, 0x04}}},
        {IOCTL_WDT_RESET, 0, 0, kOk, {{0xF1, 0x0C}, {0xF1, 0x0C}}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(fmt::format("step {}", i));
        const auto input = s.code == kSet ? timeoutRecord(s.count, s.unit) : std::vector<uint8_t>{};
        EXPECT_EQ(board.ioctl(s.code, input).status, s.status);
        Trace expected = Trace(0x4E).keys({0x87, 0x87});
        if (!s.writes.empty()) bracket(expected, s.writes);
        EXPECT_EQ(board.trace(), expected.lines());
        board.clearTrace();
    }
    EXPECT_EQ(chip->reg(8, 0xF0), 0x04);
    EXPECT_EQ(chip->reg(8, 0xF1), 0x0C);

    auto range = board.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, 4);
    EXPECT_EQ(range.status, ZRV_STATUS_SUCCESS);
    EXPECT_EQ(range.data, timeoutRecord(255, 3));
    EXPECT_TRUE(board.trace().empty());
    EXPECT_TRUE(newDebugLines().empty());
}

// ---- The countdown -----------------------------------------------------------------

TEST_F(F81216Board, FiresOnlyWhenNotRestartedInTime) {
    load(0x2E, 0xA0);
    const auto resets = [&] { return chip->resets(); };

    ASSERT_EQ(startWatchdog(board, 5, 1), ZRV_STATUS_SUCCESS);
    for (int i = 0; i < 10; ++i) {  // kept alive
        board.machine().advance(4999);
        ASSERT_EQ(request(IOCTL_WDT_RESET), ZRV_STATUS_SUCCESS);
    }
    board.machine().advance(4999);
    EXPECT_TRUE(resets().empty());
    board.machine().advance(1);
    EXPECT_EQ(resets(), std::vector<uint64_t>{54990});

    // Minutes. A new timeout stops a running countdown, and a count of 0
    // never runs.
    ASSERT_EQ(startWatchdog(board, 1, 2), ZRV_STATUS_SUCCESS);
    board.machine().advance(59999);
    ASSERT_EQ(setTimeout(0, 1), ZRV_STATUS_SUCCESS);
    board.machine().advance(600000);
    ASSERT_EQ(request(IOCTL_WDT_START), ZRV_STATUS_INVALID_DEVICE_STATE);
    board.machine().advance(600000);
    EXPECT_EQ(resets().size(), 1u);
    ASSERT_EQ(startWatchdog(board, 1, 2), ZRV_STATUS_SUCCESS);
    board.machine().advance(60000);
    EXPECT_EQ(resets().size(), 2u);
}

// ---- Many threads ------------------------------------------------------------------

// The brackets on one pair, in trace order: each is the register writes after
// the key pair up to 0xAA. Fails the test at the first access that does not
// belong to a whole bracket opened with `key`.
std::vector<std::vector<std::pair<uint8_t, uint8_t>>> wholeBrackets(const std::vector<std::string>& t,
                                                                    uint8_t key) {
    const std::string index = "out 0x002e ", data = "out 0x002f ";
    const std::string keyLine = fmt::format("out 0x002e 0x{:02x}", key);
    auto value = [](const std::string& line) {
        return static_cast<uint8_t>(std::stoul(line.substr(11), nullptr, 16));
    };
    std::vector<std::vector<std::pair<uint8_t, uint8_t>>> brackets;
    size_t i = 0;
    while (i < t.size()) {
        if (t[i] != keyLine || i + 1 >= t.size() || t[i + 1] != keyLine) {
            ADD_FAILURE() << i << ": '" << t[i] << "' outside a bracket";
            return brackets;
        }
        i += 2;
        brackets.emplace_back();
        while (i < t.size() && t[i] != "out 0x002e 0xaa") {
            if (i + 1 >= t.size() || t[i].rfind(index, 0) != 0 || t[i + 1].rfind(data, 0) != 0) {
                ADD_FAILURE() << i << ": '" << t[i] << "' inside a bracket";
                return brackets;
            }
            brackets.back().emplace_back(value(t[i]), value(t[i + 1]));
            i += 2;
        }
        ++i;
    }
    return brackets;
}

// Every write takes a while, as on a real bus, so requests pile up on the
// pair's lock.
class SlowF81216 : public sim::F81216 {
public:
    using F81216::F81216;
    void write(uint16_t port, uint8_t value) override {
        F81216::write(port, value);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
};
class F81216Hammer : public F81216BoardOf<SlowF81216> {};

TEST_F(F81216Hammer, BracketsFromManyThreadsNeverInterleaveAndLoadTheCountOfTheUnitSet) {
    load(0x2E, 0x67);
    clearSeen();
    // Each thread has its own timeout; whichever SetTimeout came last, the
    // count a Start loads must be the one that went with that unit.
    struct Worker {
        uint16_t count;
        uint16_t unit;
        uint8_t mode;
    };
    const Worker workers[] = {{10, 1, 0x02}, {20, 2, 0x04}, {30, 1, 0x02}};
    constexpr int kRounds = 60;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (const Worker& w : workers)
        threads.emplace_back([&, w] {
            for (int i = 0; i < kRounds; ++i) {
                if (setTimeout(w.count, w.unit) != ZRV_STATUS_SUCCESS) ++wrong;
                if (request(i % 2 == 0 ? IOCTL_WDT_START : IOCTL_WDT_RESET) != ZRV_STATUS_SUCCESS) ++wrong;
                if (i % 10 == 0 && request(IOCTL_WDT_STOP) != ZRV_STATUS_SUCCESS) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);

    const auto brackets = wholeBrackets(board.trace(), 0x67);
    EXPECT_EQ(brackets.size(), std::size(workers) * (2 * kRounds + kRounds / 10));
    uint8_t mode = 0x02;  // set-up
    for (size_t b = 0; b < brackets.size(); ++b) {
        const auto& w = brackets[b];
        ASSERT_GE(w.size(), 2u) << b;
        ASSERT_EQ(w[0], std::make_pair(uint8_t{0x07}, uint8_t{0x08})) << b;
        if (w.size() == 3 && w[2].first == 0xF0) mode = w[2].second;    // SetTimeout
        if (w.size() == 3 && w[2].first == 0xF1 && w[1].second != 0) {  // a Start loading a count
            const Worker* owner = nullptr;
            for (const Worker& k : workers)
                if (k.count == w[1].second) owner = &k;
            ASSERT_NE(owner, nullptr) << b;
            EXPECT_EQ(owner->mode, mode) << "bracket " << b << " loads " << int(w[1].second);
        }
    }
    EXPECT_FALSE(chip->configOpen());
}

// ---- The emulator's own rules ------------------------------------------------------

// The checker catches what it is there to catch, and lets a probe round with
// another chip's key pass.
TEST(F81216Emulator, ProtocolCheckerTellsAProbeRoundFromABreach) {
    sim::F81216 chip(0x4E, 0x0208, 0x87);
    const auto index = [&](std::initializer_list<uint8_t> values) {
        for (uint8_t v : values) chip.write(0x4E, v);
    };
    for (uint8_t key : {0x77, 0xA0}) {  // rounds with other keys: closed, unanswered, no breach
        index({key, key, 0x20});
        EXPECT_EQ(chip.read(0x4F), 0xFF);
        index({0x21});
        EXPECT_EQ(chip.read(0x4F), 0xFF);
        index({0xAA});
    }
    EXPECT_TRUE(chip.violations().empty()) << chip.violations().front();

    index({0x87, 0x67, 0x87, 0xF1});  // a wrong second key leaves it closed
    chip.write(0x4F, 0x05);           // 1: data written while closed
    index({0xAA});                    // 2: exit while closed, no probe round
    index({0x87, 0x87, 0x20});
    EXPECT_EQ(chip.read(0x4F), 0x02);
    index({0xF1});
    chip.write(0x4F, 0x01);     // 3: device register before a select
    index({0x87, 0x87, 0x07});  // 4: opened again
    chip.write(0x4F, 0x08);
    index({0xF1});
    chip.write(0x4F, 0x09);
    EXPECT_EQ(chip.reg(8, 0xF1), 0x09);
    index({0xAA, 0xF1});
    EXPECT_EQ(chip.read(0x4F), 0xFF);  // 5: a closed read outside a probe round
    index({0x87, 0x87});               // 6: left open

    const auto v = chip.violations();
    const char* const expected[] = {"written (0x05) while configuration mode is closed",
                                    "exit key",
                                    "register 0xf1 written before a logical device was selected",
                                    "opened again",
                                    "read while configuration mode is closed",
                                    "configuration mode left open"};
    ASSERT_EQ(v.size(), std::size(expected));
    for (size_t i = 0; i < v.size(); ++i) EXPECT_NE(v[i].find(expected[i]), std::string::npos) << v[i];
}

TEST(F81216Emulator, BoardFileGivesPairIdAndKeyAndRefusesOthers) {
    auto device = sim::F81216::fromBoard(
        nlohmann::json::parse(
            R"({"type": "f81216", "config_port": "0x4e", "id": "0x0208", "entry_key": "0xa0"})"),
        "b.json: hardware[0]");
    auto& chip = static_cast<sim::F81216&>(*device);
    EXPECT_TRUE(chip.claims(0x4F));
    EXPECT_FALSE(chip.claims(0x2E));
    EXPECT_EQ(chip.chipId(), 0x0208);
    EXPECT_EQ(chip.entryKey(), 0xA0);
    for (const char* bad : {R"({"entry_key": "0x55"})", R"({"config_port": "0x3f0"})"})
        EXPECT_THROW(sim::F81216::fromBoard(nlohmann::json::parse(bad), "b.json"), sim::BoardError) << bad;
}

}  // namespace
