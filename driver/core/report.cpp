#include "core/report.h"

#include "core/chips.h"
#include "core/config.h"
#include "core/wstr.h"

ZRV_GLOBAL LoadReportRecord LoadReport;

void LoadRefused(uint8_t reason) {
    if (LoadReport.Recorded != 0 || LoadReport.Current >= ZRV_FUNCTIONS) return;
    LoadReport.Reason[LoadReport.Current] = reason;
    LoadReport.Recorded = 1;
}

ZRV_INIT void LoadSelecting(uint8_t function) {
    LoadReport.Current = function;
    LoadReport.Recorded = 0;
}

// A detect routine that refused without recording why left the probe's
// silence as the reason: `otherwise`.
ZRV_INIT void LoadSelected(bool bound, uint8_t otherwise) {
    if (LoadReport.Current >= ZRV_FUNCTIONS) return;
    if (bound)
        LoadReport.Reason[LoadReport.Current] = ZRV_REASON_BOUND;
    else if (LoadReport.Recorded == 0)
        LoadReport.Reason[LoadReport.Current] = otherwise;
    LoadReport.Current = ZRV_FUNCTIONS;
}

namespace {

// The functions as zrvctl names them, by ZRV_FUNCTION_*.
ZRV_INIT_DATA const ZrvWChar kFunctionNames[ZRV_FUNCTIONS][ZRV_EVENT_STRING_UNITS] = {
    u"hardware monitor", u"watchdog", u"digital I/O"};

ZRV_INIT void AppendAscii(ZrvWChar* buffer, const char* text) {
    uint32_t at = WstrLength(buffer);
    for (; *text != 0 && at + 1 < ZRV_EVENT_STRING_UNITS; ++text) buffer[at++] = static_cast<ZrvWChar>(*text);
    buffer[at] = 0;
}

// The back-end the configuration names for a function: the chip and the
// configuration ports its probe tries ("IT87xx at 0x2E", "W83627 at 0x2E or
// 0x4E"), or the port back-ends. Short: one error log entry holds 152
// bytes on 32-bit Windows, the packet and both strings.
ZRV_INIT void DescribeBackend(uint8_t function, ZrvWChar* out) {
    out[0] = 0;
    const uint32_t chips[ZRV_FUNCTIONS] = {BoardConfig.HwmChip, BoardConfig.WdtChip, BoardConfig.DioChip};
    const ChipRow* row = ConfigLoaded != 0 ? ChipRowOf(chips[function]) : nullptr;
    if (row == nullptr) {
        AppendAscii(out, "unknown");
        return;
    }
    AppendAscii(out, row->Name);
    const uint32_t pairs = row->Pairs[function];
    if (row->Code == ZRV_CHIP_PORTS || pairs == 0) return;
    AppendAscii(out, pairs == ZRV_PAIR_4E ? " at 0x4E" : " at 0x2E");
    if (pairs == ZRV_PAIRS_BOTH) AppendAscii(out, " or 0x4E");
}

}  // namespace

ZRV_INIT void PublishLoadReport(PlatDriver* driver) {
    for (uint8_t f = 0; f < ZRV_FUNCTIONS; ++f) {
        const uint8_t reason = LoadReport.Reason[f];
        if (reason == ZRV_REASON_BOUND || reason == ZRV_REASON_NO_BACKEND) continue;
        ZrvWChar backend[ZRV_EVENT_STRING_UNITS];
        DescribeBackend(f, backend);
        const ZrvWChar* strings[ZRV_EVENT_STRINGS] = {kFunctionNames[f], backend};
        PlatLogEvent(driver, ZRV_REASON_EVENT_BASE + reason, strings, ZRV_EVENT_STRINGS);
    }
    PlatPublishLoadReport(LoadReport.Reason, ZRV_FUNCTIONS);
}
