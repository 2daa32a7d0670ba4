// W83627-family hardware monitor and fan control.
//
// The chip is found through its configuration pair, where logical device
// 0x0B holds the monitor's base address; readings and fan settings then go
// through the monitor's own index/data pair at base + 5 / + 6. Registers
// 0x50 to 0x5F show one of several banks, chosen through register 0x4E; a
// whole reading (all its bank selections) is one sequence under the
// monitor's lock, so no fan control or other reading changes the bank in
// between.
#include "chips/w83627.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Configuration registers of logical device 0x0B.
constexpr uint8_t kCfgRegMonitorOn = 0x40;  // bit 0: the monitor decodes at its base
constexpr uint8_t kMonitorOnBit = 0x01;

// Monitor registers.
constexpr uint8_t kHwmRegBank = 0x4E;  // bank shown at 0x50..0x5F
constexpr uint8_t kHwmRegFanIn1 = 0x18;
constexpr uint8_t kHwmFanIn1Bit = 0x01;  // cleared at set-up on ID 0x82

constexpr uint8_t kBank0 = 0;
constexpr uint8_t kAnyBank = 0xFF;  // a register outside 0x50..0x5F

constexpr uint16_t kHwmMonitorIndex = 5;  // index port offset from the base; data port is + 6
constexpr uint16_t kHwmMonitorData = 6;
// The monitor decodes an eight-port block: the chip ignores the low three
// bits of the base registers (a base of 0x0295 decodes at 0x0290), so the
// pair sits at the aligned base + 5 / + 6 and never runs past port 0xFFFF.
constexpr uint16_t kHwmBaseAlign = 0xFFF8;

constexpr uint32_t kHwmFanClock = 1350000u;  // rpm = clock / (divisor * count)
constexpr uint8_t kHwmFanNoReading = 0xFF;   // counter at full scale: too slow or no fan

// What differs between the accepted chip IDs.
enum W83627HwmFeature : uint8_t {
    HAS_VIN1 = 0x01,      // voltage byte 21 from register 0x21
    HAS_VIN5_6 = 0x02,    // voltage bytes 25, 26 from registers 0x25, 0x26
    HAS_VIN9 = 0x04,      // voltage byte 29 from bank 5 register 0x52
    HAS_FAN4_5 = 0x08,    // fans 4 and 5, with their divisors
    FAN3_DIV1 = 0x10,     // fan 3's divisor bits mean something else: divisor 1
    CLEARS_FANIN1 = 0x20  // register 0x18 bit 0 cleared at set-up
};
constexpr uint8_t ALWAYS = 0;

struct W83627HwmChip {
    uint8_t Id;
    int32_t MaxFanIndex;
    uint8_t Features;
};
const W83627HwmChip kChips[] = {
    {0x52, 2, HAS_VIN1 | HAS_VIN5_6},
    {0x82, 2, HAS_VIN1 | CLEARS_FANIN1},
    {0x88, 4, HAS_VIN1 | HAS_VIN5_6 | HAS_VIN9 | HAS_FAN4_5},
    {0xA0, 4, HAS_VIN1 | HAS_VIN5_6 | HAS_FAN4_5},
    {0xB0, 4, HAS_VIN1 | HAS_VIN5_6 | HAS_FAN4_5},
    {0xA2, 1, HAS_VIN1 | HAS_VIN5_6 | FAN3_DIV1},
    {0x60, 1, HAS_VIN5_6 | FAN3_DIV1},
};

ZRV_INIT const W83627HwmChip* FindChip(uint8_t id) { return FindRow(kChips, &W83627HwmChip::Id, id); }

// Fan divisors: 2 to a three-bit exponent, bits 1..0 from one register and
// bit 2 from another. The registers are read once each, in this order (all
// bank 0); the last two only on chips with fans 4 and 5.
ZRV_INIT_DATA const uint8_t kDivisorRegs[] = {0x47, 0x5D, 0x4B, 0x59, 0x4C};
constexpr uint32_t kDivisorRegsFan4_5 = 2;  // trailing entries read only with HAS_FAN4_5
// A divisor is 1 on a chip without the fan's `Needs`, or with its `OneWhen`.
struct DivisorBits {
    uint8_t LowReg;  // index into kDivisorRegs
    uint8_t LowShift;
    uint8_t HighReg;
    uint8_t HighBit;
    uint8_t Needs;
    uint8_t OneWhen;
};
ZRV_INIT_DATA const DivisorBits kDivisors[] = {
    {0, 4, 1, 5, ALWAYS, 0},     {0, 6, 1, 6, ALWAYS, 0},     {2, 6, 1, 7, ALWAYS, FAN3_DIV1},
    {3, 0, 4, 7, HAS_FAN4_5, 0}, {3, 2, 3, 7, HAS_FAN4_5, 0},
};
constexpr uint32_t kFans = sizeof(kDivisors) / sizeof(kDivisors[0]);

