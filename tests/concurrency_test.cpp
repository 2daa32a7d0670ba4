// Several threads send requests to every function of one chip at once. Each
// index/data pair has its own lock: on each pair the port trace must show
// only whole sequences (a configuration bracket, a reading, a fan setting's
// read-modify-write, a Set of a shared GPIO register), never one split by
// another thread's, and every caller must get its own answer.
#include <atomic>
#include <functional>
#include <thread>

#include "tests/f81865_board.h"
#include "tests/it87_board.h"
#include "tests/sch3114_board.h"
#include "tests/support/trace.h"
#include "tests/w83627_board.h"

namespace {

using namespace siotest;
using zrvtest::in;
using zrvtest::le16;
using zrvtest::out;
using zrvtest::Shape;
using zrvtest::SimBoard;
using zrvtest::Step;
using Steps = std::vector<Step>;

Steps cat(std::initializer_list<Steps> parts) {
    Steps all;
    for (const Steps& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}
// Register `reg` written or read through the pair at `index` (-1: any).
Steps wr(uint16_t index, int reg) { return {out(index, reg), out(uint16_t(index + 1))}; }
Steps rd(uint16_t index, int reg) { return {out(index, reg), in(uint16_t(index + 1))}; }
// A bracket at 0x2E opened by `key`, closed by `close`, with any register
// accesses between.
Shape bracket(const Steps& key, const Steps& close) { return {key, {out(0x2E), {'?', 0x2F}}, close}; }
const Steps kWinbondKey = {out(0x2E, 0x87), out(0x2E, 0x87)};

// F81865: any accesses inside a bracket; on the monitor pair, the mode
// register is read and written back at once.
const std::vector<Shape> kF81865Config = {bracket(kWinbondKey, {out(0x2E, 0xAA)})};
const std::vector<Shape> kF81865Monitor = {
    {cat({rd(0xA05, 0x96), wr(0xA05, 0x96)})}, {wr(0xA05, 0x96)}, {{{'o', 0xA05, -1, 0x96}, {'?', 0xA06}}}};

// IT87: a four-byte key, and register 0x02 written with 0x02 to close; the
// monitor's sequences are a whole reading and the two fan settings.
const std::vector<Shape> kIt87Config = {
    bracket({out(0x2E, 0x87), out(0x2E, 0x01), out(0x2E, 0x55), out(0x2E, 0x55)},
            {out(0x2E, 0x02), out(0x2F, 0x02)})};
Steps reads(uint16_t index, std::initializer_list<int> regs) {
    Steps s;
    for (int r : regs) s = cat({s, rd(index, r)});
    return s;
}
const std::vector<Shape> kIt87Monitor = {
    {reads(0x295, {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A,
                   0x2B, 0x18, 0x0D, 0x19, 0x0E, 0x1A, 0x0F, 0x81, 0x80, 0x83, 0x82})},
    {cat({rd(0x295, 0x13), wr(0x295, 0x13), rd(0x295, 0x14), wr(0x295, 0x14)})},
    {cat({rd(0x295, 0x13), wr(0x295, 0x88), wr(0x295, 0x90), wr(0x295, 0x91), wr(0x295, 0x92),
          wr(0x295, 0x93), wr(0x295, 0x94)})}};

// SCH3114: the GPIO register of seven output lines (GP67 an output held
// high). A Set reads and writes it once per line, each read giving the write
// before, all lines set or all clear; a Get reads it once per line.
constexpr uint16_t kGpio = sch3114test::kBase + 0x50;
constexpr uint16_t kSchMonitor = sch3114test::kBase + 0x70;
constexpr int kLines = 7;
Steps gpioSet(uint8_t from, uint8_t lines) {
    Steps s;
    for (int k = 0; k < kLines; ++k) {
        const auto bit = static_cast<uint8_t>(1u << k);
        const auto to = static_cast<uint8_t>((from & ~bit) | (lines & bit));
        s = cat({s, {in(kGpio, from), out(kGpio, to)}});
        from = to;
    }
    return s;
}
const std::vector<Shape> kSchGpio = {{gpioSet(0xFF, 0x00)},
                                     {gpioSet(0x80, 0x7F)},
                                     {gpioSet(0xFF, 0x7F)},
                                     {gpioSet(0x80, 0x00)},
                                     {Steps(kLines, in(kGpio, 0xFF))},
                                     {Steps(kLines, in(kGpio, 0x80))}};
Steps schFan(int reg) {
    return cat({rd(kSchMonitor, reg), wr(kSchMonitor, reg), wr(kSchMonitor, reg - 0x2C)});
}
const std::vector<Shape> kSchMonitorShapes = {
    {reads(kSchMonitor,
           {0x20, 0x21, 0x22, 0x23, 0x24, 0x99, 0x9A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D})},
    {schFan(0x5C)},
    {schFan(0x5D)},
    {schFan(0x5E)}};

// W83627: each request's bracket has its own shape; a fan setting reads and
// writes back one mode register (never the bank select), then the duty. The
// whole reading is recorded on the loaded board.
Steps sel(int device) { return {out(0x2E, 0x07), out(0x2F, device)}; }
Shape winbond(const Steps& body) { return {cat({kWinbondKey, body, {out(0x2E, 0xAA)}})}; }
const std::vector<Shape> kW83627Config = {
    winbond(cat({sel(8), rd(0x2E, 0xF5), wr(0x2E, 0xF5), wr(0x2E, 0xF6)})),  // SetTimeout
    winbond(cat({sel(8), wr(0x2E, 0xF6)})),                                  // Start, Reset
    winbond(cat({sel(7), wr(0x2E, 0xF1)})),                                  // digital I/O Set
    winbond(cat({sel(7), rd(0x2E, 0xF1)})),                                  // digital I/O Get
};
const Shape kW83627Fan = {{{'o', 0x295, -1, 0x4E},
                           in(0x296),
                           {'o', 0x295, -1, -1, 0},
                           out(0x296),
                           {'o', 0x295, -1, 0x4E},
                           out(0x296)}};

Lines cat2(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// Exactly the accesses of `lines`.
Steps exactly(const std::vector<std::string>& lines) {
    Steps s;
    for (const auto& a : zrvtest::accessesOn(lines, 0, 0xFFFF))
        s.push_back({a.in ? 'i' : 'o', a.port, a.value});
    return s;
}

struct Pair {
    uint16_t low, high;
    std::vector<Shape> shapes;
    size_t atLeast = 0, exactly = 0;  // accesses on the pair (0: no bound)
};
using Work = std::function<bool(SimBoard&, int round)>;  // whether the answers were right
struct Row {
    const char* name;
    int rounds;
    // Adds and loads the chip, may add recorded shapes; returns the chip's
    // state check after the run.
    std::function<std::function<bool()>(SimBoard&, std::vector<Pair>&)> setUp;
    std::vector<Work> threads;
    std::vector<Pair> pairs;
    bool pairsOnly;  // the pairs carry every access
    size_t traceAtLeast;
};

bool ok(const sim::IoResult& r) { return r.status == ZRV_STATUS_SUCCESS; }
Work watchdog(uint16_t count) {
    return [count](SimBoard& b, int) {
        return ok(b.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(count, 1))) &&
               ok(b.ioctl(IOCTL_WDT_RESET));
    };
}
Work dioSetGet() {
    return [](SimBoard& b, int i) {
        const uint16_t lines = static_cast<uint16_t>(i & 0xF);
        return ok(b.ioctl(IOCTL_DIO_SET_OUTPUT, le16(lines))) &&
               b.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2).data == le16(lines);
    };
}
// A reading whose bytes at the given offsets are as given.
Work reading(std::vector<std::pair<int, uint8_t>> bytes) {
    return [bytes](SimBoard& b, int) {
        const auto r = b.ioctl(IOCTL_HWM_GET_DATA, {}, 36);
        bool right = r.data.size() == 36;
        for (const auto& [at, v] : bytes) right = right && r.data[size_t(at)] == v;
        return right;
    };
}
Work fanControl(int fans, uint8_t modeByte, int dutyModulo) {
    return [=](SimBoard& b, int i) {
        const std::vector<uint8_t> c = {
            static_cast<uint8_t>(i % fans), modeByte, static_cast<uint8_t>(i % dutyModulo), 0, 0, 0, 0, 0};
        return ok(b.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8));
    };
}

