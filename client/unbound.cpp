// Why the driver left a function unbound that the configuration names a
// back-end for. The driver's load records a reason code for each function
// (zorvik/reasons.h), which the virtual board reads out; the words are the
// library's for the code, with the chip's name and the pairs its probe
// tried from the chip rows of zorvik/registry.h. Where the load's report
// cannot be read (a real machine, for now) the reason stays unknown.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "client/commands.h"
#include "zorvik/registry.h"

namespace zrvctl {

namespace {

constexpr const char* kHwm = "hardware monitor";
constexpr const char* kWdt = "watchdog";

// A value as the driver reads it: absent is empty; a value of another type
// than a four-byte REG_DWORD reads as 0.
std::optional<uint32_t> dword(ConfigSource& source, const char* key, const char* name) {
    const auto values = source.values(key);
    if (!values) return std::nullopt;
    for (const RegistryEntry& v : *values) {
        // Value names are not case-sensitive.
        if (v.name.size() != std::strlen(name) ||
            !std::equal(v.name.begin(), v.name.end(), name, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        if (v.type != ZRV_REG_TYPE_DWORD || v.data.size() != ZRV_REG_DWORD_BYTES) return 0;
        return v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    }
    return std::nullopt;
}

// The chip code each function selects, as the load picks it.
uint32_t chipOf(ConfigSource& source, const std::string& function) {
    if (function == kHwm) return dword(source, ZRV_REG_KEY_HWMON, ZRV_REG_SUPERIO).value_or(0);
    const char* key = function == kWdt ? ZRV_REG_KEY_WDT : ZRV_REG_KEY_DIO;
    const uint32_t type = dword(source, key, ZRV_REG_DEVICE_TYPE).value_or(0);
    const bool superIo = function == kWdt ? type == ZRV_WDT_TYPE_CHIP
                                          : type == ZRV_DIO_TYPE_GROUPS || type == ZRV_DIO_TYPE_LINES;
    return superIo ? dword(source, key, ZRV_REG_SUPERIO).value_or(0) : ZRV_CHIP_PORTS;
}

// The load fails, and binds nothing, when a value it needs is absent and
// the digital I/O is not the port layout.
bool loadFails(ConfigSource& source) {
    if (dword(source, ZRV_REG_KEY_DIO, ZRV_REG_DEVICE_TYPE).value_or(ZRV_DIO_TYPE_PORTS) ==
        ZRV_DIO_TYPE_PORTS)
        return false;
    const std::optional<uint32_t> wdtType = dword(source, ZRV_REG_KEY_WDT, ZRV_REG_DEVICE_TYPE);
    return !dword(source, ZRV_REG_KEY_HWMON, ZRV_REG_SUPERIO) || !wdtType ||
           (*wdtType == ZRV_WDT_TYPE_CHIP && !dword(source, ZRV_REG_KEY_WDT, ZRV_REG_SUPERIO));
}

// The chip's name and the pairs each function's probe tries.
struct ChipProbe {
    uint32_t code;
    const char* name;
    uint32_t pairs[ZRV_FUNCTIONS];
};
#define ZRV_CHIP_PROBE(code, name, hwm, wdt, dio, layouts, groups, extra, id) {code, name, {hwm, wdt, dio}},
const ChipProbe kProbes[] = {ZRV_CHIP_ROWS(ZRV_CHIP_PROBE)};
#undef ZRV_CHIP_PROBE

unsigned functionIndex(const std::string& function) {
    return function == kHwm ? ZRV_FUNCTION_HWM : function == kWdt ? ZRV_FUNCTION_WDT : ZRV_FUNCTION_DIO;
}

std::string pairsText(uint32_t pairs) {
    if (pairs == ZRV_PAIRS_BOTH) return "0x2E/0x2F or 0x4E/0x4F";
    return pairs == ZRV_PAIR_4E ? "0x4E/0x4F" : "0x2E/0x2F";
}

}  // namespace

std::optional<uint32_t> configuredChip(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr || !ctx.config->values(function == kHwm   ? ZRV_REG_KEY_HWMON
                                                     : function == kWdt ? ZRV_REG_KEY_WDT
                                                                        : ZRV_REG_KEY_DIO))
        return std::nullopt;
    return chipOf(*ctx.config, function);
}

std::string unboundReason(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr) return "unknown";
    ConfigSource& source = *ctx.config;
    const std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> reasons =
        ctx.board != nullptr ? ctx.board->loadReasons() : std::nullopt;
    if (!reasons) {
        if (loadFails(source)) return zrv_reason_text(ZRV_REASON_LOAD_FAILED);
        return "unknown: the driver's load report cannot be read here (see zrvctl config)";
    }
    const unsigned index = functionIndex(function);
    const unsigned reason = (*reasons)[index];
    const uint32_t chip = chipOf(source, function);
    const auto row = std::find_if(std::begin(kProbes), std::end(kProbes),
                                  [&](const ChipProbe& p) { return p.code == chip; });
    // A probe nothing answered: which chip, and where it was looked for.
    if (reason == ZRV_REASON_NOT_FOUND && row != std::end(kProbes) && row->pairs[index] != 0)
        return fmt::format("not found: no {} answered its probe at {}{}", row->name,
                           pairsText(row->pairs[index]),
                           row->pairs[index] == ZRV_PAIRS_BOTH
                               ? ""
                               : fmt::format(", the only pair its {} is probed at",
                                             index == ZRV_FUNCTION_HWM ? "monitor" : function));
    return zrv_reason_text(reason);
}

}  // namespace zrvctl
