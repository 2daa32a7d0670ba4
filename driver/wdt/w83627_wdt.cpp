// W83627-family watchdog: logical device 8, reached through configuration
// brackets on the pair the chip answered at.
//
// SetTimeout stores the count and writes the unit, leaving the count register
// at 0 (stopped); Start (and Reset, the same routine) loads the stored count,
// which starts the countdown or restarts it from the full count.
#include "chips/w83627.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Watchdog registers of logical device 8. IDs 0x60 and 0x68 have them two
// registers lower than the rest of the family.
struct W83627WdtLayout {
    uint8_t Mode;         // holds the unit bit
    uint8_t Count;        // 0 = stopped
    uint8_t Control;      // control/status, cleared at set-up
    uint8_t ModeMinutes;  // unit bit: clear seconds, set minutes
    uint8_t ModeAlways;   // bits SetTimeout always sets in the mode register
};
const W83627WdtLayout kUsualLayout = {0xF5, 0xF6, 0xF7, 0x08, 0x02};
const W83627WdtLayout kAltLayout = {0xF3, 0xF4, 0xF5, 0x04, 0x00};

// The accepted device IDs that differ from the usual layout. ID 0x88 shares
// its watchdog output pin with a function of global register 0x2D bit 0,
// cleared at set-up to give the pin to the watchdog.
struct W83627WdtChip {
    uint8_t Id;
    const W83627WdtLayout* Layout;
    bool ClearsPinSelect;
};
ZRV_INIT_DATA const W83627WdtChip kUsualChip = {0, &kUsualLayout, false};
ZRV_INIT_DATA const W83627WdtChip kChips[] = {
    {0x88, &kUsualLayout, true},
    {0x60, &kAltLayout, false},
    {0x68, &kAltLayout, false},
};

constexpr uint8_t kRegPinSelect = 0x2D;
constexpr uint8_t kPinSelectWatchdog = 0x01;  // cleared: the pin carries the watchdog output

constexpr uint16_t kWdtMaxCount = 255;

struct W83627WdtStateRecord {
    const SioPortPair* Pair;  // configuration pair the chip answered at
    uint8_t SavedCount;       // count last accepted by SetTimeout
    uint8_t ChipId;           // register 0x20 at the last probe
    const W83627WdtLayout* Layout;
};
ZRV_GLOBAL W83627WdtStateRecord W83627WdtState;

// The row of an accepted ID, or null.
ZRV_INIT const W83627WdtChip* FindChip(uint8_t id) {
    if (!W83627_IdAccepted(id)) return nullptr;
    const W83627WdtChip* chip = FindRow(kChips, &W83627WdtChip::Id, id);
    return chip != nullptr ? chip : &kUsualChip;
}

// One bracket on the detected pair with the watchdog's device selected.
class WdtConfig : public W83627Config {
public:
    WdtConfig() : W83627Config(*W83627WdtState.Pair, W83627_DEVICE_WDT) {}
};

// The unit bit for each accepted unit code.
struct UnitRow {
    uint16_t Unit;
    bool Minutes;
};
const UnitRow kUnits[] = {{ZRV_WDT_UNIT_SECONDS, false}, {ZRV_WDT_UNIT_MINUTES, true}};

const UnitRow* FindUnit(uint16_t unit) { return FindRow(kUnits, &UnitRow::Unit, unit); }

// The count is stored inside the bracket, under the pair's lock, so a Start
// running at the same time loads either the old count or the new one
// together with the unit written here.
ZrvStatus WDT_W83627_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > kWdtMaxCount) return ZRV_STATUS_INVALID_PARAMETER;
    const W83627WdtLayout& regs = *W83627WdtState.Layout;
    WdtConfig config;
    W83627WdtState.SavedCount = static_cast<uint8_t>(timeout->Count);
    uint8_t mode = static_cast<uint8_t>(config.ReadReg(regs.Mode) | regs.ModeAlways);
    mode = static_cast<uint8_t>(unit->Minutes ? mode | regs.ModeMinutes : mode & ~regs.ModeMinutes);
    config.WriteReg(regs.Mode, mode);
    config.WriteReg(regs.Count, 0x00);
    return ZRV_STATUS_SUCCESS;
}

// Start and Reset: loading the count (re)starts the countdown; 0 keeps it
// stopped.
ZrvStatus WDT_W83627_Start() {
    WdtConfig config;
    const uint8_t count = W83627WdtState.SavedCount;
    config.WriteReg(W83627WdtState.Layout->Count, count);
    return WdtCountdownStatus(count);
}

int32_t WDT_W83627_Stop() {
    WdtConfig config;
    config.WriteReg(W83627WdtState.Layout->Count, 0x00);
    return 0;
}

}  // namespace

// The range of the chips with an 8-bit count in seconds or minutes (the
// W83627 family, the F81216 and the SCH3114 share it): Count 255, Unit 3
// (both codes). Touches no hardware.
void WDT_W83627_GetTimeout(WdtTimeout* timeout) {
    timeout->Count = 255;
    timeout->Unit = ZRV_WDT_UNIT_SECONDS | ZRV_WDT_UNIT_MINUTES;
}

const WdtOps W83627WdtOps = {
    WDT_W83627_SetTimeout, WDT_W83627_Start, WDT_W83627_Stop, WDT_W83627_Start, WDT_W83627_GetTimeout,
};

// Activates the watchdog's device and clears its control/status register;
// the count register keeps what it held, so a watchdog the firmware started
// keeps running.
ZRV_INIT void WDT_W83627_Setup(uint8_t id) {
    const W83627WdtChip& chip = *FindChip(id);
    WdtConfig config;
    config.WriteReg(SIO_REG_ACTIVATE, 0x01);
    config.WriteReg(W83627WdtState.Layout->Control, 0x00);
    if (chip.ClearsPinSelect) {
        const uint8_t pins = config.ReadReg(kRegPinSelect);
        config.WriteReg(kRegPinSelect, static_cast<uint8_t>(pins & ~kPinSelectWatchdog));
    }
}

namespace {

ZRV_INIT bool AcceptW83627Wdt(const SioConfigBracket& bracket, const SioProbeStep& step) {
    W83627WdtState.Pair = step.Pair;
    W83627WdtState.ChipId = bracket.ReadReg(SIO_REG_ID_HIGH);
    return FindChip(W83627WdtState.ChipId) != nullptr;
}

}  // namespace

// Reads only the device ID at 0x2E/0x2F, then at 0x4E/0x4F; the set-up runs
// in a bracket of its own.
ZRV_INIT int32_t WDT_W83627_Detect() {
    SioProbeStep found;
    if (!W83627_Probe(AcceptW83627Wdt, &found)) return -1;
    const W83627WdtChip* chip = FindChip(W83627WdtState.ChipId);
    W83627WdtState.Layout = chip->Layout;
    WDT_W83627_Setup(W83627WdtState.ChipId);
    return 0;
}
