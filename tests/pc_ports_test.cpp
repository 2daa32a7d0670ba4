// The port back-ends never reach the PC's own ports, whatever the registry
// names: a port watchdog or port digital I/O whose values reach a port below
// 0x100 or a PCI configuration port is refused at load with one debugger
// line and its reason, and no request touches a port; one on the board's
// ports either side of them binds and reaches them.
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/ports.h"
#include "tests/support/requests.h"
#include "zorvik/reasons.h"

namespace {

struct Row {
    const char* key;     // "WDT" or "DIO"
    const char* values;  // its values, as a .reg file writes them
    uint16_t port;       // the PC's port it is refused for; or the board's port the bound back-end reaches
    bool refused;
};

// The PC's ports as the board knows them, apart from the driver's rule.
bool pcPort(unsigned port) { return port < 0x100 || (port >= 0xCF8 && port <= 0xCFF); }

// clang-format off
const Row kRows[] = {
    {"WDT", "\"Start\"=dword:00008070\n\"Stop\"=dword:00000843\n",              0x70,  true},   // CMOS index
    {"WDT", "\"Start\"=dword:00008443\n\"Stop\"=dword:00000064\n",              0x64,  true},   // keyboard controller
    {"WDT", "\"Start\"=dword:00008443\n\"Reset\"=dword:00008020\n",             0x20,  true},   // interrupt controller
    {"WDT", "\"Start\"=dword:00008443\n\"Timeout\"=dword:00010080\n",           0x80,  true},   // POST, high bits dropped
    {"WDT", "\"Start\"=dword:00000cf8\n",                                       0xCF8, true},   // PCI address
    {"WDT", "\"Start\"=dword:00008443\n\"Timeout\"=dword:00000cfc\n",           0xCFC, true},   // PCI data
    {"WDT", "\"Start\"=dword:0000802e\n",                                       0x2E,  true},   // a configuration pair
    {"WDT", "\"Start\"=dword:00008100\n\"Stop\"=dword:00000100\n",              0x100, false},
    {"WDT", "\"Start\"=dword:00008443\n\"Timeout\"=dword:00000d00\n",           0xD00, false},
    {"DIO", "\"IOBaseIn\"=dword:00000060\n\"InMask\"=dword:000000ff\n\"InBits\"=dword:00000008\n", 0x60, true},
    {"DIO", "\"IOBaseIn\"=dword:00000300\n\"IOBaseIn2\"=dword:00000061\n",      0x61,  true},
    {"DIO", "\"IOBaseOut\"=dword:00000cfc\n",                                   0xCFC, true},
    {"DIO", "\"CDPort\"=dword:000002a0\n\"CDOutPort\"=dword:00000070\n",        0x70,  true},
    {"DIO", "\"UseSpecificSetting\"=dword:00000001\n\"SpecificMaskIo\"=dword:00000311\n"
            "\"SpecificDataIo\"=dword:00000cf8\n",                               0xCF8, true},
    {"DIO", "\"SpecificMaskIo\"=dword:0000004e\n",                              0x4E,  true},   // a configuration pair
    {"DIO", "\"IOBaseIn\"=dword:00000100\n\"InMask\"=dword:000000ff\n\"InBits\"=dword:00000008\n"
            "\"CDPort\"=dword:00000cf7\n",                                       0x100, false},
    {"DIO", "\"IOBaseOut\"=dword:00000d00\n\"OutMask\"=dword:000000ff\n\"OutBits\"=dword:00000008\n"
            "\"IOBaseIn2\"=dword:00000020\n",                                    0xD00, false},  // no first input port
};
// clang-format on

TEST(PcPorts, PortBackEndsAreRefusedForThePcsPortsAndTouchNone) {
    for (const Row& r : kRows) {
        SCOPED_TRACE(fmt::format("{} {}", r.key, r.values));
        zrvtest::SimBoard board;
        ASSERT_EQ(board.load(zrvtest::portRegistry(r.key, r.values)), ZRV_STATUS_SUCCESS);
        const unsigned function = r.key == std::string("WDT") ? ZRV_FUNCTION_WDT : ZRV_FUNCTION_DIO;
        EXPECT_EQ(board.machine().loadReasons()[function], r.refused ? ZRV_REASON_PC_PORT : ZRV_REASON_BOUND);
        const std::string reserved = fmt::format("port 0x{:X} is reserved for the PC", r.port);
        int lines = 0;
        for (const std::string& line : board.debugLines()) lines += line.find(reserved) != std::string::npos;
        EXPECT_EQ(lines, r.refused ? 1 : 0) << fmt::format("{}", fmt::join(board.debugLines(), "\n"));

        for (const zrvtest::RequestKind& k : zrvtest::requestKinds())
            board.ioctl(k.code, k.input, k.outputLength);
        bool reached = false;
        for (const std::string& line : board.trace()) {
            unsigned port = 0;
            if (std::sscanf(line.c_str(), "%*s 0x%x", &port) != 1) continue;
            EXPECT_FALSE(pcPort(port)) << line;
            reached = reached || port == r.port;
        }
        if (r.refused)
            EXPECT_TRUE(board.trace().empty());
        else
            EXPECT_TRUE(reached) << "the bound back-end reaches 0x" << std::hex << r.port;
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
}

}  // namespace
