#pragma once

#include "core/ops.h"

// The bound tables; null when the function is absent on this board. Set
// during load, read-only afterwards.
extern const HwmOps* BoundHwmOps;
extern const WdtOps* BoundWdtOps;
extern const DioOps* BoundDioOps;

ZrvStatus ZrvDispatch(PlatDevice* device, ZrvRequest* request);