const Row kRows[] = {
    {"F81865",
     2000,
     [](SimBoard& b, std::vector<Pair>&) -> std::function<bool()> {
         auto& chip = b.attach(std::make_unique<sim::F81865>(0x2E, 0x1010));
         chip.setReg(4, 0x60, 0x0A);
         chip.setHwm(0x01, 0x03);
         for (uint8_t r = 0x20; r <= 0x27; ++r) chip.setHwm(r, r);
         chip.setHwm(0x72, 40);
         chip.setHwm(0x74, 41);
         chip.setHwm(0x7E, 42);
         chip.setHwm(0xA0, 0x02);  // 2000 rpm, counts fan control does not change
         chip.setHwm(0xA1, 0xEE);
         chip.setReg(6, 0xA0, 0x0F);  // four outputs sharing group 5's data register
         const uint32_t k = f81865test::kF81865;
         EXPECT_EQ(b.load(hwmKey(k) + wdtKey(k) +
                          dioLinesKey(k, {{0, 1}, {3, 2}}, {{5, 1}, {5, 2}, {5, 4}, {5, 8}})),
                   ZRV_STATUS_SUCCESS);
         return [&chip] { return !chip.configOpen(); };
     },
     {watchdog(200), dioSetGet(),
      reading({{0, 0xD0}, {1, 0x07}, {20, 0x20}, {27, 0x27}, {30, 40}, {31, 41}, {32, 42}}),
      fanControl(3, 1, 128)},
     {{0x2E, 0x2F, kF81865Config}, {0xA05, 0xA06, kF81865Monitor}},
     true,
     2000 * 16},
    {"IT87",
     3000,
     [](SimBoard& b, std::vector<Pair>&) -> std::function<bool()> {
         auto& chip = b.attach(std::make_unique<sim::It87>(0x2E, 0x8718));
         chip.setReg(4, 0x60, 0x02);
         chip.setReg(4, 0x61, 0x90);
         chip.setReg(4, 0x30, 0x01);
         for (uint8_t r = 0x20; r <= 0x2B; ++r) chip.setHwm(r, r);
         chip.setHwm(0x18, 0x01);  // fan 1: count 0x0177, 1800 rpm
         chip.setHwm(0x0D, 0x77);
         EXPECT_EQ(b.load(hwmKey(it87test::kIt87) + wdtKey(it87test::kIt87) + noDio()), ZRV_STATUS_SUCCESS);
         // A count before any start: the stop-and-start thread may come first.
         EXPECT_TRUE(ok(b.ioctl(IOCTL_WDT_SET_TIMEOUT, zrvtest::timeoutRecord(300, 1))));
         return [&chip] { return !chip.configOpen(); };
     },
     {watchdog(300),
      [](SimBoard& b, int) { return ok(b.ioctl(IOCTL_WDT_STOP)) && ok(b.ioctl(IOCTL_WDT_START)); },
      reading({{0, 0x08}, {1, 0x07}, {20, 0x20}, {28, 0x28}, {29, 0}, {30, 0x29}, {32, 0x2B}}),
      [](SimBoard& b, int i) {  // fans on and off: read-modify-writes of 0x13 and 0x14
          const std::vector<uint8_t> c = {
              static_cast<uint8_t>(i % 3), 0, static_cast<uint8_t>(i & 1), 0, 0, 0, 0, 0};
          return ok(b.ioctl(IOCTL_HWM_FAN_CONTROL, c, 8));
      },
      [](SimBoard& b, int) {
          return ok(b.ioctl(IOCTL_HWM_FAN_CONTROL, {3, 2, 0, 40, 60, 0, 0x20, 3}, 8));
      }},
     {{0x2E, 0x2F, kIt87Config, 3000 * 40}, {0x295, 0x296, kIt87Monitor, 3000 * 24}},
     true,
     0},
    {"SCH3114",
     2000,
     [](SimBoard& b, std::vector<Pair>&) -> std::function<bool()> {
         auto& chip = b.attach(std::make_unique<sim::SCH3114>(0x4E, 0x7C));
         chip.setReg(0x0A, 0x60, static_cast<uint8_t>(sch3114test::kBase >> 8));
         chip.setReg(0x0A, 0x61, static_cast<uint8_t>(sch3114test::kBase));
         chip.setGpioOutputs(6, 0xFF);
         chip.setRuntime(0x50, 0x80);
         for (uint8_t r = 0x20; r <= 0x24; ++r) chip.setHwm(r, r);
         chip.setTemperature(1, 40);
         chip.setHwm(0x28, 0xD0);  // 2000: 2700 rpm, a raw count fan control does not change
         chip.setHwm(0x29, 0x07);
         std::vector<Line> lines;
         for (int k = 0; k < kLines; ++k) lines.push_back({6, 1u << k});
         const uint32_t k = sch3114test::kSCH3114;
         EXPECT_EQ(b.load(hwmKey(k) + wdtKey(k) + dioLinesKey(k, {{1, 1}}, lines)), ZRV_STATUS_SUCCESS);
         return [&chip] { return chip.pin("gp67").value_or(false); };
     },
     {[](SimBoard& b, int) {
          return ok(b.ioctl(IOCTL_DIO_SET_OUTPUT, le16(0x7F)));
      },  // two writers of one register
      [](SimBoard& b, int) { return ok(b.ioctl(IOCTL_DIO_SET_OUTPUT, le16(0x00))); },
      [](SimBoard& b, int) {  // a reader never sees half of a Set
          const auto r = b.ioctl(IOCTL_DIO_GET_OUTPUT, {}, 2);
          return r.data == le16(0x7F) || r.data == le16(0x00);
      },
      watchdog(200), reading({{0, 0x8C}, {1, 0x0A}, {20, 0x20}, {24, 0x24}, {30, 40}}),
      fanControl(3, 1, 128)},
     {{kGpio, kGpio, kSchGpio, 0, 2000 * kLines*(2 + 2 + 1)},
      {kSchMonitor, kSchMonitor + 1, kSchMonitorShapes}},
     false,
     0},
    {"W83627",
     1000,
     [](SimBoard& b, std::vector<Pair>& pairs) -> std::function<bool()> {
         auto& chip = b.attach(std::make_unique<sim::W83627>(0x2E, 0x88));
         chip.setReg(0x0B, 0x60, 0x02);
         chip.setReg(0x0B, 0x61, 0x90);
         chip.setReg(0x0B, 0x40, 0x01);
         chip.setReg(7, 0x30, 0x01);
         chip.setReg(7, 0xF0, 0xF0);  // GP10-13 outputs
         for (uint8_t r = 0x20; r <= 0x26; ++r) chip.setHwm(r, r);
         chip.setHwm(0x50, 0x51, 5);
         chip.setHwm(0x50, 41, 1);
         chip.setHwm(0x50, 42, 2);
         chip.setHwm(0x28, 150);  // 4500 rpm at divisor 2
         chip.setHwm(0x47, 0x10);
         const uint32_t k = w83627test::kW83627;
         EXPECT_EQ(b.load(hwmKey(k) + wdtKey(k) + dioGroupKey(k, 1, 0)), ZRV_STATUS_SUCCESS);
         b.clearTrace();
         EXPECT_TRUE(ok(b.ioctl(IOCTL_HWM_GET_DATA, {}, 36)));  // a whole reading, four bank selections
         pairs[1].shapes.push_back({exactly(b.trace())});
         return [&chip] { return !chip.configOpen() && chip.hwm(0x4E) == 0; };
     },
     {watchdog(200), dioSetGet(), reading({{0, 0x94}, {1, 0x11}, {20, 0x20}, {27, 0x51}, {31, 41}, {32, 42}}),
      fanControl(4, 1, 128)},
     {{0x2E, 0x2F, kW83627Config}, {0x295, 0x296, {kW83627Fan}}},
     false,
     1000 * 16},
};

