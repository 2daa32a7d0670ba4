// Every request code with input and output lengths of 0, n-1, n, n+1 and
// 4096 (n the length its record needs) on read-only and read/write handles,
// on every example board. One table says what each code needs; the status
// and the byte count of every cell follow from it and from which functions
// the board binds.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "sim/board.h"
#include "tests/support/boards.h"
#include "zorvik/requests.h"

namespace {

using zrvtest::SimBoard;

enum class Function { Hwm, Wdt, Dio, None, Invalid };

struct CodeRow {
    uint32_t code;
    Function function;
    uint32_t returns;  // bytes on success
    bool upToOutput;   // fewer when the output buffer is shorter
    bool maySayNo;     // a bound back-end may refuse it (missing slot, fan, direction register, stop)
    std::vector<uint8_t> record;  // an input every back-end takes
};

const CodeRow kCodes[] = {
    {IOCTL_HWM_GET_DATA, Function::Hwm, 36, false, false, {}},
    {IOCTL_HWM_FAN_CONTROL, Function::Hwm, 8, true, true, {0, 0, 1, 0, 0, 0, 0, 0}},
    {IOCTL_SPARE_1, Function::None, 2, true, false, {0x34, 0x12}},
    {IOCTL_SPARE_2, Function::None, 2, true, false, {0x34, 0x12}},
    {IOCTL_DIO_GET_CONFIG, Function::Dio, 2, false, false, {}},
    {IOCTL_DIO_GET_INPUT, Function::Dio, 2, false, false, {}},
    {IOCTL_DIO_SET_OUTPUT, Function::Dio, 0, false, false, {0x05, 0x00}},
    {IOCTL_DIO_GET_OUTPUT, Function::Dio, 2, false, false, {}},
    {IOCTL_WDT_SET_TIMEOUT, Function::Wdt, 0, false, false, {10, 0, 1, 0}},
    {IOCTL_WDT_START, Function::Wdt, 0, false, false, {}},
    {IOCTL_WDT_STOP, Function::Wdt, 0, false, true, {}},
    {IOCTL_WDT_RESET, Function::Wdt, 0, false, false, {}},
    {IOCTL_WDT_GET_TIMEOUT, Function::Wdt, 4, false, false, {}},
    {IOCTL_DIO_CD_GET_INPUTS, Function::Dio, 1, false, true, {}},
    {IOCTL_DIO_CD_PULSE_OUTPUT, Function::Dio, 0, false, true, {0x01}},
    {IOCTL_DIO_CD_GET_OUTPUT_COUNT, Function::Dio, 1, false, true, {}},
    {IOCTL_DIO_SET_SPECIFIC_MASK, Function::Dio, 0, false, true, {0x0F}},
    {IOCTL_DIO_CD_SET_OUTPUT, Function::Dio, 0, false, true, {0x11}},
    {ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x808, 0, 0), Function::Invalid, 0, false, false, {}},
    {ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x800, 0, 2), Function::Invalid, 0, false, false, {}},
};

// The smallest input and output a request takes, from the request list; an
// invalid code takes none.
const ZrvRequestInfo kRequests[] = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};
ZrvRequestInfo limits(uint32_t code) {
    for (const ZrvRequestInfo& q : kRequests)
        if (q.Code == code) return q;
    return {code, "", ZRV_REQUEST_NONE, 0, 0};
}

std::set<uint32_t> lengths(uint32_t n) {
    std::set<uint32_t> out{0, n, n + 1, 4096};
    if (n > 0) out.insert(n - 1);
    return out;
}

TEST(LengthMatrix, EveryCodeLengthAndHandleOnEveryBoard) {
    for (const std::string& file : zrvtest::exampleBoards()) {
        SCOPED_TRACE(file);
        SimBoard board;
        sim::loadBoard(board.machine(), file);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        const auto probes = zrvtest::probeFunctions(board);
        auto bound = [&](Function f) {
            switch (f) {
                case Function::Hwm: return probes[0].status != ZRV_STATUS_NOT_SUPPORTED;
                case Function::Wdt: return probes[1].status != ZRV_STATUS_NOT_SUPPORTED;
                case Function::Dio: return probes[2].status != ZRV_STATUS_NOT_SUPPORTED;
                default: return true;
            }
        };
        int cells = 0;
        for (const CodeRow& row : kCodes) {
            const ZrvRequestInfo need = limits(row.code);
            // Served cells of one code all end the same way, whatever the lengths.
            std::optional<ZrvStatus> served;
            for (const auto access : {sim::Access::Read, sim::Access::ReadWrite}) {
                for (uint32_t in : lengths(need.MinInput)) {
                    for (uint32_t out : lengths(need.MinOutput)) {
                        SCOPED_TRACE(fmt::format("code 0x{:08x} in {} out {} {}", row.code, in, out,
                                                 access == sim::Access::Read ? "read-only" : "read/write"));
                        std::vector<uint8_t> input = row.record;
                        input.resize(in, 0);
                        const auto r = board.ioctl(row.code, input, out, access);
                        ++cells;
                        ASSERT_EQ(r.data.size(), r.bytes);
                        if (ZRV_CODE_ACCESS(row.code) == ZRV_WRITE_ACCESS && access == sim::Access::Read) {
                            EXPECT_EQ(r.status, ZRV_STATUS_ACCESS_DENIED);
                        } else if (row.function == Function::Invalid) {
                            EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
                        } else if (!bound(row.function)) {
                            EXPECT_EQ(r.status, ZRV_STATUS_NOT_SUPPORTED);
                        } else if (in < need.MinInput || out < need.MinOutput) {
                            EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
                        } else {
                            if (!served) served = r.status;
                            EXPECT_EQ(r.status, *served) << "the same request with other lengths";
                            if (!row.maySayNo) {
                                EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
                            }
                            if (r.status == ZRV_STATUS_SUCCESS) {
                                EXPECT_EQ(r.bytes, row.upToOutput ? std::min(row.returns, out) : row.returns);
                                continue;
                            }
                        }
                        EXPECT_EQ(r.bytes, 0u);
                    }
                }
            }
        }
        EXPECT_GT(cells, 500);
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
}

}  // namespace
