// How a configuration value reads, whoever reads it: the driver's load over
// the kernel registry, or zrvctl over a board's registry. Freestanding: no
// registry call here, only the rules.
#pragma once

#include <stdint.h>

#include "zorvik/registry.h"

// Whether the configuration reader ("SuperIO", "DeviceType", the groups and
// the per-line map) finds a value: its full information (a 20-byte header,
// the name in UTF-16, the data at the next 4-byte boundary) must fit the
// reader's buffer, or the value reads as absent. The port back-ends' own
// values are read without that limit.
constexpr uint32_t ValueInfoOffset(uint32_t nameChars) {
    return (ZRV_REG_VALUE_INFO_HEADER + 2u * nameChars + 3u) & ~3u;
}
constexpr bool ValueInfoFits(uint32_t nameChars, uint32_t dataBytes) {
    return nameChars <= ZRV_REG_VALUE_INFO_BYTES && dataBytes <= ZRV_REG_VALUE_INFO_BYTES &&
           ValueInfoOffset(nameChars) + dataBytes <= ZRV_REG_VALUE_INFO_BYTES;
}

// The number a value stands for: a REG_DWORD of exactly four bytes, read
// little-endian; any other type or length reads as 0 (a longer value is not
// taken for its low bytes).
inline uint32_t DwordOfValue(uint32_t type, const uint8_t* data, uint32_t length) {
    if (type != ZRV_REG_TYPE_DWORD || length != ZRV_REG_DWORD_BYTES || data == nullptr) return 0;
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

// A line count is a value's low byte. The per-line map keeps at most the
// 16 lines of a line word; the port digital I/O's plain layout refuses a
// count above that.
constexpr uint8_t LineCountOf(uint32_t value) { return static_cast<uint8_t>(value & 0xFFu); }
constexpr uint8_t LineMapCount(uint32_t value) {
    return LineCountOf(value) > ZRV_MAX_LINES ? static_cast<uint8_t>(ZRV_MAX_LINES) : LineCountOf(value);
}
constexpr bool LineCountServed(uint8_t count) { return count <= ZRV_MAX_LINES; }
