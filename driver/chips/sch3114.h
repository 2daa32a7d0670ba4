// The SCH3114 Super I/O: the state its three back-ends share (watchdog,
// hardware monitor with fan control, digital I/O), the once-per-load probe
// that finds the chip and its runtime register block, the accesses to that
// block and to the monitor's index/data pair inside it, which the three
// back-ends' detect entries share.
//
// Configuration mode is used only by the probe, to read the block's base
// from logical device 0x0A. Every later access goes straight to the block:
// watchdog and GPIO data registers by their offsets, monitor registers
// through the index/data pair at offsets 0x70/0x71.
#pragma once

#include "chips/superio.h"

// Logical device whose base registers (0x60/0x61) place the runtime block.
#define SCH3114_DEVICE_RUNTIME 0x0A

struct SCH3114StateRecord {
    // Access and detection.
    uint16_t RuntimeBase;  // I/O base of the runtime block; 0 when not usable
    uint8_t Probed;        // the probe has run
    uint8_t NotFound;      // no usable chip; never cleared
    uint8_t Refused;       // ZRV_REASON_* when a chip answered but was refused; 0 when none

    // Hardware monitor: RuntimeBase + 0x70 / + 0x71 and the monitor's lock.
    SioPortPair Monitor;

    // Watchdog: the count last accepted by SetTimeout. Read and written only
    // inside a runtime sequence (SCH3114Runtime), so a Start never loads a
    // count another request is halfway through changing.
    uint8_t WdtCount;
};

extern SCH3114StateRecord SCH3114State;

// One sequence on the runtime register block, with the block's lock held
// from construction to destruction: a read-modify-write of a GPIO data
// register, or a watchdog write together with the state it depends on.
// Valid once the probe has found the chip.
class SCH3114Runtime {
public:
    SCH3114Runtime() : lock_(HW_LOCK_RUNTIME) {}
    uint8_t ReadReg(uint8_t offset) const;
    void WriteReg(uint8_t offset, uint8_t value) const;

private:
    HwLockGuard lock_;
};

// One sequence on the monitor's index/data pair (RuntimeBase + 0x70,
// RuntimeBase + 0x71), with the monitor's lock held throughout. Monitor and
// runtime sequences never nest.
class SCH3114Monitor : public SioIndexData {
public:
    SCH3114Monitor() : SioIndexData(SCH3114State.Monitor) {}
};

// The probe: leaves its outcome in Probed and NotFound.
void Detect_SCH3114();

// What every detect entry asks first: probes the chip on the first call,
// then answers from the stored outcome. True when the chip is there.
bool SCH3114_ChipPresent();
