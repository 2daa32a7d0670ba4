// IT87xx hardware monitor and fan control.
//
// The chip is probed at 0x2E/0x2F only. Logical device 4 gives the monitor's
// base; readings and fan settings then go through the monitor's own
// index/data pair at base + 5 / + 6, under the monitor's lock. Besides
// on/off and software duty the chip drives a fan by itself from two
// temperature limits (automatic mode).
#include "chips/it87.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Monitor registers.
constexpr uint8_t kHwmRegFanDivisor = 0x0B;  // IT8712F: divisors of fans 1 to 3
constexpr uint8_t kHwmRegFanCounters = 0x0C;
constexpr uint8_t kHwmRegFanMain = 0x13;   // bits 2..0: fan 0..2 under PWM (set) or on/off (clear)
constexpr uint8_t kHwmRegFanOnOff = 0x14;  // bits 2..0: fan 0..2 on
constexpr uint8_t kHwmRegVoltFirst = 0x20;
constexpr uint8_t kHwmVoltInputs = 9;  // 0x20..0x28; the tenth voltage byte stays 0
constexpr uint8_t kHwmRegTempFirst = 0x29;

constexpr uint8_t kHwmFanCountersValue = 0x37;
constexpr uint8_t kHwmFanMainAlways = 0x70;  // set whenever the register is written
constexpr uint8_t kHwmPwmAuto = 0x80;        // PWM register: the chip drives the fan
constexpr uint8_t kHwmPwmDuty = 0x7F;
constexpr uint8_t kHwmAutoStep = 0x3C;  // Auto 3

constexpr uint16_t kHwmMonitorIndex = 5;  // index port offset from the base; data port is + 6
constexpr uint16_t kHwmMonitorData = 6;
// The monitor decodes an eight-port block: the chip ignores the low three
// bits of the base registers, so the pair sits at the aligned base + 5 / + 6
// (and never runs past port 0xFFFF).
constexpr uint16_t kHwmBaseAlign = 0xFFF8;

constexpr uint32_t kHwmFanClock = 1350000u;  // rpm = clock / (count * divisor)
constexpr uint16_t kHwmFanNoReading = 0xFFFF;
constexpr uint16_t kHwmFanNoReadingD = 0x00FF;  // also on 'D' chips (8-bit counters)
constexpr uint8_t kHwmDefaultDivisor = 2;

constexpr uint8_t kLetterD = 'D';
constexpr uint8_t kLetterK = 'K';
constexpr uint8_t kLetterFiveFans = 'I';  // from this letter up the chip has fans 4 and 5

constexpr uint32_t kFans = 5;
constexpr uint8_t kFansSmall = 3;   // fans below letter 'I'
constexpr uint8_t kFansInMain = 3;  // fans 0..2 have bits in registers 0x13 and 0x14

struct IT87HwmStateRecord {
    uint8_t VersionLetter;      // 'D', 'G', 'H', 'I', 'K' or 'Z'
    uint8_t FanDivisor[kFans];  // fans 1 to 5
    SioPortPair Monitor;        // base + 5 / + 6 and the monitor's lock
    bool DivisorsFromChip;      // fans 1 to 3 take their divisors from register 0x0B
    uint16_t Base;              // logical device 4's base, low three bits cleared
    uint8_t Active;             // logical device 4's register 0x30
};
ZRV_GLOBAL IT87HwmStateRecord IT87HwmState;

// One sequence on the monitor pair with its lock held throughout.
class It87Monitor : public SioIndexData {
public:
    It87Monitor() : SioIndexData(IT87HwmState.Monitor) {}
};

// Version letter by the low nibble of the version number.
ZRV_INIT_DATA const uint8_t kVersionLetters[16] = {'Z', 'Z', 'Z', 'Z', 'D', 'G', 'H', 'I',
                                                   'K', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};

// Fan count registers (high byte read first).
struct FanCountRegs {
    uint8_t High;
    uint8_t Low;
};
const FanCountRegs IT87FanCountRegs[kFans] = {
    {0x18, 0x0D}, {0x19, 0x0E}, {0x1A, 0x0F}, {0x81, 0x80}, {0x83, 0x82}};

// Per fan index: the PWM register (bit 7 automatic, else software duty in
// bits 6..0) and the five automatic-control registers.
struct FanRegs {
    uint8_t Pwm;
    uint8_t Auto[5];
};
const FanRegs IT87FanTable[kFans] = {
    {0x15, {0x60, 0x61, 0x62, 0x63, 0x64}}, {0x16, {0x68, 0x69, 0x6A, 0x6B, 0x6C}},
    {0x17, {0x70, 0x71, 0x72, 0x73, 0x74}}, {0x88, {0x90, 0x91, 0x92, 0x93, 0x94}},
    {0x89, {0x98, 0x99, 0x9A, 0x9B, 0x9C}},
};