TEST(Concurrency, RequestsFromManyThreadsKeepEachChipSequenceWhole) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        SimBoard board;
        std::vector<Pair> pairs = row.pairs;
        const auto chipState = row.setUp(board, pairs);
        board.clearTrace();

        std::atomic<int> wrong{0};
        std::atomic<bool> go{false};  // every thread starts its rounds at once
        std::vector<std::thread> threads;
        for (const Work& work : row.threads)
            threads.emplace_back([&, work] {
                while (!go) std::this_thread::yield();
                for (int i = 0; i < row.rounds; ++i)
                    if (!work(board, i)) ++wrong;
            });
        go = true;
        for (auto& t : threads) t.join();

        EXPECT_EQ(wrong.load(), 0);
        const auto trace = board.trace();
        EXPECT_GT(trace.size(), row.traceAtLeast);
        size_t onPairs = 0;
        for (const Pair& p : pairs) {
            const auto accesses = zrvtest::accessesOn(trace, p.low, p.high);
            onPairs += accesses.size();
            EXPECT_GE(accesses.size(), p.atLeast);
            EXPECT_TRUE(p.exactly == 0 || accesses.size() == p.exactly) << accesses.size();
            EXPECT_EQ(zrvtest::firstBroken(accesses, p.shapes), "") << fmt::format("pair 0x{:04x}", p.low);
        }
        EXPECT_TRUE(!row.pairsOnly || onPairs == trace.size()) << onPairs;
        EXPECT_TRUE(chipState());
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
}

