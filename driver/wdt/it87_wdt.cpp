// IT87xx watchdog: logical device 7, reached through configuration brackets
// at the pair the chip answered at (0x2E/0x2F, else 0x4E/0x4F).
//
// SetTimeout stores the count and writes the unit, leaving the watchdog
// stopped; Start and Reset load the stored count and set the run switch.
// Chips of version 8 and up count in 16 bits, older IT8712F chips in 8.
#include "chips/it87.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Watchdog registers of logical device 7.
constexpr uint8_t kWdtRegControl = 0x72;
constexpr uint8_t kWdtRegCountLow = 0x73;
constexpr uint8_t kWdtRegCountHigh = 0x74;  // only on chips with a 16-bit count
// Global register 0x23 and the bit SetTimeout sets in it.
constexpr uint8_t kRegClockSelect = 0x23;
constexpr uint8_t kClockSelectBit = 0x10;

constexpr uint8_t kWdtControlSeconds = 0x80;  // clear: minutes
constexpr uint8_t kWdtControlRun = 0x40;
constexpr uint8_t kWdtControlKeep = 0x1F;  // bits SetTimeout leaves as they are

constexpr uint8_t kWdtWideVersion = 8;  // from this version on the count has 16 bits
constexpr uint16_t kWdtMaxNarrow = 255;
constexpr uint16_t kWdtMaxWide = 65535;

struct IT87WdtStateRecord {
    const SioPortPair* Pair;  // configuration pair the chip answered at
    uint8_t Version;          // register 0x22 on the IT8712F, 8 on the others
    uint16_t SavedCount;      // count last accepted by SetTimeout, under the pair's lock
};
ZRV_GLOBAL IT87WdtStateRecord IT87WdtState;

// Control bits for each accepted unit code.
struct UnitRow {
    uint16_t Unit;
    uint8_t Control;
};
const UnitRow kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, kWdtControlSeconds},
    {ZRV_WDT_UNIT_MINUTES, 0x00},
};

const UnitRow* FindUnit(uint16_t unit) { return FindRow(kUnits, &UnitRow::Unit, unit); }

bool WideCount() { return IT87WdtState.Version >= kWdtWideVersion; }
uint16_t MaxCount() { return WideCount() ? kWdtMaxWide : kWdtMaxNarrow; }

void UpdateReg(const It87Config& config, uint8_t reg, uint8_t keep, uint8_t set) {
    const uint8_t value = config.ReadReg(reg);
    config.WriteReg(reg, static_cast<uint8_t>((value & keep) | set));
}

// Loads the stored count (high byte first on a 16-bit counter) and sets the
// run switch; a count of 0 does not count.
ZrvStatus LoadCountAndRun(const It87Config& config) {
    const uint16_t count = IT87WdtState.SavedCount;
    if (WideCount()) config.WriteReg(kWdtRegCountHigh, static_cast<uint8_t>(count >> 8));
    config.WriteReg(kWdtRegCountLow, static_cast<uint8_t>(count));
    UpdateReg(config, kWdtRegControl, 0xFF, kWdtControlRun);
    return WdtCountdownStatus(count);
}

ZrvStatus WDT_IT87_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > MaxCount()) return ZRV_STATUS_INVALID_PARAMETER;
    It87Config config(*IT87WdtState.Pair, IT87_DEVICE_WDT);
    IT87WdtState.SavedCount = timeout->Count;
    UpdateReg(config, kWdtRegControl, kWdtControlKeep, unit->Control);
    UpdateReg(config, kRegClockSelect, 0xFF, kClockSelectBit);
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus WDT_IT87_Start() {
    It87Config config(*IT87WdtState.Pair, IT87_DEVICE_WDT);
    return LoadCountAndRun(config);
}

// The count registers keep what they hold.
int32_t WDT_IT87_Stop() {
    It87Config config(*IT87WdtState.Pair, IT87_DEVICE_WDT);
    UpdateReg(config, kWdtRegControl, static_cast<uint8_t>(~kWdtControlRun), 0);
    return 0;
}

// Stops the countdown before reloading it, so it restarts from the full count.
ZrvStatus WDT_IT87_Reset() {
    It87Config config(*IT87WdtState.Pair, IT87_DEVICE_WDT);
    UpdateReg(config, kWdtRegControl, static_cast<uint8_t>(~kWdtControlRun), 0);
    return LoadCountAndRun(config);
}

void WDT_IT87_GetTimeout(WdtTimeout* timeout) {
    timeout->Count = MaxCount();
    timeout->Unit = ZRV_WDT_UNIT_SECONDS | ZRV_WDT_UNIT_MINUTES;
}

}  // namespace

const WdtOps IT87WdtOps = {
    WDT_IT87_SetTimeout, WDT_IT87_Start, WDT_IT87_Stop, WDT_IT87_Reset, WDT_IT87_GetTimeout,
};

namespace {

// Inside each probe bracket: ID and version.
ZRV_INIT bool AcceptIt87Wdt(const SioConfigBracket& bracket, const SioProbeStep& step) {
    IT87WdtState.Pair = step.Pair;
    const uint16_t id = bracket.ReadChipId();
    IT87WdtState.Version = bracket.ReadReg(IT87_REG_VERSION);
    const It87Chip* chip = It87FindChip(id);
    if (chip == nullptr) return false;
    if (chip->WdtVersion != 0) IT87WdtState.Version = chip->WdtVersion;
    return true;
}

}  // namespace

// Reads ID and version at the first pair, then at the second. Writes no
// watchdog register: a watchdog the firmware left running keeps running.
ZRV_INIT int32_t WDT_IT87_Detect() {
    SioProbeStep found;
    if (!IT87_Probe(AcceptIt87Wdt, &found)) return -1;
    return 0;
}