// Automatic mode on 'K' chips, by slope code (low 3 bits of Slope): bit 7
// of Auto 4 (start duty) and the value of Auto 5. Slope 0 writes Auto 5
// before Auto 4.
struct SlopeRow {
    uint8_t StartDutyHigh;
    uint8_t Auto5;
    bool Auto5First;
};
const SlopeRow kSlopesK[8] = {
    {0x00, 0x00, true},  {0x00, 0x08, false}, {0x00, 0x10, false}, {0x00, 0x20, false},
    {0x80, 0x00, false}, {0x80, 0x3F, false}, {0x80, 0x3F, false}, {0x80, 0x3F, false},
};

bool FiveFans() { return IT87HwmState.VersionLetter >= kLetterFiveFans; }

uint32_t FanSpeed(uint32_t fan, uint16_t count) {
    if (count == 0 || count == kHwmFanNoReading) return 0;
    if (count == kHwmFanNoReadingD && IT87HwmState.VersionLetter == kLetterD) return 0;
    return kHwmFanClock / (static_cast<uint32_t>(count) * IT87HwmState.FanDivisor[fan]);
}

// One whole sequence on the monitor pair, so that a reading is never split
// by fan control.
void HWM_IT87_GetData(HwmData* data) {
    It87Monitor monitor;
    for (uint8_t i = 0; i < kHwmVoltInputs; ++i)
        data->Volt[i] = monitor.ReadReg(static_cast<uint8_t>(kHwmRegVoltFirst + i));
    data->Volt[kHwmVoltInputs] = 0;
    uint8_t* temps[] = {&data->Temp1, &data->Temp2, &data->Temp3};
    for (uint8_t i = 0; i < 3; ++i) *temps[i] = monitor.ReadReg(static_cast<uint8_t>(kHwmRegTempFirst + i));

    uint32_t* fans[kFans] = {&data->Fan1, &data->Fan2, &data->Fan3, &data->Fan4, &data->Fan5};
    const uint32_t present = FiveFans() ? kFans : kFansSmall;
    for (uint32_t i = 0; i < kFans; ++i) {
        uint32_t speed = 0;
        if (i < present) {
            const uint8_t high = monitor.ReadReg(IT87FanCountRegs[i].High);
            const uint8_t low = monitor.ReadReg(IT87FanCountRegs[i].Low);
            speed = FanSpeed(i, static_cast<uint16_t>(high << 8 | low));
        }
        *fans[i] = speed;
    }
}

// What a mode does once register 0x13 has been read (r13). `main` is the
// fan's bit in registers 0x13 and 0x14, 0 for fans 3 and 4.
struct FanRequest {
    const It87Monitor& Monitor;
    const FanCtrl& Control;
    const FanRegs& Regs;
    uint8_t Main;
    uint8_t R13;
};

void WriteMain(const FanRequest& f, uint8_t value) {
    f.Monitor.WriteReg(kHwmRegFanMain, static_cast<uint8_t>(value | kHwmFanMainAlways));
}

void FanOnOff(const FanRequest& f) {
    const bool on = f.Control.Data != 0;
    if (f.Main == 0) {
        f.Monitor.WriteReg(f.Regs.Pwm, on ? kHwmPwmDuty : 0x00);
        return;
    }
    WriteMain(f, static_cast<uint8_t>(f.R13 & ~f.Main));
    const uint8_t states = f.Monitor.ReadReg(kHwmRegFanOnOff);
    f.Monitor.WriteReg(kHwmRegFanOnOff, static_cast<uint8_t>(on ? states | f.Main : states & ~f.Main));
}

void FanDuty(const FanRequest& f) {
    if (f.Main != 0) WriteMain(f, static_cast<uint8_t>(f.R13 | f.Main));
    f.Monitor.WriteReg(f.Regs.Pwm, static_cast<uint8_t>(f.Control.Data & kHwmPwmDuty));
}

void FanAuto(const FanRequest& f) {
    const FanCtrl& c = f.Control;
    const uint8_t fan = c.Fan;
    if (f.Main != 0) {
        WriteMain(f, static_cast<uint8_t>(f.R13 | f.Main));
        f.Monitor.WriteReg(f.Regs.Pwm, static_cast<uint8_t>(kHwmPwmAuto | fan));
    } else {
        f.Monitor.WriteReg(f.Regs.Pwm, kHwmPwmAuto);
    }
    f.Monitor.WriteReg(f.Regs.Auto[0], c.Limit1);
    f.Monitor.WriteReg(f.Regs.Auto[1], c.Limit2);
    f.Monitor.WriteReg(f.Regs.Auto[2], kHwmAutoStep);

    const uint8_t slope = static_cast<uint8_t>(c.Slope & 0x07);
    uint8_t startDuty = static_cast<uint8_t>(c.StartDuty & kHwmPwmDuty);
    uint8_t auto5 = slope;
    bool auto5First = false;
    if (IT87HwmState.VersionLetter == kLetterK) {
        const SlopeRow& s = kSlopesK[slope];
        startDuty = static_cast<uint8_t>(startDuty | s.StartDutyHigh);
        auto5 = s.Auto5;
        auto5First = s.Auto5First;
    }
    if (auto5First) f.Monitor.WriteReg(f.Regs.Auto[4], auto5);
    f.Monitor.WriteReg(f.Regs.Auto[3], startDuty);
    if (!auto5First) f.Monitor.WriteReg(f.Regs.Auto[4], auto5);
}

