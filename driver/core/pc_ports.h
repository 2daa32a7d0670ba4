// The PC's own I/O ports, which the driver never reaches through a back-end,
// whatever the registry names or a chip reports as its base: everything
// below 0x100 (the DMA, interrupt and timer controllers, the keyboard
// controller, the real-time clock and its CMOS, the POST port) and the PCI
// configuration ports 0xCF8-0xCFF (address and data: a stray byte there
// changes which configuration register the next PCI access of the system
// reaches). The Super I/O configuration pairs 0x2E/0x2F and 0x4E/0x4F lie
// below 0x100 too: the driver reaches them only through the configuration
// brackets of chips/superio.h, under the pair's lock, never as a port a back-end
// was given: a port back-end's lone byte there would fall into a bracket
// another function holds, or open the chip's configuration mode.
//
// Freestanding and registry-free: the driver's back-ends and zrvctl's
// configuration check apply the same rule.
#pragma once

#include <stdint.h>

constexpr uint32_t kPcPortsBelow = 0x100;
constexpr uint32_t kPciConfigFirst = 0xCF8;
constexpr uint32_t kPciConfigLast = 0xCFF;
constexpr uint32_t kLastPort = 0xFFFF;

// Whether the ports `first` to `last` (inclusive, in 32 bits: a block that
// runs past 0xFFFF goes on at 0x0000 on the bus) reach one of the PC's own.
constexpr bool ReachesPcPort(uint32_t first, uint32_t last) {
    return first < kPcPortsBelow || last > kLastPort || last < first ||
           (first <= kPciConfigLast && last >= kPciConfigFirst);
}
constexpr bool IsPcPort(uint32_t port) { return ReachesPcPort(port, port); }

static_assert(IsPcPort(0x20) && IsPcPort(0x2E) && IsPcPort(0xFF) && !IsPcPort(0x100), "the PC's low ports");
static_assert(IsPcPort(0xCF8) && IsPcPort(0xCFF) && !IsPcPort(0xCF7) && !IsPcPort(0xD00),
              "PCI configuration");
static_assert(ReachesPcPort(0xCF2, 0xCF8) && !ReachesPcPort(0xCF0, 0xCF7) && ReachesPcPort(0xFFFA, 0x10000),
              "blocks");
