// W83627-family watchdog: logical device 8, reached through configuration
// brackets.
#include "core/ops.h"

// The range of the chips with an 8-bit count in seconds or minutes (the
// W83627 family, the F81216 and the SCH3114 share it): Count 255, Unit 3
// (both codes). Touches no hardware.
void WDT_W83627_GetTimeout(WdtTimeout* timeout) {
    timeout->Count = 255;
    timeout->Unit = ZRV_WDT_UNIT_SECONDS | ZRV_WDT_UNIT_MINUTES;
}
