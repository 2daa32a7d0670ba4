// The W83627 family of Super I/O chips: configuration brackets on either
// configuration pair, and the logical devices its back-ends use.
//
// The watchdog, the hardware monitor and the GPIO digital I/O each probe the
// chip on their own and keep the pair it answered at; every bracket they
// open goes through W83627Config, which holds that pair's lock, so the three
// never interleave on the chip (nor with another chip's back-end probing the
// same pair).
#pragma once

#include "chips/superio.h"

// Logical devices.
#define W83627_DEVICE_GPIO_A 0x07  // GPIO groups 1 and 6
#define W83627_DEVICE_WDT 0x08
#define W83627_DEVICE_GPIO_B 0x09  // GPIO groups 2 to 5
#define W83627_DEVICE_HWM 0x0B

// One configuration bracket on `pair`: construction takes the pair's lock
// and writes 0x87 twice to the index port (and selects `device` when given);
// destruction writes 0xAA to the index port and releases the lock.
class W83627Config : public SioConfigBracket {
public:
    explicit W83627Config(const SioPortPair& pair);
    W83627Config(const SioPortPair& pair, uint8_t device);

    // The one-byte device ID (register 0x20).
    uint8_t ReadId() const { return ReadReg(SIO_REG_ID_HIGH); }
};

// The device IDs (register 0x20) of the family members the driver serves.
bool W83627_IdAccepted(uint8_t id);

// Probes 0x2E/0x2F, then 0x4E/0x4F, asking `accept` inside each bracket
// (see SioProbe).
bool W83627_Probe(SioAcceptRule accept, SioProbeStep* found);
