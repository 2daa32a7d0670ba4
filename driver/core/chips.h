// The chip families as constant rows, from zorvik/registry.h's one table:
// what the driver's back-end selection, the per-chip register tables'
// compile-time checks, zrvctl and the tests all read.
#pragma once

#include <stdint.h>

#include "zorvik/registry.h"

struct ChipRow {
    uint32_t Code;
    const char* Name;
    const char* BoardType;  // the emulator's type in a board file; "" for the port back-ends
    uint32_t Pairs[3];      // per function (hardware monitor, watchdog, digital I/O); 0: no back-end
    unsigned long Layouts;  // DIO "DeviceType" values served, as ZRV_DIO_LAYOUT_BIT bits
    unsigned long Groups;   // GPIO groups served on every chip ID
    unsigned long ExtraGroups;
    uint32_t ExtraId;  // the chip ID the extra groups are served on
    uint32_t Fans;     // the most fans the fan control serves
    uint32_t FanModes;
    const char* FewerFans;  // the members that serve fewer; null when none
    bool FixedDirections;   // the lines' directions are never written
};

#define ZRV_CHIP_ROW_OF(code, name, type, hwm, wdt, dio, layouts, groups, extra, id, fans, modes, fewer, \
                        fixed)                                                                           \
    {code, name, type, {hwm, wdt, dio}, layouts, groups, extra, id, fans, modes, fewer, (fixed) != 0},
inline constexpr ChipRow kChipRows[] = {ZRV_CHIP_ROWS(ZRV_CHIP_ROW_OF)};
#undef ZRV_CHIP_ROW_OF

// The row of a chip code, or null.
constexpr const ChipRow* ChipRowOf(uint32_t code) {
    for (const ChipRow& row : kChipRows)
        if (row.Code == code) return &row;
    return nullptr;
}

// The GPIO groups (bit n: group n) a chip's digital I/O serves on every
// chip ID, and those it serves on one chip ID only. By value, not through
// a row's address: compile-time checks use them, and an address compared
// with null is not a constant where the undefined-behaviour sanitizer
// instruments it.
constexpr unsigned long ChipGroups(uint32_t code) {
    for (const ChipRow& row : kChipRows)
        if (row.Code == code) return row.Groups;
    return 0ul;
}
constexpr unsigned long ChipExtraGroups(uint32_t code) {
    for (const ChipRow& row : kChipRows)
        if (row.Code == code) return row.ExtraGroups;
    return 0ul;
}
constexpr uint32_t ChipExtraId(uint32_t code) {
    for (const ChipRow& row : kChipRows)
        if (row.Code == code) return row.ExtraId;
    return 0u;
}
// Groups 0..n.
constexpr unsigned long GroupsUpTo(uint32_t n) { return (2ul << n) - 1ul; }
