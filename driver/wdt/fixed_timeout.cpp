// The fixed GetTimeout answer shared by the watchdogs with an 8-bit count in
// seconds or minutes.
#include "core/ops.h"

void WDT_FixedGetTimeout(WdtTimeout* timeout) {
    timeout->Count = 255;
    timeout->Unit = ZRV_WDT_UNIT_SECONDS | ZRV_WDT_UNIT_MINUTES;
}