// Readings in record order: register, the bank it is read in, and what the
// chip must have for it to be read. An absent reading is 0 (for a fan: a
// count of 0, speed 0).
struct Reading {
    uint8_t Reg;
    uint8_t Bank;
    uint8_t Needs;
};
const Reading kVolts[] = {
    {0x20, 0, ALWAYS},     {0x21, 0, HAS_VIN1},   {0x22, 0, ALWAYS}, {0x23, 0, ALWAYS}, {0x24, 0, ALWAYS},
    {0x25, 0, HAS_VIN5_6}, {0x26, 0, HAS_VIN5_6}, {0x50, 5, ALWAYS}, {0x51, 5, ALWAYS}, {0x52, 5, HAS_VIN9},
};
const Reading kTemps[] = {{0x27, kAnyBank, ALWAYS}, {0x50, 1, ALWAYS}, {0x50, 2, ALWAYS}};
const Reading kFanCounts[] = {
    {0x28, kAnyBank, ALWAYS},     {0x29, kAnyBank, ALWAYS}, {0x2A, kAnyBank, ALWAYS},
    {0x3F, kAnyBank, HAS_FAN4_5}, {0x53, 5, HAS_FAN4_5},
};

// Fan control by fan index: duty register, mode (configuration) register,
// mode bits cleared and set to put the fan under the duty register. A mode
// register of 0x00 marks a fan that cannot be controlled.
struct FanControlRegs {
    uint8_t Output;
    uint8_t Config;
    uint8_t Clear;
    uint8_t Set;
};
const FanControlRegs W83627FanTable[] = {
    {0x01, 0x04, 0x0D, 0x00}, {0x03, 0x04, 0x32, 0x00}, {0x11, 0x12, 0x07, 0x00},
    {0x61, 0x62, 0x70, 0x00}, {0x00, 0x00, 0x00, 0x00},
};

struct W83627HwmStateRecord {
    uint8_t ChipId;     // 0 = none
    uint16_t BaseAddr;  // monitor base as the chip decodes it
    uint8_t FanDivisor[kFans];
    const W83627HwmChip* Chip;
    SioPortPair Monitor;  // base + 5 / + 6 and the monitor's lock
};
ZRV_GLOBAL W83627HwmStateRecord W83627HwmState;

W83627HwmStateRecord& S = W83627HwmState;

// One sequence on the monitor pair with the monitor's lock held. Selects a
// bank only when a register of 0x50..0x5F needs another one than the last
// selected.
class BankedMonitor : public SioIndexData {
public:
    BankedMonitor() : SioIndexData(S.Monitor) {}
    void SelectBank(uint8_t bank) {
        if (bank == kAnyBank || bank == bank_) return;
        WriteReg(kHwmRegBank, bank);
        bank_ = bank;
    }
    uint8_t Read(const Reading& r) {
        if ((S.Chip->Features & r.Needs) != r.Needs) return 0;
        SelectBank(r.Bank);
        return ReadReg(r.Reg);
    }

private:
    uint8_t bank_ = kAnyBank;  // unknown on entry
};

// A count of 0 would be divided by; it and the full-scale count report 0.
uint32_t FanSpeed(uint8_t count, uint8_t divisor) {
    if (count == 0 || count == kHwmFanNoReading) return 0;
    return kHwmFanClock / (static_cast<uint32_t>(divisor) * count);
}

void W83627GetHwmData(HwmData* data) {
    DbgPrint("W83627GetHwmData+\n");
    {
        BankedMonitor monitor;
        monitor.SelectBank(kBank0);
        for (uint32_t i = 0; i < sizeof(kVolts) / sizeof(kVolts[0]); ++i)
            data->Volt[i] = monitor.Read(kVolts[i]);
        data->Temp1 = monitor.Read(kTemps[0]);
        data->Temp2 = monitor.Read(kTemps[1]);
        DbgPrint("W83627GetHwmData TMPIN2=0x%02x\n", static_cast<unsigned>(data->Temp2));
        data->Temp3 = monitor.Read(kTemps[2]);
        DbgPrint("W83627GetHwmData TMPIN1=%d, TMPIN2=0x%02x, TMPIN3=0x%02x\n", static_cast<int>(data->Temp1),
                 static_cast<unsigned>(data->Temp2), static_cast<unsigned>(data->Temp3));
        uint32_t* fans[kFans] = {&data->Fan1, &data->Fan2, &data->Fan3, &data->Fan4, &data->Fan5};
        for (uint32_t i = 0; i < kFans; ++i)
            *fans[i] = FanSpeed(monitor.Read(kFanCounts[i]), S.FanDivisor[i]);
        monitor.SelectBank(kBank0);
    }
    DbgPrint("W83627GetHwmData FAN1 %ld\n", data->Fan1);
    DbgPrint("W83627GetHwmData-\n");
}

