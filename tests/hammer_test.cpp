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
#include "tests/support/requests.h"

namespace {

using zrvtest::SimBoard;

// Every request of the list with its well-formed record, and records that
// some back-ends refuse or take another way; each thread picks from them in
// its own random order.
std::vector<zrvtest::RequestKind> mixedRequests() {
    std::vector<zrvtest::RequestKind> all = zrvtest::requestKinds();
    all.insert(all.end(), {{"fan 2 on", IOCTL_HWM_FAN_CONTROL, {1, 0, 1, 0, 0, 0, 0, 0}, 8},
                           {"lines a55a", IOCTL_DIO_SET_OUTPUT, {0xA5, 0x5A}, 0},
                           {"lines 0", IOCTL_DIO_SET_OUTPUT, {0x00, 0x00}, 0},
                           {"200 minutes", IOCTL_WDT_SET_TIMEOUT, {200, 0, 2, 0}, 0},
                           {"mask ff", IOCTL_DIO_SET_SPECIFIC_MASK, {0xFF}, 0},
                           {"mask 00", IOCTL_DIO_SET_SPECIFIC_MASK, {0x00}, 0},
                           {"output 2 on", IOCTL_DIO_CD_SET_OUTPUT, {0x21}, 0},
                           {"output 1 off", IOCTL_DIO_CD_SET_OUTPUT, {0x10}, 0}});
    return all;
}

constexpr int kThreads = 8;
constexpr int kPerThread = 250;

TEST(Hammer, EightThreadsOfMixedRequestsOnEveryBoard) {
    const std::vector<zrvtest::RequestKind> requests = mixedRequests();
    zrvtest::onEveryBoard([&requests](SimBoard& board) {
        std::atomic<int> broken{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 rng(static_cast<uint32_t>(t) * 7919u + 1u);
                for (int i = 0; i < kPerThread; ++i) {
                    const zrvtest::RequestKind& q = requests[rng() % requests.size()];
                    const auto r = board.ioctl(q.code, q.input, q.outputLength);
                    if (r.bytes > q.outputLength || r.data.size() != r.bytes ||
                        (r.status != ZRV_STATUS_SUCCESS && r.bytes != 0))
                        ++broken;
                }
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(broken.load(), 0);
    });
}

}  // namespace
