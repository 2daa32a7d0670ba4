// The IT8712F, IT8718F and IT8783F Super I/O chips: their configuration
// keys, the chip IDs the back-ends accept and the configuration bracket.
//
// The watchdog and the hardware monitor probe the chip each by itself and
// keep their own state; what they share is the key sequence, the ID list and
// the lock of the configuration pair they use.
#pragma once

#include "chips/superio.h"

// Logical devices the back-ends use.
#define IT87_DEVICE_HWM 0x04
#define IT87_DEVICE_WDT 0x07

// Global configuration registers beyond those every Super I/O shares.
#define IT87_REG_CONFIG_CONTROL 0x02  // bit 1 written: leave configuration mode
#define IT87_REG_VERSION 0x22

// What the back-ends take from an accepted chip ID. A version of 0 means
// "the byte register 0x22 holds" (the IT8712F comes in several versions).
struct It87Chip {
    uint16_t ChipId;
    uint8_t WdtVersion;     // 8 or more: 16-bit watchdog count
    uint8_t HwmVersion;     // its low nibble gives the version letter
    bool DivisorsFromChip;  // fans 1 to 3 take their divisors from monitor register 0x0B
};

// The accepted chip's entry, or null.
const It87Chip* It87FindChip(uint16_t id);

// Probes the first `pairs` configuration pairs with the keys of each pair,
// asking `accept` inside each bracket (see SioProbe).
bool IT87_Probe(SioAcceptRule accept, SioProbeStep* found, uint32_t pairs = kSioConfigPairCount);

// One configuration bracket at `pair`: construction takes the pair's lock
// and writes the enter keys (0x87, 0x01, 0x55, then 0x55 at 0x2E or 0xAA at
// 0x4E); destruction writes configuration register 0x02 with 0x02 and
// releases the lock. The second form selects `device` as well.
class It87Config : public SioConfigBracket {
public:
    explicit It87Config(const SioPortPair& pair);
    It87Config(const SioPortPair& pair, uint8_t device);
};
