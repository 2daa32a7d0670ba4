// Eight threads send mixed requests to every example board at once. The
// emulated hardware checks its own access rules (a configuration bracket
// opened by half, a sequence split by another, an input port written): none
// may be broken, and every answer keeps the I/O manager's rules. Built with
// ThreadSanitizer (the tsan preset), the same run finds unguarded shared
// state in the driver.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "sim/board.h"
#include "tests/support/boards.h"

namespace {

using zrvtest::SimBoard;

struct Request {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t output;
};

// Every kind of request, with records the back-ends take and some they
// refuse; each thread picks from them in its own random order.
const Request kRequests[] = {
    {IOCTL_HWM_GET_DATA, {}, 36},
    {IOCTL_HWM_FAN_CONTROL, {0, 1, 0x40, 0, 0, 0, 0, 0}, 8},
    {IOCTL_HWM_FAN_CONTROL, {1, 0, 1, 0, 0, 0, 0, 0}, 8},
    {IOCTL_DIO_GET_CONFIG, {}, 2},
    {IOCTL_DIO_GET_INPUT, {}, 2},
    {IOCTL_DIO_SET_OUTPUT, {0xA5, 0x5A}, 0},
    {IOCTL_DIO_SET_OUTPUT, {0x00, 0x00}, 0},
    {IOCTL_DIO_GET_OUTPUT, {}, 2},
    {IOCTL_WDT_SET_TIMEOUT, {30, 0, 1, 0}, 0},
    {IOCTL_WDT_SET_TIMEOUT, {200, 0, 2, 0}, 0},
    {IOCTL_WDT_START, {}, 0},
    {IOCTL_WDT_STOP, {}, 0},
    {IOCTL_WDT_RESET, {}, 0},
    {IOCTL_WDT_GET_TIMEOUT, {}, 4},
    {IOCTL_DIO_CD_GET_INPUTS, {}, 1},
    {IOCTL_DIO_CD_PULSE_OUTPUT, {1}, 0},
    {IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1},
    {IOCTL_DIO_SET_SPECIFIC_MASK, {0xFF}, 0},
    {IOCTL_DIO_SET_SPECIFIC_MASK, {0x00}, 0},
    {IOCTL_DIO_SET_SPECIFIC_MASK, {0x0F}, 0},
    {IOCTL_DIO_CD_SET_OUTPUT, {0x21}, 0},
    {IOCTL_DIO_CD_SET_OUTPUT, {0x10}, 0},
};

constexpr int kThreads = 8;
constexpr int kPerThread = 250;

TEST(Hammer, EightThreadsOfMixedRequestsOnEveryBoard) {
    for (const std::string& file : zrvtest::exampleBoards()) {
        SCOPED_TRACE(file);
        SimBoard board;
        sim::loadBoard(board.machine(), file);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        std::atomic<int> broken{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 rng(static_cast<uint32_t>(t) * 7919u + 1u);
                for (int i = 0; i < kPerThread; ++i) {
                    const Request& q = kRequests[rng() % std::size(kRequests)];
                    const auto r = board.ioctl(q.code, q.input, q.output);
                    if (r.bytes > q.output || r.data.size() != r.bytes ||
                        (r.status != ZRV_STATUS_SUCCESS && r.bytes != 0))
                        ++broken;
                }
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(broken.load(), 0);
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
}

}  // namespace
