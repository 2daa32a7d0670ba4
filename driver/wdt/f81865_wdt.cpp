// F81865 watchdog: logical device 7, reached through configuration brackets.
//
// The count register is loaded from WdtCount by Start (and Reset, the same
// routine); SetTimeout only stores the count and writes the unit bit.
#include "chips/f81865.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Watchdog registers of logical device 7.
constexpr uint8_t kWdtRegControl = 0xF5;
constexpr uint8_t kWdtRegCount = 0xF6;
constexpr uint8_t kWdtRegOutput = 0xFA;

constexpr uint8_t kWdtControlMinutes = 0x08;  // time unit: clear seconds, set minutes
constexpr uint8_t kWdtControlRun = 0x60;      // bit 5 runs the countdown; bit 6 clears a past timeout

constexpr uint16_t kWdtMaxCount = 255;

// Set-up: stopped, seconds, count 0, reset output enabled, device active.
ZRV_INIT_DATA const SioRegWrite kInitWrites[] = {
    {kWdtRegControl, 0x40},
    {kWdtRegCount, 0x00},
    {kWdtRegOutput, 0x01},
    {SIO_REG_ACTIVATE, 0x01},
};

// Control register value for each accepted unit code.
struct UnitRow {
    uint16_t Unit;
    uint8_t Control;
};
const UnitRow kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, 0x00},
    {ZRV_WDT_UNIT_MINUTES, kWdtControlMinutes},
};

const UnitRow* FindUnit(uint16_t unit) { return FindRow(kUnits, &UnitRow::Unit, unit); }

// SetTimeout overwrites the whole control register, so a running watchdog
// stops until the next Start or Reset. The count is stored inside the
// bracket that writes the unit: Start reads it inside its own bracket, so a
// Start never loads a new count with the unit of the timeout before it.
ZrvStatus WDT_F81865_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > kWdtMaxCount) return ZRV_STATUS_INVALID_PARAMETER;
    const uint8_t count = static_cast<uint8_t>(timeout->Count);
    {
        F81865Config config(F81865_DEVICE_WDT);
        F81865State.WdtCount = count;
        config.WriteReg(kWdtRegControl, unit->Control);
    }
    DbgPrint("WDT_F81865 SetTimeout %d\n", static_cast<int>(count));
    return ZRV_STATUS_SUCCESS;
}

// Start and Reset: reload the count and (keep) running, with the unit bit
// the chip holds. The chip does not take a count of 0 as "stopped" as the
// other chips do: with the run bit set it fires at once and resets the
// board. So a count of 0 leaves the run bit clear, and the countdown still.
ZrvStatus WDT_F81865_Start() {
    uint8_t count = 0;
    {
        F81865Config config(F81865_DEVICE_WDT);
        count = F81865State.WdtCount;
        config.WriteReg(kWdtRegCount, count);
        const uint8_t control = config.ReadReg(kWdtRegControl);
        config.WriteReg(kWdtRegControl, static_cast<uint8_t>(count != 0 ? control | kWdtControlRun
                                                                        : control & ~kWdtControlRun));
    }
    DbgPrint("WDT_F81865 Start\n");
    if (count == 0) DbgPrint("WDT_F81865 Start count 0, not counting\n");
    return WdtCountdownStatus(count);
}

// Only the unit bit survives.
int32_t WDT_F81865_Stop() {
    {
        F81865Config config(F81865_DEVICE_WDT);
        const uint8_t control = config.ReadReg(kWdtRegControl);
        config.WriteReg(kWdtRegControl, static_cast<uint8_t>(control & kWdtControlMinutes));
    }
    DbgPrint("WDT_F81865 Stop\n");
    return 0;
}

void WDT_F81865_GetTimeout(WdtTimeout* timeout) {
    timeout->Count = kWdtMaxCount;
    timeout->Unit = ZRV_WDT_UNIT_SECONDS | ZRV_WDT_UNIT_MINUTES;
    DbgPrint("WDT_F81865 GetTimeout\n");
}

ZRV_INIT void WDT_F81865_Init() {
    F81865Config config(F81865_DEVICE_WDT);
    SioWriteRegs(config, kInitWrites);
}

}  // namespace

const WdtOps F81865WdtOps = {
    WDT_F81865_SetTimeout, WDT_F81865_Start, WDT_F81865_Stop, WDT_F81865_Start, WDT_F81865_GetTimeout,
};

ZRV_INIT int32_t WDT_F81865_Detect() { return SioDetectAndSetUp(F81865_ChipPresent, WDT_F81865_Init); }
