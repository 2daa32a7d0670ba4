// Every pool allocation, the device creation and the link creation of a
// load fail in turn, on every example board. A failed resource may leave a
// function unbound, never bind one differently from a clean load, and the
// unload leaves nothing behind.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "sim/board.h"
#include "tests/support/boards.h"

namespace {

using zrvtest::SimBoard;

void expectNothingLeft(SimBoard& board) {
    EXPECT_EQ(board.machine().outstandingAllocations(), 0u) << "pool blocks left";
    EXPECT_EQ(sim::openRegistryKeys(), 0) << "registry keys left open";
    const auto v = board.violations();
    EXPECT_TRUE(v.empty()) << v.front();
}

TEST(FaultSweep, EveryResourceOfTheLoadFailsInTurnOnEveryBoard) {
    const auto boards = zrvtest::exampleBoards();
    ASSERT_GE(boards.size(), 3u);
    for (const std::string& file : boards) {
        SCOPED_TRACE(file);
        uint32_t allocations = 0;
        std::vector<sim::IoResult> clean;
        {
            SimBoard board;
            sim::loadBoard(board.machine(), file);
            const uint32_t before = board.machine().allocationCount();
            ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
            allocations = board.machine().allocationCount() - before;
            clean = zrvtest::probeFunctions(board);
            board.unload();
            expectNothingLeft(board);
        }
        ASSERT_GT(allocations, 0u);
        for (uint32_t n = 1; n <= allocations; ++n) {
            SCOPED_TRACE(fmt::format("allocation {} of {}", n, allocations));
            SimBoard board;
            sim::loadBoard(board.machine(), file);
            board.machine().failAllocation(n);
            ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
            const auto seen = zrvtest::probeFunctions(board);
            for (size_t i = 0; i < seen.size(); ++i)
                EXPECT_TRUE(zrvtest::boundAsCleanOrNot(seen[i], clean[i]))
                    << "probe " << i << ": status " << std::hex << seen[i].status << ", clean "
                    << clean[i].status;
            board.unload();
            expectNothingLeft(board);
        }
        for (const bool device : {true, false}) {
            SCOPED_TRACE(device ? "device creation fails" : "link creation fails");
            SimBoard board;
            sim::loadBoard(board.machine(), file);
            board.machine().failDeviceCreation(device);
            board.machine().failLinkCreation(!device);
            EXPECT_EQ(board.load(), ZRV_STATUS_INSUFFICIENT_RESOURCES);
            int handle = 0;
            EXPECT_NE(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::Read, &handle),
                      ZRV_STATUS_SUCCESS);
            EXPECT_TRUE(board.trace().empty()) << "no hardware touched";
            expectNothingLeft(board);
        }
    }
}

}  // namespace
