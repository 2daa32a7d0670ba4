// The load's report on every example board: one event log entry per
// function the configuration names a back-end for that did not bind, with
// the reason's event code, the function and the configured back-end; the
// reasons of all functions as the service key's value; and a report that
// goes nowhere (no entry, no key) changes nothing else of the load.
#include <gtest/gtest.h>

#include <optional>

#include "sim/board.h"
#include "tests/support/boards.h"
#include "zorvik/reasons.h"

namespace {

using zrvtest::SimBoard;

const char* const kFunctionNames[ZRV_FUNCTIONS] = {"hardware monitor", "watchdog", "digital I/O"};

struct Load {
    std::array<uint8_t, ZRV_FUNCTIONS> reasons;
    std::vector<sim::Machine::LoggedEvent> events;
    std::optional<sim::RegValue> published;
    std::vector<std::string> debug, trace;
    std::vector<sim::IoResult> answers;
};

Load loadOn(const std::string& file, bool reportFails) {
    SimBoard board;
    sim::loadBoard(board.machine(), file);
    board.machine().failLoadReport(reportFails);
    EXPECT_EQ(board.load(), ZRV_STATUS_SUCCESS);
    const sim::RegValue* value = board.machine().registry().find(
        ZRV_SERVICE_KEY_KERNEL "\\" ZRV_LOAD_REPORT_KEY, ZRV_LOAD_REPORT_VALUE);
    Load load{board.machine().loadReasons(),
              board.machine().loggedEvents(),
              value != nullptr ? std::optional<sim::RegValue>(*value) : std::nullopt,
              board.debugLines(),
              board.trace(),
              zrvtest::probeFunctions(board)};
    board.unload();
    EXPECT_TRUE(board.violations().empty());
    return load;
}

TEST(LoadReport, EventsAndServiceKeyValueOnEveryBoardAndNothingElseWhenTheyFail) {
    for (const std::string& file : zrvtest::exampleBoards()) {
        SCOPED_TRACE(file);
        const Load load = loadOn(file, false);
        std::vector<sim::Machine::LoggedEvent> expected;
        for (unsigned f = 0; f < ZRV_FUNCTIONS; ++f)
            if (load.reasons[f] != ZRV_REASON_BOUND && load.reasons[f] != ZRV_REASON_NO_BACKEND)
                expected.push_back({ZRV_REASON_EVENT_BASE + load.reasons[f], {kFunctionNames[f]}});
        ASSERT_EQ(load.events.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(load.events[i].code, expected[i].code);
            ASSERT_EQ(load.events[i].strings.size(), 2u);
            EXPECT_EQ(load.events[i].strings[0], expected[i].strings[0]);
            EXPECT_FALSE(load.events[i].strings[1].empty());
        }
        ASSERT_TRUE(load.published.has_value());
        EXPECT_EQ(load.published->type, sim::kRegBinary);
        EXPECT_EQ(load.published->data, std::vector<uint8_t>(load.reasons.begin(), load.reasons.end()));

        const Load without = loadOn(file, true);
        EXPECT_TRUE(without.events.empty());
        EXPECT_FALSE(without.published.has_value());
        EXPECT_EQ(without.reasons, load.reasons);
        EXPECT_EQ(without.debug, load.debug);
        EXPECT_EQ(without.trace, load.trace);
        ASSERT_EQ(without.answers.size(), load.answers.size());
        for (size_t i = 0; i < load.answers.size(); ++i) {
            EXPECT_EQ(without.answers[i].status, load.answers[i].status);
            EXPECT_EQ(without.answers[i].data, load.answers[i].data);
        }
    }
}

// The back-end an entry names: the chip and the pairs its probe tried, as
// zrvctl status says it for the same board.
TEST(LoadReport, TheMonitorNotFoundAt0x4ENamesTheChipAndItsOnlyPair) {
    const Load load = loadOn(std::string(ZRV_SOURCE_DIR) + "/boards/it8783f-4e.json", false);
    ASSERT_EQ(load.events.size(), 1u);
    EXPECT_EQ(load.events[0].code, ZRV_REASON_EVENT_BASE + ZRV_REASON_NOT_FOUND);
    EXPECT_EQ(load.events[0].strings, (std::vector<std::string>{"hardware monitor", "IT87xx at 0x2E"}));
}

}  // namespace
