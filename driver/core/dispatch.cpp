// Device-control dispatch: table check, length checks, one slot call,
// completion. Never touches hardware itself.
#include "core/dispatch.h"

#include "core/rows.h"
#include "core/wstr.h"

ZRV_GLOBAL const HwmOps* BoundHwmOps;
ZRV_GLOBAL const WdtOps* BoundWdtOps;
ZRV_GLOBAL const DioOps* BoundDioOps;

namespace {

enum class Table : uint8_t { None, Hwm, Wdt, Dio };

// Optional DioOps slots that a request needs present.
enum class DioSlot : uint8_t {
    None,
    CDGetInputs,
    CDPulseOutput,
    CDSetOutput,
    CDGetOutputCount,
    SetSpecificMask
};

typedef ZrvStatus (*Handler)(ZrvRequest* request);

struct RequestRule {
    uint32_t Code;
    Table Needs;
    uint8_t MinInput;
    uint8_t MinOutput;
    DioSlot Slot;
    Handler Serve;
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

ZrvStatus HwmGetData(ZrvRequest* r) {
    // Output-only record: clear it so that bytes no back-end writes (the
    // reserved tail, unused voltage inputs) never carry stale memory.
    MemZero(r->Buffer, sizeof(HwmData));
    BoundHwmOps->GetData(reinterpret_cast<HwmData*>(r->Buffer));
    r->Information = sizeof(HwmData);
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus HwmFanControl(ZrvRequest* r) {
    if (r->Buffer[2] > 0x7F) return ZRV_STATUS_INVALID_PARAMETER;
    if (BoundHwmOps->FanControl(reinterpret_cast<FanCtrl*>(r->Buffer)) != 0) return ZRV_STATUS_UNSUCCESSFUL;
    // The record comes back as far as the caller's output buffer reaches; a
    // caller without one still has the setting applied.
    r->Information = Min(sizeof(FanCtrl), r->OutputLength);
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus Spare(ZrvRequest* r) {
    r->Information = Min(2, r->OutputLength);
    return ZRV_STATUS_SUCCESS;
}

// Answers with one 16-bit word.
ZrvStatus ReturnWord(ZrvRequest* r, uint16_t word) {
    StoreLe16(r->Buffer, word);
    r->Information = 2;
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus DioGetConfig(ZrvRequest* r) { return ReturnWord(r, BoundDioOps->GetConfig()); }

ZrvStatus DioGetInput(ZrvRequest* r) { return ReturnWord(r, BoundDioOps->Get(0)); }

ZrvStatus DioSetOutput(ZrvRequest* r) {
    BoundDioOps->Set(Le16(r->Buffer));
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus DioGetOutput(ZrvRequest* r) { return ReturnWord(r, BoundDioOps->Get(1)); }

ZrvStatus WdtSetTimeout(ZrvRequest* r) {
    return BoundWdtOps->SetTimeout(reinterpret_cast<WdtTimeout*>(r->Buffer));
}

// A Start or Reset that left the countdown still (no start action, a count
// of 0) says so: the caller must not take the board for guarded.
ZrvStatus WdtStart(ZrvRequest*) { return BoundWdtOps->Start(); }

// A watchdog that cannot be stopped keeps counting: the caller must not
// take the request for done.
ZrvStatus WdtStop(ZrvRequest*) {
    if (BoundWdtOps->Stop() != 0) return ZRV_STATUS_NOT_SUPPORTED;
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus WdtReset(ZrvRequest*) { return BoundWdtOps->Reset(); }

ZrvStatus WdtGetTimeout(ZrvRequest* r) {
    MemZero(r->Buffer, sizeof(WdtTimeout));  // output-only record
    BoundWdtOps->GetTimeout(reinterpret_cast<WdtTimeout*>(r->Buffer));
    r->Information = sizeof(WdtTimeout);
    return ZRV_STATUS_SUCCESS;
}

// Answers with one byte.
ZrvStatus ReturnByte(ZrvRequest* r, uint8_t byte) {
    r->Buffer[0] = byte;
    r->Information = 1;
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus CDGetInputs(ZrvRequest* r) { return ReturnByte(r, BoundDioOps->CDGetInputs()); }

ZrvStatus CDPulseOutput(ZrvRequest* r) {
    BoundDioOps->CDPulseOutput(r->Buffer[0]);
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus CDGetOutputCount(ZrvRequest* r) { return ReturnByte(r, BoundDioOps->CDGetOutputCount()); }

// A back-end without a direction register to write refuses the mask.
ZrvStatus DioSetSpecificMask(ZrvRequest* r) {
    if (BoundDioOps->SetSpecificMask(r->Buffer[0]) != 0) return ZRV_STATUS_NOT_SUPPORTED;
    return ZRV_STATUS_SUCCESS;
}

ZrvStatus CDSetOutput(ZrvRequest* r) {
    const uint8_t b = r->Buffer[0];
    BoundDioOps->CDSetOutput(static_cast<uint8_t>(b >> 4), static_cast<uint8_t>(b & 1));
    return ZRV_STATUS_SUCCESS;
}

// The one-byte requests need their byte: without it they are refused like
// every other short buffer.
const RequestRule kRules[] = {
    {IOCTL_HWM_GET_DATA, Table::Hwm, 0, sizeof(HwmData), DioSlot::None, HwmGetData},
    {IOCTL_HWM_FAN_CONTROL, Table::Hwm, sizeof(FanCtrl), 0, DioSlot::None, HwmFanControl},
    {IOCTL_SPARE_1, Table::None, 2, 0, DioSlot::None, Spare},
    {IOCTL_SPARE_2, Table::None, 2, 0, DioSlot::None, Spare},
    {IOCTL_DIO_GET_CONFIG, Table::Dio, 0, 2, DioSlot::None, DioGetConfig},
    {IOCTL_DIO_GET_INPUT, Table::Dio, 0, 2, DioSlot::None, DioGetInput},
    {IOCTL_DIO_SET_OUTPUT, Table::Dio, 2, 0, DioSlot::None, DioSetOutput},
    {IOCTL_DIO_GET_OUTPUT, Table::Dio, 0, 2, DioSlot::None, DioGetOutput},
    {IOCTL_WDT_SET_TIMEOUT, Table::Wdt, sizeof(WdtTimeout), 0, DioSlot::None, WdtSetTimeout},
    {IOCTL_WDT_START, Table::Wdt, 0, 0, DioSlot::None, WdtStart},
    {IOCTL_WDT_STOP, Table::Wdt, 0, 0, DioSlot::None, WdtStop},
    {IOCTL_WDT_RESET, Table::Wdt, 0, 0, DioSlot::None, WdtReset},
    {IOCTL_WDT_GET_TIMEOUT, Table::Wdt, 0, sizeof(WdtTimeout), DioSlot::None, WdtGetTimeout},
    {IOCTL_DIO_CD_GET_INPUTS, Table::Dio, 0, 1, DioSlot::CDGetInputs, CDGetInputs},
    {IOCTL_DIO_CD_PULSE_OUTPUT, Table::Dio, 1, 0, DioSlot::CDPulseOutput, CDPulseOutput},
    {IOCTL_DIO_CD_GET_OUTPUT_COUNT, Table::Dio, 0, 1, DioSlot::CDGetOutputCount, CDGetOutputCount},
    {IOCTL_DIO_SET_SPECIFIC_MASK, Table::Dio, 1, 0, DioSlot::SetSpecificMask, DioSetSpecificMask},
    {IOCTL_DIO_CD_SET_OUTPUT, Table::Dio, 1, 0, DioSlot::CDSetOutput, CDSetOutput},
};

const RequestRule* FindRule(uint32_t code) { return FindRow(kRules, &RequestRule::Code, code); }

bool TableBound(Table t) {
    switch (t) {
        case Table::Hwm: return BoundHwmOps != nullptr;
        case Table::Wdt: return BoundWdtOps != nullptr;
        case Table::Dio: return BoundDioOps != nullptr;
        case Table::None: return true;
    }
    return false;
}

bool SlotPresent(DioSlot slot) {
    const DioOps* ops = BoundDioOps;
    switch (slot) {
        case DioSlot::None: return true;
        case DioSlot::CDGetInputs: return ops->CDGetInputs != nullptr;
        case DioSlot::CDPulseOutput: return ops->CDPulseOutput != nullptr;
        case DioSlot::CDSetOutput: return ops->CDSetOutput != nullptr;
        case DioSlot::CDGetOutputCount: return ops->CDGetOutputCount != nullptr;
        case DioSlot::SetSpecificMask: return ops->SetSpecificMask != nullptr;
    }
    return false;
}

ZrvStatus DeviceControl(ZrvRequest* r) {
    const RequestRule* rule = FindRule(r->Code);
    if (rule == nullptr) return ZRV_STATUS_INVALID_PARAMETER;
    if (!TableBound(rule->Needs)) return ZRV_STATUS_NOT_SUPPORTED;
    if (r->InputLength < rule->MinInput || r->OutputLength < rule->MinOutput)
        return ZRV_STATUS_INVALID_PARAMETER;
    if (!SlotPresent(rule->Slot)) return ZRV_STATUS_NOT_SUPPORTED;
    return rule->Serve(r);
}

}  // namespace

ZrvStatus ZrvDispatch(PlatDevice*, ZrvRequest* request) {
    request->Information = 0;
    ZrvStatus status;
    switch (request->Major) {
        case ZRV_IRP_MJ_CREATE:
        case ZRV_IRP_MJ_CLOSE: status = ZRV_STATUS_SUCCESS; break;
        case ZRV_IRP_MJ_DEVICE_CONTROL: status = DeviceControl(request); break;
        default: status = ZRV_STATUS_NOT_IMPLEMENTED; break;
    }
    if (!ZRV_SUCCESS(status)) request->Information = 0;  // a failed request returns nothing
    request->Status = status;
    PlatCompleteRequest(request);
    return status;
}
