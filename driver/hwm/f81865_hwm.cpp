// F81865 hardware monitor and fan control.
//
// The monitor has its own index/data pair at BaseAddr + 5 / + 6, taken once
// from logical device 4; readings and fan control use that pair without
// configuration mode.
#include "chips/f81865.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Monitor registers.
constexpr uint8_t kHwmRegStart = 0x01;      // bits 0 and 1 start the monitor
constexpr uint8_t kHwmRegVoltFirst = 0x20;  // voltage inputs from here up, one byte each
constexpr uint8_t kHwmRegFanMode = 0x96;    // two mode bits per fan: both set = duty written by software

constexpr uint8_t kHwmStartBits = 0x03;
constexpr uint8_t kHwmFanModeDefault = 0x0F;  // fans 1 and 2 under software duty
constexpr uint8_t kHwmFanField = 0x03;        // mode field of fan index 0, shifted by 2 per fan

constexpr uint16_t kHwmMonitorIndex = 5;  // index port offset from BaseAddr; data port is + 6
constexpr uint16_t kHwmMonitorData = 6;
constexpr uint16_t kHwmBaseAlign = 0xFFF8;  // the monitor decodes an eight-port block

constexpr uint32_t kHwmFanClock = 1500000u;  // rpm = clock / count
constexpr uint32_t kHwmFanNoReading = 0x0FFFu;

constexpr int32_t kHwmDutyFull = 0xFF;
constexpr uint8_t kHwmDutyDataMax = 127;

// Fan count registers (high, low) by fan index.
struct FanCountRegs {
    uint8_t High;
    uint8_t Low;
};
const FanCountRegs F81865FanCountRegs[] = {{0xA0, 0xA1}, {0xB0, 0xB1}, {0xC0, 0xC1}};

// Duty register by fan index.
const uint8_t F81865FanDutyRegs[] = {0xA3, 0xB3, 0xC3};

// Temperature readings in HwmData order. Temperatures 1 and 2 report 0x80
// (no sensor) as 0; temperature 3 is passed on as read.
struct TempRow {
    uint8_t Reg;
    bool ZeroNoSensor;
    bool Temp3Only;
};
const TempRow kTemps[] = {{0x72, true, false}, {0x74, true, false}, {0x7E, false, true}};
constexpr uint8_t kHwmTempNoSensor = 0x80;

uint32_t FanSpeed(uint32_t count) {
    if (count == 0 || count == kHwmFanNoReading) return 0;
    return kHwmFanClock / count;
}

void HWM_F81865_GetData(HwmData* data) {
    DbgPrint("HWM_F81865_GetData+\n");
    const F81865Variant& chip = *F81865State.Variant;
    F81865Monitor monitor;

    for (uint32_t i = 0; i < sizeof(data->Volt); ++i)
        data->Volt[i] = i < chip.VoltInputs ? monitor.ReadReg(static_cast<uint8_t>(kHwmRegVoltFirst + i)) : 0;

    uint8_t* temps[] = {&data->Temp1, &data->Temp2, &data->Temp3};
    for (uint32_t i = 0; i < sizeof(kTemps) / sizeof(kTemps[0]); ++i) {
        const TempRow& t = kTemps[i];
        uint8_t value = 0;
        if (!t.Temp3Only || chip.HasTemp3) value = monitor.ReadReg(t.Reg);
        if (t.ZeroNoSensor && value == kHwmTempNoSensor) value = 0;
        *temps[i] = value;
    }
    DbgPrint("HWM_F81865_GetData TMPIN1=%d, TMPIN2=0x%02x\n", static_cast<int>(data->Temp1),
             static_cast<unsigned>(data->Temp2));

    uint32_t* fans[] = {&data->Fan1, &data->Fan2, &data->Fan3, &data->Fan4, &data->Fan5};
    for (uint32_t i = 0; i < sizeof(fans) / sizeof(fans[0]); ++i) {
        uint32_t speed = 0;
        if (static_cast<int32_t>(i) <= chip.MaxFanIndex) {
            const uint8_t high = monitor.ReadReg(F81865FanCountRegs[i].High);
            const uint8_t low = monitor.ReadReg(F81865FanCountRegs[i].Low);
            const uint32_t count = static_cast<uint32_t>(high) << 8 | low;
            if (i == 0) DbgPrint("HWM_F81865_GetData FAN1 Raw data %ld\n", count);
            speed = FanSpeed(count);
        }
        *fans[i] = speed;
    }
    DbgPrint("HWM_F81865_GetData FAN1 %ld\n", data->Fan1);
    DbgPrint("HWM_F81865_GetData-\n");
}

