// Detect routines and operation tables of every back-end, as the selection
// binds them. Each back-end declares its own here.
#pragma once

#include "core/ops.h"
#include "core/report.h"

// SCH3114 (chip code 5): wdt/sch3114_wdt.cpp, hwm/sch3114_hwm.cpp and
// dio/sch3114_dio.cpp; their detect entries share the probe of
// chips/sch3114.cpp.
int32_t WDT_SCH3114_Detect();
int32_t HWM_SCH3114_Detect();
int32_t DIO_SCH3114_Detect();
extern const WdtOps SCH3114WdtOps;
extern const HwmOps SCH3114HwmOps;
extern const DioOps SCH3114DioOps;
// IT87xx (chip code 0): watchdog in wdt/it87_wdt.cpp, hardware monitor in
// hwm/it87_hwm.cpp; no digital I/O.
int32_t WDT_IT87_Detect();
int32_t HWM_IT87_Detect();
extern const WdtOps IT87WdtOps;
extern const HwmOps IT87HwmOps;

// F81865 (chip code 6): wdt/f81865_wdt.cpp, hwm/f81865_hwm.cpp and
// dio/f81865_dio.cpp; their detect entries share the probe of
// chips/f81865.cpp.
int32_t WDT_F81865_Detect();
int32_t HWM_F81865_Detect();
int32_t DIO_F81865_Detect();
extern const WdtOps F81865WdtOps;
extern const HwmOps F81865HwmOps;
extern const DioOps F81865DioOps;

// W83627 family (chip codes 1 and 2): each back-end probes the chip on its
// own; wdt/w83627_wdt.cpp, hwm/w83627_hwm.cpp, dio/w83627_dio.cpp.
int32_t WDT_W83627_Detect();
int32_t HWM_W83627_Detect();
int32_t DIO_W83627_Detect();
extern const WdtOps W83627WdtOps;
extern const HwmOps W83627HwmOps;
extern const DioOps W83627DioOps;

// F81216 (chip code 4): watchdog only, in wdt/f81216_wdt.cpp.
int32_t WDT_F81216_Detect();
extern const WdtOps F81216WdtOps;

// Port back-ends (chip code 16): ports, masks and actions from the registry.
// The loaders are the detect routines: wdt/port_wdt.cpp, dio/port_dio.cpp
// (with the CD port in dio/port_cd.cpp).
int32_t WDT_Port_LoadConfig();
int32_t DIO_Port_LoadConfig();
extern const WdtOps PortWdtOps;
extern const DioOps PortDioOps;
