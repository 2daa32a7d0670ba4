// Every request code with input and output lengths of 0, n-1, n, n+1 and
// 4096 (n the length its record needs) on read-only and read/write handles,
// on every example board. The request list says what each code needs, two
// short lists what it does not say; the status and the byte count of every
// cell follow from them and from which functions the board binds.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>

#include "sim/board.h"
#include "tests/support/boards.h"
#include "tests/support/requests.h"
#include "zorvik/requests.h"

namespace {

using zrvtest::SimBoard;

// What the request list does not say: which requests echo their record (as
// much of it as the output buffer holds), and which a bound back-end may
// refuse (a missing slot, fan, direction register or stop).
const uint32_t kEchoes[] = {IOCTL_HWM_FAN_CONTROL, IOCTL_SPARE_1, IOCTL_SPARE_2};
const uint32_t kMaySayNo[] = {IOCTL_HWM_FAN_CONTROL,         IOCTL_WDT_STOP,
                              IOCTL_DIO_CD_GET_INPUTS,       IOCTL_DIO_CD_PULSE_OUTPUT,
                              IOCTL_DIO_CD_GET_OUTPUT_COUNT, IOCTL_DIO_SET_SPECIFIC_MASK,
                              IOCTL_DIO_CD_SET_OUTPUT};
constexpr uint8_t kInvalid = 0xFF;  // a code the driver does not know

bool listed(const uint32_t* first, const uint32_t* last, uint32_t code) {
    return std::find(first, last, code) != last;
}

// The request list and two codes of the device type that are no request.
std::vector<ZrvRequestInfo> codes() {
    std::vector<ZrvRequestInfo> all = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};
    all.push_back({ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x808, 0, 0), "", kInvalid, 0, 0});
    all.push_back({ZRV_CTL_CODE(ZRV_DEVICE_TYPE, 0x800, 0, 2), "", kInvalid, 0, 0});
    return all;
}

std::set<uint32_t> lengths(uint32_t n) {
    std::set<uint32_t> out{0, n, n + 1, 4096};
    if (n > 0) out.insert(n - 1);
    return out;
}

TEST(LengthMatrix, EveryCodeLengthAndHandleOnEveryBoard) {
    zrvtest::onEveryBoard([](SimBoard& board) {
        const auto probes = zrvtest::probeFunctions(board);
        auto bound = [&](uint8_t function) {
            switch (function) {
                case ZRV_REQUEST_HWM: return probes[0].status != ZRV_STATUS_NOT_SUPPORTED;
                case ZRV_REQUEST_WDT: return probes[1].status != ZRV_STATUS_NOT_SUPPORTED;
                case ZRV_REQUEST_DIO: return probes[2].status != ZRV_STATUS_NOT_SUPPORTED;
                default: return true;
            }
        };
        int cells = 0;
        for (const ZrvRequestInfo& need : codes()) {
            const uint32_t code = need.Code;
            const bool echoes = listed(std::begin(kEchoes), std::end(kEchoes), code);
            const uint32_t returns = echoes ? need.MinInput : need.MinOutput;
            // Served cells of one code all end the same way, whatever the lengths.
            std::optional<ZrvStatus> served;
            for (const auto access : {sim::Access::Read, sim::Access::ReadWrite}) {
                for (uint32_t in : lengths(need.MinInput)) {
                    for (uint32_t out : lengths(need.MinOutput)) {
                        SCOPED_TRACE(fmt::format("code 0x{:08x} in {} out {} {}", code, in, out,
                                                 access == sim::Access::Read ? "read-only" : "read/write"));
                        std::vector<uint8_t> input = zrvtest::wellFormedRecord(code);
                        input.resize(in, 0);
                        const auto r = board.ioctl(code, input, out, access);
                        ++cells;
                        ASSERT_EQ(r.data.size(), r.bytes);
                        if (ZRV_CODE_ACCESS(code) == ZRV_WRITE_ACCESS && access == sim::Access::Read) {
                            EXPECT_EQ(r.status, ZRV_STATUS_ACCESS_DENIED);
                        } else if (need.Function == kInvalid) {
                            EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
                        } else if (!bound(need.Function)) {
                            EXPECT_EQ(r.status, ZRV_STATUS_NOT_SUPPORTED);
                        } else if (in < need.MinInput || out < need.MinOutput) {
                            EXPECT_EQ(r.status, ZRV_STATUS_INVALID_PARAMETER);
                        } else {
                            if (!served) served = r.status;
                            EXPECT_EQ(r.status, *served) << "the same request with other lengths";
                            if (!listed(std::begin(kMaySayNo), std::end(kMaySayNo), code)) {
                                EXPECT_EQ(r.status, ZRV_STATUS_SUCCESS);
                            }
                            if (r.status == ZRV_STATUS_SUCCESS) {
                                EXPECT_EQ(r.bytes, echoes ? std::min(returns, out) : returns);
                                continue;
                            }
                        }
                        EXPECT_EQ(r.bytes, 0u);
                    }
                }
            }
        }
        EXPECT_GT(cells, 500);
    });
}

}  // namespace