// Duty for a FanCtrl Data byte in each mode; -1 refuses the data.
int32_t OnOffDuty(uint8_t data) { return data != 0 ? kHwmDutyFull : 0x00; }
int32_t SoftwareDuty(uint8_t data) {
    if (data > kHwmDutyDataMax) return -1;
    return data == kHwmDutyDataMax ? kHwmDutyFull : data * 2;
}

struct FanModeRow {
    uint8_t Mode;
    const char* Line;  // logged with fan and data
    int32_t (*Duty)(uint8_t data);
};
const FanModeRow kFanModes[] = {
    {ZRV_FAN_MODE_ONOFF, "HWM_F81865_FanControl OnOff mode FAN %d, Data %d\n", OnOffDuty},
    {ZRV_FAN_MODE_DUTY, "HWM_F81865_FanControl SW mode FAN %d, Data %d\n", SoftwareDuty},
};

const FanModeRow* FindFanMode(uint8_t mode) { return FindRow(kFanModes, &FanModeRow::Mode, mode); }

// Puts the fan under software duty (both bits of its mode field), then
// writes its duty register. Refused data leaves the mode bits set and the
// duty register untouched.
int32_t HWM_F81865_FanControl(FanCtrl* control) {
    DbgPrint("HWM_F81865_FanControl+\n");
    const uint8_t fan = control->Fan;
    if (static_cast<int32_t>(fan) > F81865State.Variant->MaxFanIndex) return -1;
    const FanModeRow* mode = FindFanMode(control->Mode);
    if (mode == nullptr) {
        DbgPrint("HWM_F81865_FanControl-\n");
        return -1;
    }
    DbgPrint(mode->Line, static_cast<int>(fan), static_cast<int>(control->Data));

    int32_t duty;
    {
        F81865Monitor monitor;
        const uint8_t field = static_cast<uint8_t>(kHwmFanField << (2 * fan));
        const uint8_t modes = monitor.ReadReg(kHwmRegFanMode);
        monitor.WriteReg(kHwmRegFanMode, static_cast<uint8_t>(modes | field));
        duty = mode->Duty(control->Data);
        if (duty >= 0) monitor.WriteReg(F81865FanDutyRegs[fan], static_cast<uint8_t>(duty));
    }
    DbgPrint("HWM_F81865_FanControl-\n");
    return duty >= 0 ? 0 : -1;
}

}  // namespace

const HwmOps F81865HwmOps = {HWM_F81865_GetData, HWM_F81865_FanControl, nullptr};

// Takes the monitor base the firmware left in logical device 4 and starts
// the monitor if it is not running. The monitor is not bound, and no monitor
// port is touched, when device 4 is not active (register 0x30 bit 0 clear:
// nothing decodes at the base, and the counts read there float to 0xFFFF) or
// when the base would put the monitor's pair among the board's own devices
// (a base of 0: device 4 never set up).
namespace {

ZRV_INIT int32_t HWM_F81865_SetDefault() {
    DbgPrint("HWM_F81865_SetDefault+\n");
    int32_t result = 0;
    {
        F81865Config config(F81865_DEVICE_HWM);
        F81865State.BaseAddr = static_cast<uint16_t>(config.ReadBase() & kHwmBaseAlign);
        DbgPrint("HWM_F81865 BaseAddr = 0x%04x\n", static_cast<unsigned>(F81865State.BaseAddr));
        const uint8_t active = config.ReadReg(SIO_REG_ACTIVATE);
        if ((active & SIO_ACTIVATE_BIT) == 0) {
            DbgPrint("HWM_F81865 logical device 4 is not active (0x%02x), hardware monitor not bound\n",
                     static_cast<unsigned>(active));
            LoadRefused(ZRV_REASON_DEVICE_INACTIVE);
            result = -1;
        } else if (!SioMonitorPair(
                       F81865State.BaseAddr, kHwmMonitorIndex, kHwmMonitorData,
                       "HWM_F81865 BaseAddr 0x%04x is not a monitor base, hardware monitor not bound\n",
                       &F81865State.Monitor)) {
            result = -1;
        } else {
            // Still in configuration mode, as the chip allows: the monitor
            // pair does not depend on it.
            F81865Monitor monitor;
            if ((monitor.ReadReg(kHwmRegStart) & kHwmStartBits) != kHwmStartBits) {
                monitor.WriteReg(kHwmRegFanMode, kHwmFanModeDefault);
                monitor.WriteReg(kHwmRegStart, kHwmStartBits);
            }
        }
    }
    DbgPrint("HWM_F81865_SetDefault-\n");
    return result;
}

}  // namespace

ZRV_INIT int32_t HWM_F81865_Detect() {
    if (!F81865_ChipPresent()) return -1;
    return HWM_F81865_SetDefault();
}