struct FanModeRow {
    uint8_t Mode;
    void (*Apply)(const FanRequest& f);
};
const FanModeRow kFanModes[] = {
    {ZRV_FAN_MODE_ONOFF, FanOnOff},
    {ZRV_FAN_MODE_DUTY, FanDuty},
    {ZRV_FAN_MODE_AUTO, FanAuto},
};

const FanModeRow* FindFanMode(uint8_t mode) { return FindRow(kFanModes, &FanModeRow::Mode, mode); }

// Register 0x13 is read whatever the mode; an unknown mode is refused after
// that read with nothing written. The monitor's lock is held from the read
// of 0x13 to the last write, so two requests never mix their
// read-modify-writes of 0x13 and 0x14.
int32_t HWM_IT87_FanControl(FanCtrl* control) {
    const uint8_t fan = control->Fan;
    if (fan >= (FiveFans() ? kFans : kFansSmall)) return -1;
    It87Monitor monitor;
    const uint8_t main = fan < kFansInMain ? static_cast<uint8_t>(1u << fan) : 0;
    const FanRequest request = {monitor, *control, IT87FanTable[fan], main, monitor.ReadReg(kHwmRegFanMain)};
    const FanModeRow* mode = FindFanMode(control->Mode);
    if (mode == nullptr) return -1;
    mode->Apply(request);
    return 0;
}

// Fan divisors of fans 1 to 3 from register 0x0B of an IT8712F: 2 to the
// power of bits 2..0 and of bits 5..3; bit 6 gives fan 3 eight, else two.
ZRV_INIT void ReadDivisors(const It87Monitor& monitor) {
    const uint8_t r = monitor.ReadReg(kHwmRegFanDivisor);
    IT87HwmState.FanDivisor[0] = static_cast<uint8_t>(1u << (r & 0x07));
    IT87HwmState.FanDivisor[1] = static_cast<uint8_t>(1u << ((r >> 3) & 0x07));
    IT87HwmState.FanDivisor[2] = (r & 0x40) != 0 ? 8 : 2;
}

// Inside the probe's bracket at 0x2E/0x2F: the chip, its version letter,
// and logical device 4's base (as the monitor decodes it) and activation.
ZRV_INIT bool AcceptIt87Hwm(const SioConfigBracket& bracket, const SioProbeStep&) {
    const It87Chip* chip = It87FindChip(bracket.ReadChipId());
    if (chip == nullptr) return false;
    IT87HwmState.DivisorsFromChip = chip->DivisorsFromChip;
    const uint8_t version = chip->HwmVersion != 0 ? chip->HwmVersion : bracket.ReadReg(IT87_REG_VERSION);
    IT87HwmState.VersionLetter = kVersionLetters[version & 0x0F];
    bracket.SelectDevice(IT87_DEVICE_HWM);
    const uint8_t low = bracket.ReadReg(SIO_REG_BASE_LOW);
    IT87HwmState.Base =
        static_cast<uint16_t>((bracket.ReadReg(SIO_REG_BASE_HIGH) << 8 | low) & kHwmBaseAlign);
    IT87HwmState.Active = bracket.ReadReg(SIO_REG_ACTIVATE);
    return true;
}

}  // namespace

const HwmOps IT87HwmOps = {HWM_IT87_GetData, HWM_IT87_FanControl, nullptr};

// Finds the chip at 0x2E/0x2F, takes its version letter and the monitor's
// base from logical device 4, then sets up the monitor. A device 4 whose
// activation bit (register 0x30 bit 0) is clear decodes nothing at its base;
// it, and a base that would put the monitor's pair among the board's own
// devices (below 0x100, which includes a base never set up), leave the
// monitor unbound and no monitor port touched.
ZRV_INIT int32_t HWM_IT87_Detect() {
    SioProbeStep found;
    if (!IT87_Probe(AcceptIt87Hwm, &found, 1)) return -1;
    const uint16_t base = IT87HwmState.Base;
    const uint8_t active = IT87HwmState.Active;
    if ((active & SIO_ACTIVATE_BIT) == 0) {
        DbgPrint("HWM_IT87 logical device 4 is not active (0x%02x), hardware monitor not bound\n",
                 static_cast<unsigned>(active));
        LoadRefused(ZRV_REASON_DEVICE_INACTIVE);
        return -1;
    }
    if (!SioMonitorPair(base, kHwmMonitorIndex, kHwmMonitorData,
                        "HWM_IT87 BaseAddr 0x%04x is not a monitor base, hardware monitor not bound\n",
                        &IT87HwmState.Monitor))
        return -1;
    for (uint8_t& divisor : IT87HwmState.FanDivisor) divisor = kHwmDefaultDivisor;

    It87Monitor monitor;
    if (IT87HwmState.DivisorsFromChip) ReadDivisors(monitor);
    monitor.WriteReg(kHwmRegFanCounters, kHwmFanCountersValue);
    return 0;
}
