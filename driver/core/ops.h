// The three back-end operation tables. Each back-end provides constant
// instances; the selection binds at most one per function and the dispatch
// calls their slots. Slot order is fixed.
#pragma once

#include "platform/platform.h"

// Detect routine: 0 when the chip is present and prepared, anything else absent.
typedef int32_t (*DetectRoutine)();

// Start and Reset answer whether the countdown now runs: success, or the
// status that says why it does not (WdtCountdownStatus).
struct WdtOps {
    ZrvStatus (*SetTimeout)(WdtTimeout* timeout);
    ZrvStatus (*Start)();
    int32_t (*Stop)();  // 0 stopped; non-zero: this watchdog has no way to stop
    ZrvStatus (*Reset)();
    void (*GetTimeout)(WdtTimeout* timeout);
};

// What a Start or Reset that loaded `count` answers. Every chip takes a
// count of 0 as "do not count" (the F81865 only because its Start leaves
// the run bit clear then): the watchdog guards nothing, which the caller
// must not take for a started watchdog.
inline ZrvStatus WdtCountdownStatus(uint32_t count) {
    return count != 0 ? ZRV_STATUS_SUCCESS : ZRV_STATUS_INVALID_DEVICE_STATE;
}

struct HwmOps {
    void (*GetData)(HwmData* data);
    int32_t (*FanControl)(FanCtrl* control);  // 0 applied, non-zero refused
    void (*Reserved)();                       // never called
};

struct DioOps {
    uint16_t (*GetConfig)();                             // DioConfig: InBits | OutBits << 8
    uint16_t (*Get)(uint16_t selector);                  // 0 inputs, 1 outputs read back
    void (*Set)(uint16_t lines);                         // output line word
    uint8_t (*CDGetInputs)();                            // optional from here on
    void (*CDPulseOutput)(uint8_t output);               // output number from 1
    void (*CDSetOutput)(uint8_t output, uint8_t state);  // output number from 1, 0 or 1
    uint8_t (*CDGetOutputCount)();
    int32_t (*SetSpecificMask)(uint8_t mask);  // 0 applied; non-zero: no direction register
};

// GetTimeout of the chips with an 8-bit count in seconds or minutes (the
// W83627 family, the F81216, the SCH3114): Count 255, Unit 3 (both codes);
// touches no hardware. In wdt/w83627_wdt.cpp.
void WDT_W83627_GetTimeout(WdtTimeout* timeout);
