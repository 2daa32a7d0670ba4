// Selection of one back-end per function from the chip codes of the board
// configuration.
#include "core/backends.h"
#include "core/config.h"
#include "core/report.h"
#include "core/rows.h"

namespace {

// One row per chip code; a null detect routine means the chip has no
// back-end for that function.
struct BackendRow {
    uint32_t Chip;
    DetectRoutine DetectHwm;
    const HwmOps* Hwm;
    DetectRoutine DetectWdt;
    const WdtOps* Wdt;
    DetectRoutine DetectDio;
    const DioOps* Dio;
};

// clang-format off
// Back-ends fill their rows as they are added (see core/backends.h).
ZRV_INIT_DATA constexpr BackendRow kBackends[] = {
    // chip             hardware monitor   watchdog           digital I/O
    {CHIP_IT87XX,       HWM_IT87_Detect, &IT87HwmOps,
                        WDT_IT87_Detect, &IT87WdtOps,
                        nullptr, nullptr},
    {CHIP_W83627,       HWM_W83627_Detect, &W83627HwmOps,
                        WDT_W83627_Detect, &W83627WdtOps,
                        DIO_W83627_Detect, &W83627DioOps},
    {CHIP_F81216,       nullptr, nullptr,  WDT_F81216_Detect, &F81216WdtOps,  nullptr, nullptr},
    {CHIP_SCH3114,      HWM_SCH3114_Detect, &SCH3114HwmOps,
                        WDT_SCH3114_Detect, &SCH3114WdtOps,
                        DIO_SCH3114_Detect, &SCH3114DioOps},
    {CHIP_F81865,       HWM_F81865_Detect, &F81865HwmOps,
                        WDT_F81865_Detect, &F81865WdtOps,
                        DIO_F81865_Detect, &F81865DioOps},
    {CHIP_PORTS,        nullptr, nullptr,
                        WDT_Port_LoadConfig, &PortWdtOps,
                        DIO_Port_LoadConfig, &PortDioOps},
};
// clang-format on

// Each back-end row has a detect routine and a table exactly where the
// chip row says the function has a back-end, and every chip code has a
// back-end row (codes 1 and 2 share one).
constexpr bool BackendsMatchChipRows() {
    for (const ChipRow& chip : kChipRows) {
        const uint32_t code = chip.Code == CHIP_W83627_ALT ? uint32_t{CHIP_W83627} : chip.Code;
        uint32_t rows = 0;
        for (const BackendRow& b : kBackends) {
            if (b.Chip != code) continue;
            ++rows;
            const bool has[3] = {b.DetectHwm != nullptr && b.Hwm != nullptr,
                                 b.DetectWdt != nullptr && b.Wdt != nullptr,
                                 b.DetectDio != nullptr && b.Dio != nullptr};
            for (uint32_t f = 0; f < 3; ++f)
                if (has[f] != (chip.Pairs[f] != 0)) return false;
        }
        if (rows != 1) return false;
    }
    return true;
}
// GCC's undefined-behaviour sanitizer makes a routine's address compared
// with null no constant; the plain builds check the same rows.
#if !defined(__SANITIZE_ADDRESS__)
static_assert(BackendsMatchChipRows(), "the back-end rows are the chip rows of zorvik/registry.h");
#endif

// Codes 1 and 2 both name the W83627 family, served by the same row.
ZRV_INIT const BackendRow* FindBackend(uint32_t chip) {
    return FindRow(kBackends, &BackendRow::Chip, chip == CHIP_W83627_ALT ? uint32_t{CHIP_W83627} : chip);
}

// Loads the configuration on first use; a failed load is tried again by the
// next selection.
ZRV_INIT bool EnsureConfig() {
    if (ConfigLoaded != 0) return true;
    if (!LoadBoardConfig()) return false;
    ConfigLoaded = 1;
    return true;
}

// One function's selection: the row of its chip code, then that row's detect
// routine and table for the function. What came of it is recorded in
// LoadReport.
template <typename Ops>
ZRV_INIT const Ops* Select(uint8_t function, uint32_t BoardConfigRecord::*chip,
                           DetectRoutine BackendRow::*detect, const Ops* BackendRow::*ops) {
    LoadSelecting(function);
    if (!EnsureConfig()) {
        LoadSelected(false, ZRV_REASON_LOAD_FAILED);
        return nullptr;
    }
    const BackendRow* row = FindBackend(BoardConfig.*chip);
    if (row == nullptr || row->*detect == nullptr || row->*ops == nullptr) {
        LoadSelected(false, ZRV_REASON_NO_BACKEND);
        return nullptr;
    }
    const bool bound = (row->*detect)() == 0;
    LoadSelected(bound, ZRV_REASON_NOT_FOUND);
    return bound ? row->*ops : nullptr;
}

}  // namespace

ZRV_INIT const HwmOps* SelectHwmOps() {
    return Select(ZRV_FUNCTION_HWM, &BoardConfigRecord::HwmChip, &BackendRow::DetectHwm, &BackendRow::Hwm);
}

ZRV_INIT const WdtOps* SelectWdtOps() {
    return Select(ZRV_FUNCTION_WDT, &BoardConfigRecord::WdtChip, &BackendRow::DetectWdt, &BackendRow::Wdt);
}

ZRV_INIT const DioOps* SelectDioOps() {
    return Select(ZRV_FUNCTION_DIO, &BoardConfigRecord::DioChip, &BackendRow::DetectDio, &BackendRow::Dio);
}