// The walker catches what it is there to catch: each crafted trace is whole
// or broken on the chip's shapes.
TEST(Concurrency, TheWalkerFindsBrokenSequences) {
    const Lines set = [] {  // a Set from all lines clear to all set
        Lines l;
        for (const Step& s : gpioSet(0x80, 0x7F))
            l.push_back(fmt::format("{} 0x{:04x} 0x{:02x}", s.dir == 'i' ? "in" : "out", s.port, s.value));
        return l;
    }();
    Lines split = set;  // another Set's line written in between
    split.insert(split.begin() + 4, {"in 0x0ad0 0x83", "out 0x0ad0 0x82"});
    const Lines w83627Reading = Trace(0x2E, 0x0290).hwr(0x4E, 1).hrd(0x50, 41).hwr(0x4E, 0);
    const Lines w83627Fan = Trace(0x2E, 0x0290).hrd(0x04, 0).hwr(0x04, 0).hwr(0x01, 2);
    Lines readingThenFan = w83627Reading, readingSplit = {w83627Reading[0], w83627Reading[1]};
    readingThenFan.insert(readingThenFan.end(), w83627Fan.begin(), w83627Fan.end());
    readingSplit.insert(readingSplit.end(), w83627Fan.begin(), w83627Fan.end());
    readingSplit.insert(readingSplit.end(), w83627Reading.begin() + 2, w83627Reading.end());
    const std::vector<Shape> w83627Monitor = {{exactly(w83627Reading)}, kW83627Fan};
    const Lines it87Key = {"out 0x002e 0x87", "out 0x002e 0x01", "out 0x002e 0x55", "out 0x002e 0x55"};
    const Lines it87OnOff = {"out 0x0295 0x13", "in 0x0296 0x07", "out 0x0295 0x13", "out 0x0296 0x76",
                             "out 0x0295 0x14", "in 0x0296 0x00", "out 0x0295 0x14", "out 0x0296 0x01"};
    Lines it87Mixed = it87OnOff;
    it87Mixed.insert(it87Mixed.begin() + 2, {"out 0x0295 0x13", "in 0x0296 0x07"});
    const struct {
        const char* what;
        const std::vector<Shape>& shapes;
        Lines trace;
        bool whole;
    } cases[] = {
        {"F81865 bracket",
         kF81865Config,
         {"out 0x002e 0x87", "out 0x002e 0x87", "out 0x002e 0x07", "out 0x002f 0x07", "out 0x002e 0xaa"},
         true},
        {"F81865 bracket opened by half",
         kF81865Config,
         {"out 0x002e 0x87", "out 0x002e 0x07", "out 0x002f 0x07"},
         false},
        {"F81865 monitor access inside a bracket",
         kF81865Config,
         {"out 0x002e 0x87", "out 0x002e 0x87", "out 0x0a05 0x20", "in 0x0a06 0x20", "out 0x002e 0xaa"},
         false},
        {"F81865 mode read-modify-write split",
         kF81865Monitor,
         {"out 0x0a05 0x96", "in 0x0a06 0x00", "out 0x0a05 0x20", "in 0x0a06 0x20", "out 0x0a05 0x96",
          "out 0x0a06 0x03"},
         false},
        {"F81865 index followed by index",
         kF81865Monitor,
         {"out 0x0a05 0x20", "out 0x0a05 0x21", "in 0x0a06 0x20"},
         false},
        {"IT87 bracket", kIt87Config,
         cat2(it87Key, {"out 0x002e 0x07", "out 0x002f 0x07", "out 0x002e 0x02", "out 0x002f 0x02"}), true},
        {"IT87 bracket split", kIt87Config,
         cat2(it87Key, {"out 0x002e 0x07", "out 0x002e 0x87", "out 0x002f 0x07"}), false},
        {"IT87 fan on and off", kIt87Monitor, it87OnOff, true},
        {"IT87 fan setting split", kIt87Monitor, it87Mixed, false},
        {"SCH3114 Set", kSchGpio, set, true},
        {"SCH3114 Set split by another's line", kSchGpio, split, false},
        {"SCH3114 reading split by a fan setting",
         kSchMonitorShapes,
         {"out 0x0af0 0x20", "in 0x0af1 0x00", "out 0x0af0 0x5c", "in 0x0af1 0x00", "out 0x0af0 0x5c",
          "out 0x0af1 0xe0", "out 0x0af0 0x30", "out 0x0af1 0x00"},
         false},
        {"W83627 watchdog bracket", kW83627Config, Trace(0x2E).enter().select(8).wr(0xF6, 5).exit(), true},
        {"W83627 bracket selecting twice", kW83627Config,
         Trace(0x2E).enter().select(8).select(7).wr(0xF6, 5).exit(), false},
        {"W83627 bracket of no request", kW83627Config, Trace(0x2E).enter().select(8).wr(0xF1, 5).exit(),
         false},
        {"W83627 bracket with a monitor access between, on its pair", kW83627Config,
         zrvtest::linesOn(
             Trace(0x2E).enter().out(0x2E, 0x07).out(0x295, 0x28).out(0x2F, 0x08).wr(0xF6, 5).exit(), 0x2E,
             0x2F),
         true},
        {"W83627 reading, then fan setting", w83627Monitor, readingThenFan, true},
        {"W83627 reading split by a fan setting", w83627Monitor, readingSplit, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zrvtest::firstBroken(zrvtest::accessesOn(c.trace, 0, 0xFFFF), c.shapes).empty(), c.whole)
            << c.what;
}

// The emulator's protocol checker sees broken sequences on its own.
TEST(W83627Emulator, ProtocolCheckerFlagsBrokenSequences) {
    struct Access {
        uint16_t port;
        int value;  // -1: a read
    };
    struct Case {
        std::vector<Access> accesses;
        std::string violation;
    };
    const Case cases[] = {
        {{{0x2F, -1}}, "data port 0x2f read while configuration mode is closed"},
        {{{0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0xF6}, {0x2F, 5}, {0x2E, 0xAA}},
         "register 0xf6 written before a logical device was selected"},
        {{{0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0x87}, {0x2E, 0xAA}},
         "configuration mode opened again inside an open bracket"},
        {{{0x2E, 0xAA}}, "exit key 0xaa written while configuration mode is closed"},
        {{{0x2E, 0x87}, {0x2E, 0x87}}, "configuration mode left open"},
        {{{0x295, 0x4E}, {0x296, 3}, {0x295, 0x50}, {0x296, -1}},
         "monitor register 0x50 accessed with bank 3 selected"},
    };
    for (const Case& c : cases) {
        sim::W83627 chip(0x2E, 0x88);
        chip.setReg(0x0B, 0x60, 0x02);
        chip.setReg(0x0B, 0x61, 0x90);
        chip.setReg(0x0B, 0x40, 0x01);
        for (const Access& a : c.accesses)
            a.value < 0 ? static_cast<void>(chip.read(a.port))
                        : chip.write(a.port, static_cast<uint8_t>(a.value));
        EXPECT_EQ(chip.violations(), std::vector<std::string>{c.violation});
    }
}

}  // namespace
