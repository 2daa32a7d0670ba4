// SCH3114 hardware monitor and fan control, through the monitor's
// index/data pair in the runtime block. Three fan tachometers, seven
// voltages, three temperatures, three fan outputs.
#include "chips/sch3114.h"
#include "core/backends.h"
#include "core/rows.h"

namespace {

// Start-up, in this order: monitor stopped, 0x42 into register 0x7C, then
// started again.
ZRV_INIT_DATA const SioRegWrite kInitWrites[] = {{0x40, 0x00}, {0x7C, 0x42}, {0x40, 0x01}};

// Voltage inputs in HwmData order; the record's last three voltage bytes
// have no input.
const uint8_t kVoltRegs[] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x99, 0x9A};
constexpr uint32_t kVoltInputs = sizeof(kVoltRegs) / sizeof(kVoltRegs[0]);

// Temperatures 1 to 3; 0x80 means no sensor and is reported as 0.
const uint8_t kTempRegs[] = {0x25, 0x26, 0x27};
constexpr uint8_t kTempNoSensor = 0x80;

// Tachometer counts (low, high) of fans 1 to 3.
struct TachRegs {
    uint8_t Low;
    uint8_t High;
};
const TachRegs kTachRegs[] = {{0x28, 0x29}, {0x2A, 0x2B}, {0x2C, 0x2D}};
constexpr uint32_t kTachFans = sizeof(kTachRegs) / sizeof(kTachRegs[0]);
constexpr uint32_t kFanClock = 5400000u;  // rpm = clock / count
constexpr uint32_t kFanNoReading = 0xFFFFu;

// Duty and configuration register of each fan output, by FanCtrl Fan.
struct FanRegs {
    uint8_t Duty;
    uint8_t Config;
};
const FanRegs SCH3114FanTable[] = {{0x30, 0x5C}, {0x31, 0x5D}, {0x32, 0x5E}};
constexpr uint32_t kFanOutputs = sizeof(SCH3114FanTable) / sizeof(SCH3114FanTable[0]);

// Bits 7..5 of a configuration register say how the fan is driven; bits
// 4..0 belong to other settings and are written back as read.
constexpr uint8_t kFanConfigKeep = 0x1F;
constexpr uint8_t kFanDriveFull = 0x60;
constexpr uint8_t kFanDriveOff = 0x80;
constexpr uint8_t kFanDriveDuty = 0xE0;

uint32_t FanSpeed(uint8_t low, uint8_t high) {
    const uint32_t count = static_cast<uint32_t>(high) << 8 | low;
    if (count == 0 || count == kFanNoReading) return 0;
    return kFanClock / count;
}

void HWM_SCH3114_GetData(HwmData* data) {
    SCH3114Monitor monitor;
    DbgPrint("HWM_SCH3114_GetData+\n");
    for (uint32_t i = 0; i < sizeof(data->Volt); ++i)
        data->Volt[i] = i < kVoltInputs ? monitor.ReadReg(kVoltRegs[i]) : 0;

    uint8_t* temps[] = {&data->Temp1, &data->Temp2, &data->Temp3};
    for (uint32_t i = 0; i < sizeof(kTempRegs); ++i) {
        const uint8_t value = monitor.ReadReg(kTempRegs[i]);
        *temps[i] = value == kTempNoSensor ? 0 : value;
    }
    DbgPrint("SCH3114GetHwmData TMPIN1=%d, TMPIN2=0x%02x, TMPIN3=0x%02x\n", static_cast<int>(data->Temp1),
             static_cast<unsigned>(data->Temp2), static_cast<unsigned>(data->Temp3));

    uint32_t* fans[] = {&data->Fan1, &data->Fan2, &data->Fan3, &data->Fan4, &data->Fan5};
    for (uint32_t i = 0; i < sizeof(fans) / sizeof(fans[0]); ++i) {
        uint32_t speed = 0;
        if (i < kTachFans) {
            const uint8_t low = monitor.ReadReg(kTachRegs[i].Low);
            speed = FanSpeed(low, monitor.ReadReg(kTachRegs[i].High));
        }
        *fans[i] = speed;
    }
    DbgPrint("HWM_SCH3114_GetData FAN1 %ld\n", data->Fan1);
    DbgPrint("HWM_SCH3114_GetData-\n");
}

// How each FanCtrl mode drives the fan: the drive bits for its Data, the
// largest Data it takes, and whether Data then goes to the duty register
// (as it is, 0..127: the duty register is not scaled).
uint8_t OnOffDrive(uint8_t data) { return data != 0 ? kFanDriveFull : kFanDriveOff; }
uint8_t DutyDrive(uint8_t) { return kFanDriveDuty; }

struct FanModeRow {
    uint8_t Mode;
    uint8_t MaxData;
    uint8_t (*Drive)(uint8_t data);
    bool WritesDuty;
};
const FanModeRow kFanModes[] = {
    {ZRV_FAN_MODE_ONOFF, 0xFF, OnOffDrive, false},
    {ZRV_FAN_MODE_DUTY, 0x7F, DutyDrive, true},
};

const FanModeRow* FindFanMode(uint8_t mode) { return FindRow(kFanModes, &FanModeRow::Mode, mode); }

// One monitor sequence: the configuration register is read first (also for
// a mode that is then refused), its bits 4..0 written back with the new
// drive bits, then the duty.
int32_t HWM_SCH3114_FanControl(FanCtrl* control) {
    if (control->Fan >= kFanOutputs) return -1;
    const FanRegs& fan = SCH3114FanTable[control->Fan];
    const FanModeRow* mode = FindFanMode(control->Mode);
    SCH3114Monitor monitor;
    const uint8_t kept = static_cast<uint8_t>(monitor.ReadReg(fan.Config) & kFanConfigKeep);
    if (mode == nullptr || control->Data > mode->MaxData) return -1;
    monitor.WriteReg(fan.Config, static_cast<uint8_t>(kept | mode->Drive(control->Data)));
    if (mode->WritesDuty) monitor.WriteReg(fan.Duty, control->Data);
    return 0;
}

ZRV_INIT void HWM_SCH3114_Init() {
    SCH3114Monitor monitor;
    SioWriteRegs(monitor, kInitWrites);
}

}  // namespace

const HwmOps SCH3114HwmOps = {HWM_SCH3114_GetData, HWM_SCH3114_FanControl, nullptr};

ZRV_INIT int32_t HWM_SCH3114_Detect() { return SioDetectAndSetUp(SCH3114_ChipPresent, HWM_SCH3114_Init); }
