// The F81216 Super I/O, used for its watchdog only: its configuration keys,
// the chip IDs it answers with, the probe and the configuration bracket.
//
// Configuration mode opens on one of four entry bytes written twice to the
// index port; boards differ in which one. The probe tries each byte at each
// configuration pair and keeps the pair and the byte that opened the chip:
// every later bracket opens with that byte.
#pragma once

#include "chips/superio.h"

#define F81216_DEVICE_WDT 0x08

struct F81216StateRecord {
    const SioPortPair* Pair;  // pair the chip answered at (0x2E/0x2F, else 0x4E/0x4F); fixed at detection
    uint32_t EntryIndex;      // which entry byte opened it; fixed at detection
};

extern F81216StateRecord F81216State;

// Tries every entry byte at 0x2E/0x2F, then at 0x4E/0x4F. When one opens the
// chip, the pair and the byte are kept, "WDT: F81216 detected" is logged and
// `setup` runs in the bracket the probe opened, which closes only after it.
// Each failed round is closed with 0xAA.
bool Detect_F81216(void (*setup)(const SioConfigBracket& bracket));

// One bracket on the pair and with the entry byte found at detection, with
// `device` selected. Only valid once the probe has found the chip.
class F81216Config : public SioConfigBracket {
public:
    explicit F81216Config(uint8_t device);
};
