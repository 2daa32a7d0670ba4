// SCH3114 watchdog: four registers of the runtime block, written whole and
// never read. Each operation is one runtime sequence; the count SetTimeout
// accepts is stored under the same lock that Start loads it under.
#include "chips/sch3114.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Watchdog registers, as offsets in the runtime block.
constexpr uint8_t kWdtRegUnit = 0x65;   // 0x80 seconds, 0x00 minutes
constexpr uint8_t kWdtRegCount = 0x66;  // counts down while non-zero; 0 stops
constexpr uint8_t kWdtRegConfig = 0x67;
constexpr uint8_t kWdtRegControl = 0x68;

constexpr uint8_t kWdtUnitSeconds = 0x80;
constexpr uint8_t kWdtUnitMinutes = 0x00;
constexpr uint16_t kWdtMaxCount = 255;

// Set-up: control and configuration cleared, seconds. The count register is
// left alone, so a watchdog the firmware started keeps running.
ZRV_INIT_DATA const SioRegWrite kInitWrites[] = {
    {kWdtRegControl, 0x00},
    {kWdtRegConfig, 0x00},
    {kWdtRegUnit, kWdtUnitSeconds},
};

// Unit register value for each accepted unit code.
struct UnitRow {
    uint16_t Unit;
    uint8_t Value;
};
const UnitRow kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, kWdtUnitSeconds},
    {ZRV_WDT_UNIT_MINUTES, kWdtUnitMinutes},
};

const UnitRow* FindUnit(uint16_t unit) { return FindRow(kUnits, &UnitRow::Unit, unit); }

// The unit takes effect at once; the count waits for the next Start or
// Reset, and a running countdown goes on with the count it was loaded with.
ZrvStatus WDT_SCH3114_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > kWdtMaxCount) return ZRV_STATUS_INVALID_PARAMETER;
    SCH3114Runtime runtime;
    SCH3114State.WdtCount = static_cast<uint8_t>(timeout->Count);
    runtime.WriteReg(kWdtRegUnit, unit->Value);
    return ZRV_STATUS_SUCCESS;
}

// The count register in one runtime sequence: the stored count starts or
// reloads the countdown, 0 stops it. The stored count is read inside the
// sequence, under the lock SetTimeout stores it under. Answers the count
// written.
uint8_t WriteCount(bool load) {
    SCH3114Runtime runtime;
    const uint8_t count = load ? SCH3114State.WdtCount : 0x00;
    runtime.WriteReg(kWdtRegCount, count);
    return count;
}

// Start and Reset: load the full count. A count of 0 is the same write as
// Stop.
ZrvStatus WDT_SCH3114_Start() { return WdtCountdownStatus(WriteCount(true)); }

int32_t WDT_SCH3114_Stop() {
    WriteCount(false);
    return 0;
}

ZRV_INIT void WDT_SCH3114_Init() {
    SCH3114Runtime runtime;
    SioWriteRegs(runtime, kInitWrites);
}

}  // namespace

const WdtOps SCH3114WdtOps = {
    WDT_SCH3114_SetTimeout, WDT_SCH3114_Start, WDT_SCH3114_Stop, WDT_SCH3114_Start, WDT_W83627_GetTimeout,
};

ZRV_INIT int32_t WDT_SCH3114_Detect() { return SioDetectAndSetUp(SCH3114_ChipPresent, WDT_SCH3114_Init); }
