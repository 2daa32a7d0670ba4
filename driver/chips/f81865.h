// The F81865 Super I/O: the state its three back-ends share (watchdog,
// hardware monitor with fan control, digital I/O), its configuration
// bracket, its hardware-monitor access and the once-per-load probe that the
// three back-ends' detect entries share.
#pragma once

#include "chips/superio.h"

// Logical devices the back-ends use.
#define F81865_DEVICE_HWM 0x04
#define F81865_DEVICE_GPIO 0x06
#define F81865_DEVICE_WDT 0x07

// What differs between the two accepted chip IDs.
struct F81865Variant {
    uint16_t ChipId;
    int32_t MaxFanIndex;   // highest fan index fan control accepts
    uint8_t VoltInputs;    // voltage inputs from register 0x20 up
    bool HasTemp3;         // temperature 3 at register 0x7E
    uint8_t MaxGpioGroup;  // highest GPIO group number
};

struct F81865StateRecord {
    // Access and detection.
    const SioPortPair* Pair;       // configuration pair the chip answered at
    uint16_t ChipId;               // last ID read: register 0x20 high, 0x21 low
    const F81865Variant* Variant;  // row of the accepted ID
    uint8_t Probed;                // the probe has run
    uint8_t NotFound;              // the probe found no accepted ID; never cleared

    // Hardware monitor.
    uint16_t BaseAddr;    // monitor base, low three bits cleared
    SioPortPair Monitor;  // BaseAddr + 5 / + 6 and the monitor's lock

    // Watchdog.
    uint8_t WdtCount;  // count last accepted by SetTimeout

    // Digital I/O, group layout (index..ShiftOutp) and both layouts (counts).
    uint8_t index;     // output-enable register of the input group
    uint8_t outIndex;  // output-enable register of the output group
    uint8_t MaskInp;
    uint8_t MaskOutp;
    uint8_t InBits;
    uint8_t OutBits;
    uint8_t ShiftInp;
    uint8_t ShiftOutp;
};

extern F81865StateRecord F81865State;

// One configuration bracket on the chip's pair with `device` selected.
// Construction takes the pair's lock and writes the enter keys (0x87, 0x87)
// and the device select; destruction writes the exit key (0xAA) and releases
// the lock. Only valid once the probe has found the chip.
class F81865Config : public SioConfigBracket {
public:
    explicit F81865Config(uint8_t device);
};

// One sequence on the hardware monitor's index/data pair (BaseAddr + 5,
// BaseAddr + 6), with the monitor's lock held throughout. Needs no
// configuration mode; valid once the monitor set-up has found BaseAddr.
// Lock order: a monitor sequence may be opened inside a configuration
// bracket (the monitor set-up does), never a bracket inside a monitor
// sequence.
class F81865Monitor : public SioIndexData {
public:
    F81865Monitor() : SioIndexData(F81865State.Monitor) {}
};

// The probe: 0 when an accepted chip ID answered at 0x2E/0x2F or 0x4E/0x4F.
int32_t Detect_F81865();

// What every detect entry asks first: probes the chip on the first call,
// then answers from the stored outcome. True when the chip is there.
bool F81865_ChipPresent();
