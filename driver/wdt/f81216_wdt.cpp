// F81216 watchdog: logical device 8, reached through configuration brackets.
//
// The chip is used for its watchdog only. Its configuration mode opens on one
// of four entry bytes, written twice to the index port; boards differ in
// which one. The probe tries each byte at each configuration pair and keeps
// the pair and the byte that opened the chip: every later bracket opens with
// that byte.
//
// The count register is loaded from WdtCount by Start (and Reset, the same
// routine); SetTimeout stores the count, stops the countdown and writes the
// unit. WdtCount is written and read only inside a bracket, under the pair's
// lock, so the count the chip gets always belongs to the unit it holds.
#include "chips/superio.h"
#include "core/backends.h"

namespace {

constexpr uint8_t kDeviceWdt = 0x08;

// Watchdog registers of logical device 8.
constexpr uint8_t kWdtRegIrq = 0x70;  // interrupt channel: none
constexpr uint8_t kWdtRegMode = 0xF0;
constexpr uint8_t kWdtRegCount = 0xF1;  // 0 stops the countdown

constexpr uint8_t kWdtModeSeconds = 0x02;
constexpr uint8_t kWdtModeMinutes = 0x04;

constexpr uint16_t kWdtMaxCount = 255;

// Configuration mode opens with one of four entry bytes written twice to the
// index port, and closes with 0xAA. The probe tries the bytes in this order.
template <uint8_t Byte>
constexpr SioKeyWrite kEnterTwice[] = {{SIO_KEY_TO_INDEX, Byte}, {SIO_KEY_TO_INDEX, Byte}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys F81216EntryKeys[] = {
    {kEnterTwice<0x77>, 2, kExitKeys, 1},
    {kEnterTwice<0xA0>, 2, kExitKeys, 1},
    {kEnterTwice<0x87>, 2, kExitKeys, 1},
    {kEnterTwice<0x67>, 2, kExitKeys, 1},
};
constexpr uint16_t kEntryKeyCount = sizeof(F81216EntryKeys) / sizeof(F81216EntryKeys[0]);

const uint16_t kAcceptedIds[] = {0x0208, 0x0216};

struct F81216StateRecord {
    const SioPortPair* Pair;  // pair the chip answered at (0x2E/0x2F, else 0x4E/0x4F); fixed at detection
    uint16_t EntryIndex;      // position in F81216EntryKeys of the keys that opened it; fixed at detection
    uint8_t WdtCount;         // count last accepted by SetTimeout; only touched in a bracket
};

ZRV_GLOBAL F81216StateRecord F81216State;

struct RegWrite {
    uint8_t Reg;
    uint8_t Value;
};

// Set-up, with device 8 selected: no interrupt, stopped (count 0) in
// seconds, device active.
const RegWrite kSetupWrites[] = {
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

const UnitRow* FindUnit(uint16_t unit) {
    for (const UnitRow& row : kUnits)
        if (row.Unit == unit) return &row;
    return nullptr;
}

bool IsAcceptedId(uint16_t id) {
    for (uint16_t accepted : kAcceptedIds)
        if (accepted == id) return true;
    return false;
}

// One bracket on the pair and with the entry byte found at detection, with
// device 8 selected. Only valid once the probe has found the chip.
class F81216Config : public SioConfigBracket {
public:
    F81216Config() : SioConfigBracket(*F81216State.Pair, F81216EntryKeys[F81216State.EntryIndex]) {
        SelectDevice(kDeviceWdt);
    }
};

// Tries every entry byte at `pair`. When one opens the chip, the pair and the
// byte are kept and the set-up runs in the bracket the probe opened, which
// closes only after it. Each failed round is closed with 0xAA.
bool F81216_FindChip(const SioPortPair& pair) {
    for (uint16_t i = 0; i < kEntryKeyCount; ++i) {
        SioConfigBracket bracket(pair, F81216EntryKeys[i]);
        if (!IsAcceptedId(bracket.ReadChipId())) continue;

        F81216State.Pair = &pair;
        F81216State.EntryIndex = i;
        DbgPrint("WDT: F81216 detected\n");
        bracket.SelectDevice(kDeviceWdt);
        for (const RegWrite& w : kSetupWrites) bracket.WriteReg(w.Reg, w.Value);
        return true;
    }
    return false;
}

// A running countdown stops (count 0); the new count is loaded by the next
// Start or Reset.
ZrvStatus WDT_F81216_SetTimeout(WdtTimeout* timeout) {
    const UnitRow* unit = FindUnit(timeout->Unit);
    if (unit == nullptr || timeout->Count > kWdtMaxCount) return ZRV_STATUS_INVALID_PARAMETER;
    F81216Config config;
    F81216State.WdtCount = static_cast<uint8_t>(timeout->Count);
    config.WriteReg(kWdtRegCount, 0x00);
    config.WriteReg(kWdtRegMode, unit->Mode);
    return ZRV_STATUS_SUCCESS;
}

// Start and Reset: the count is loaded twice, which (re)starts the countdown
// from the full count. A count of 0 leaves the watchdog stopped.
void WDT_F81216_Start() {
    F81216Config config;
    config.WriteReg(kWdtRegCount, F81216State.WdtCount);
    config.WriteReg(kWdtRegCount, F81216State.WdtCount);
}

int32_t WDT_F81216_Stop() {
    F81216Config config;
    config.WriteReg(kWdtRegCount, 0x00);
    return 0;
}

}  // namespace

const WdtOps F81216WdtOps = {
    WDT_F81216_SetTimeout, WDT_F81216_Start, WDT_F81216_Stop, WDT_F81216_Start, WDT_W83627_GetTimeout,
};

// Runs at every selection (once per load): tries 0x2E/0x2F, then 0x4E/0x4F.
int32_t WDT_F81216_Detect() {
    for (uint32_t i = 0; i < kSioConfigPairCount; ++i)
        if (F81216_FindChip(kSioConfigPairs[i])) return 0;
    return -1;
}
