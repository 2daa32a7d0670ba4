#include "tests/support/board_rows.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/board.h"

namespace zrvtest {

void run(const BoardRow& c) {
    SCOPED_TRACE(c.what);
    SimBoard b;
    b.reg(c.registry);
    sim::loadBoardText(b.machine(), "{\"hardware\": [" + c.hardware + "]}", "corner.json");
    ASSERT_EQ(b.load(), kOk);
    if (c.loadTrace != kAny) {
        EXPECT_EQ(b.trace(), c.loadTrace);
    }
    if (c.loadDebug != kAny) {
        EXPECT_EQ(b.debugLines(), c.loadDebug);
    }
    for (const RowRequest& r : c.requests) {
        b.clearTrace();
        const sim::IoResult got = b.ioctl(r.code, r.input, r.outLen);
        EXPECT_EQ(got.status, r.status) << std::hex << r.code;
        const size_t n = std::min(got.data.size(), r.reply.size());
        EXPECT_EQ(std::vector<uint8_t>(got.data.begin(), got.data.begin() + static_cast<ptrdiff_t>(n)),
                  r.reply);
        if (r.trace != kAny) {
            EXPECT_EQ(b.trace(), r.trace) << std::hex << r.code;
        }
    }
    const auto resets = [&b] {
        size_t n = 0;
        for (const auto& device : b.machine().bus().devices()) n += device->resets().size();
        return n;
    };
    if (c.runMs != 0) {
        b.machine().advance(c.runMs - 1);
        EXPECT_EQ(resets(), 0u) << "none before the full time";
        b.machine().advance(1);
    }
    EXPECT_EQ(resets(), c.resets);
    b.unload();
    const auto v = b.violations();
    EXPECT_TRUE(v.empty()) << v.front();
}

std::string chip(const char* type, uint32_t id, const std::string& body, uint16_t port) {
    return fmt::format(R"({{"type": "{}", "config_port": "{:#x}", "id": "{:#x}"{}{}}})", type, port, id,
                       body.empty() ? "" : ", ", body);
}

}  // namespace zrvtest
