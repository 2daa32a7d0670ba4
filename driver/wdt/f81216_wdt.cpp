// F81216 watchdog: logical device 8, reached through configuration brackets
// opened with the pair and entry byte the probe found (chips/f81216.h).
//
// The count register is loaded from WdtCount by Start (and Reset, the same
// routine); SetTimeout stores the count, stops the countdown and writes the
// unit. WdtCount is written and read only inside a bracket, under the pair's
// lock, so the count the chip gets always belongs to the unit it holds.
#include "chips/f81216.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Watchdog registers of logical device 8.
constexpr uint8_t kWdtRegIrq = 0x70;  // interrupt channel: none
constexpr uint8_t kWdtRegMode = 0xF0;
constexpr uint8_t kWdtRegCount = 0xF1;  // 0 stops the countdown

constexpr uint8_t kWdtModeSeconds = 0x02;
constexpr uint8_t kWdtModeMinutes = 0x04;

constexpr uint16_t kWdtMaxCount = 255;

struct F81216WdtStateRecord {
    uint8_t WdtCount;  // count last accepted by SetTimeout; only touched in a bracket
};

ZRV_GLOBAL F81216WdtStateRecord F81216WdtState;

// Set-up, with device 8 selected: no interrupt, stopped (count 0) in
// seconds, device active.
ZRV_INIT_DATA const SioRegWrite kSetupWrites[] = {
    {kWdtRegIrq, 0x00},
    {kWdtRegMode, kWdtModeSeconds},
    {kWdtRegCount, 0x00},
    {SIO_REG_ACTIVATE, 0x01},
};

// Mode register value for each accepted unit code.
struct UnitRow {
    uint16_t Unit;
    uint8_t Mode;
};
const UnitRow kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, kWdtModeSeconds},
    {ZRV_WDT_UNIT_MINUTES, kWdtModeMinutes},
};

const UnitRow* FindUnit(uint16_t unit) { return FindRow(kUnits, &UnitRow::Unit, unit); }

// One bracket with the watchdog's device selected.
class WdtConfig : public F81216Config {
public:
    WdtConfig() : F81216Config(F81216_DEVICE_WDT) {}
};

// Set-up, in the probe's bracket.
ZRV_INIT void WDT_F81216_Setup(const SioConfigBracket& bracket) {
    bracket.SelectDevice(F81216_DEVICE_WDT);
    SioWriteRegs(bracket, kSetupWrites);
}

// A running countdown stops (count 0); the new count is loaded by the next
// Start or Reset.
ZrvStatus WDT_F81216_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > kWdtMaxCount) return ZRV_STATUS_INVALID_PARAMETER;
    WdtConfig config;
    F81216WdtState.WdtCount = static_cast<uint8_t>(timeout->Count);
    config.WriteReg(kWdtRegCount, 0x00);
    config.WriteReg(kWdtRegMode, unit->Mode);
    return ZRV_STATUS_SUCCESS;
}

// Start and Reset: the count is loaded twice, which (re)starts the countdown
// from the full count. A count of 0 leaves the watchdog stopped.
ZrvStatus WDT_F81216_Start() {
    WdtConfig config;
    const uint8_t count = F81216WdtState.WdtCount;
    config.WriteReg(kWdtRegCount, count);
    config.WriteReg(kWdtRegCount, count);
    return WdtCountdownStatus(count);
}

int32_t WDT_F81216_Stop() {
    WdtConfig config;
    config.WriteReg(kWdtRegCount, 0x00);
    return 0;
}

}  // namespace

const WdtOps F81216WdtOps = {
    WDT_F81216_SetTimeout, WDT_F81216_Start, WDT_F81216_Stop, WDT_F81216_Start, WDT_W83627_GetTimeout,
};

// Runs at every selection (once per load): tries 0x2E/0x2F, then 0x4E/0x4F.
ZRV_INIT int32_t WDT_F81216_Detect() { return Detect_F81216(WDT_F81216_Setup) ? 0 : -1; }
