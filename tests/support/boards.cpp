#include "tests/support/boards.h"

#include <gtest/gtest.h>

#include "sim/board.h"
#include "tests/support/board_files.h"

namespace zrvtest {

std::vector<std::string> exampleBoards() {
    std::vector<std::string> boards;
    for (const auto& path : boardFilesIn(ZRV_SOURCE_DIR "/boards")) boards.push_back(path.string());
    return boards;
}

void onEveryBoard(const std::function<void(SimBoard&)>& body) {
    for (const std::string& file : exampleBoards()) {
        SCOPED_TRACE(file);
        SimBoard board;
        sim::loadBoard(board.machine(), file);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        body(board);
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
}

std::vector<sim::IoResult> probeFunctions(SimBoard& board) {
    struct Probe {
        uint32_t code;
        uint32_t output;
    };
    const Probe probes[] = {
        {IOCTL_HWM_GET_DATA, 36}, {IOCTL_WDT_GET_TIMEOUT, 4}, {IOCTL_DIO_GET_CONFIG, 2},
        {IOCTL_DIO_GET_INPUT, 2}, {IOCTL_DIO_GET_OUTPUT, 2},  {IOCTL_DIO_CD_GET_OUTPUT_COUNT, 1},
    };
    std::vector<sim::IoResult> answers;
    for (const Probe& p : probes) answers.push_back(board.ioctl(p.code, {}, p.output));
    return answers;
}

bool boundAsCleanOrNot(const sim::IoResult& seen, const sim::IoResult& clean) {
    if (seen.status == ZRV_STATUS_NOT_SUPPORTED && seen.bytes == 0) return true;
    return seen.status == clean.status && seen.data == clean.data;
}

}  // namespace zrvtest
