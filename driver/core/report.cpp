#include "core/report.h"

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