// Values the duty register gets for a FanCtrl Data byte in each mode.
uint8_t OnOffDuty(uint8_t data) { return data != 0 ? 0xFF : 0x00; }
uint8_t SoftwareDuty(uint8_t data) { return static_cast<uint8_t>(data << 1); }
struct FanModeRow {
    uint8_t Mode;
    uint8_t (*Duty)(uint8_t data);
};
const FanModeRow kFanModes[] = {{ZRV_FAN_MODE_ONOFF, OnOffDuty}, {ZRV_FAN_MODE_DUTY, SoftwareDuty}};

// No bank is selected: none of the table's registers lies in 0x50..0x5F.
int32_t HWM_W83627_FanControl(FanCtrl* control) {
    if (static_cast<int32_t>(control->Fan) > S.Chip->MaxFanIndex) return -1;
    const FanControlRegs& regs = W83627FanTable[control->Fan];
    if (regs.Config == 0x00) return -1;
    const FanModeRow* mode = FindRow(kFanModes, &FanModeRow::Mode, control->Mode);
    if (mode == nullptr) return -1;

    BankedMonitor monitor;
    const uint8_t config = monitor.ReadReg(regs.Config);
    monitor.WriteReg(regs.Config, static_cast<uint8_t>((config & ~regs.Clear) | regs.Set));
    monitor.WriteReg(regs.Output, mode->Duty(control->Data));
    return 0;
}

// Inside each probe bracket: the chip's monitor, when the ID is accepted
// and logical device 0x0B has a base and decodes. The base, as the chip
// decodes it, is left in BaseAddr.
ZRV_INIT bool W83627GetChipID(const SioConfigBracket& config, const SioProbeStep&) {
    DbgPrint("W83627GetChipID+\n");
    const uint8_t id = config.ReadReg(SIO_REG_ID_HIGH);
    if (FindChip(id) != nullptr) {
        config.SelectDevice(W83627_DEVICE_HWM);
        const uint8_t low = config.ReadReg(SIO_REG_BASE_LOW);
        const uint8_t high = config.ReadReg(SIO_REG_BASE_HIGH);
        S.BaseAddr = static_cast<uint16_t>((high << 8 | low) & kHwmBaseAlign);
        const uint8_t on = config.ReadReg(kCfgRegMonitorOn);
        DbgPrint("W83627GetChipID HWM BASE Addr %04x\n", static_cast<unsigned>(S.BaseAddr));
        if (S.BaseAddr != 0 && (on & kMonitorOnBit) != 0)
            S.ChipId = id;
        else
            LoadRefused(ZRV_REASON_MONITOR_NOT_SET_UP);
    }
    DbgPrint("W83627GetChipID-\n");
    return S.ChipId != 0;
}

// Divisors from the bank-0 registers, inside the caller's sequence.
ZRV_INIT void ReadFanDivisors(BankedMonitor& monitor) {
    const bool fans4_5 = (S.Chip->Features & HAS_FAN4_5) != 0;
    const uint32_t regs = sizeof(kDivisorRegs) - (fans4_5 ? 0 : kDivisorRegsFan4_5);
    uint8_t value[sizeof(kDivisorRegs)] = {};
    for (uint32_t i = 0; i < regs; ++i) value[i] = monitor.ReadReg(kDivisorRegs[i]);
    for (uint32_t fan = 0; fan < kFans; ++fan) {
        const DivisorBits& d = kDivisors[fan];
        uint32_t exponent = (value[d.LowReg] >> d.LowShift & 3u) | (value[d.HighReg] >> d.HighBit & 1u) << 2;
        if ((S.Chip->Features & d.Needs) != d.Needs || (S.Chip->Features & d.OneWhen) != 0) exponent = 0;
        S.FanDivisor[fan] = static_cast<uint8_t>(1u << exponent);
    }
}

}  // namespace

const HwmOps W83627HwmOps = {W83627GetHwmData, HWM_W83627_FanControl, nullptr};

// Probes 0x2E/0x2F, then 0x4E/0x4F; takes the monitor's fan divisors. A base
// below 0x100 is refused (no monitor port is touched): the firmware did not
// set the monitor up, and its pair would land on the board's own devices.
ZRV_INIT int32_t HWM_W83627_Detect() {
    SioProbeStep found;
    if (!W83627_Probe(W83627GetChipID, &found)) return -1;
    if (!SioMonitorPair(
            S.BaseAddr, kHwmMonitorIndex, kHwmMonitorData,
            "HWM_W83627_Detect BaseAddr 0x%04x is not a monitor base, hardware monitor not bound\n",
            &S.Monitor))
        return -1;
    S.Chip = FindChip(S.ChipId);

    BankedMonitor monitor;
    monitor.SelectBank(kBank0);
    ReadFanDivisors(monitor);
    if ((S.Chip->Features & CLEARS_FANIN1) != 0) {
        const uint8_t fanIn = monitor.ReadReg(kHwmRegFanIn1);
        monitor.WriteReg(kHwmRegFanIn1, static_cast<uint8_t>(fanIn & ~kHwmFanIn1Bit));
    }
    return 0;
}
