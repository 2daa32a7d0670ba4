// Why the driver left a function unbound that the configuration names a
// back-end for. The driver's load records a reason code for each function
// (zorvik/reasons.h), which the library reads out: from the virtual board,
// or from the report zorvik.sys leaves under its service key. The words are
// the library's for the code, with the chip's name and the pairs its probe
// tried from the chip rows of zorvik/registry.h. Where the load's report
// cannot be read (a driver older than the report) the reason stays unknown.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "client/commands.h"
#include "driver/core/chips.h"
#include "driver/core/config_model.h"
#include "zorvik/registry.h"

namespace zrvctl {

namespace {

constexpr const char* kHwm = "hardware monitor";
constexpr const char* kWdt = "watchdog";

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
    return configOutcome(*ctx.config).chips[functionIndex(function)];
}

std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> loadReasons(Context& ctx) {
    std::array<uint8_t, ZRV_FUNCTIONS> reasons{};
    for (unsigned f = 0; f < ZRV_FUNCTIONS; ++f) {
        unsigned reason = 0;
        if (zrv_load_reason(ctx.lib(), f, &reason) != ZRV_OK) return std::nullopt;
        reasons[f] = static_cast<uint8_t>(reason);
    }
    return reasons;
}

std::string unboundReason(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr) return "unknown";
    ConfigSource& source = *ctx.config;
    const std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> reasons = loadReasons(ctx);
    const ConfigOutcome outcome = configOutcome(source);
    if (!reasons) {
        if (outcome.loadFails) return zrv_reason_text(ZRV_REASON_LOAD_FAILED);
        return "unknown: the driver's load report cannot be read here (see zrvctl config)";
    }
    const unsigned index = functionIndex(function);
    const unsigned reason = (*reasons)[index];
    const uint32_t chip = outcome.chips[index];
    const ChipRow* row = ChipRowOf(chip);
    // A probe nothing answered: which chip, and where it was looked for.
    if (reason == ZRV_REASON_NOT_FOUND && row != nullptr && row->Pairs[index] != 0)
        return fmt::format("not found: no {} answered its probe at {}{}", row->Name,
                           pairsText(row->Pairs[index]),
                           row->Pairs[index] == ZRV_PAIRS_BOTH
                               ? ""
                               : fmt::format(", the only pair its {} is probed at",
                                             index == ZRV_FUNCTION_HWM ? "monitor" : function));
    return zrv_reason_text(reason);
}

std::string notSupportedReason(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr || zrv_last_status(ctx.lib()) != ZRV_STATUS_NOT_SUPPORTED) return {};
    const bool cd = function == "CD port";
    const std::string of = cd ? "digital I/O" : function;
    const std::vector<std::string> configured = configuredFunctions(*ctx.config);
    if (std::find(configured.begin(), configured.end(), of) == configured.end())
        return fmt::format("the configuration names no back-end for the {} (see zrvctl config)", of);
    const std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> reasons = loadReasons(ctx);
    if (!reasons || (*reasons)[functionIndex(of)] != ZRV_REASON_BOUND)
        return fmt::format("{}not bound, although the configuration names a back-end for it: {}",
                           cd ? "the digital I/O is " : "", unboundReason(ctx, of));
    // Bound: only the CD port is a part a bound function may lack.
    return cd ? "the board's digital I/O has no CD port (only the port digital I/O with CD values has one)"
              : "";
}

// The port watchdog binds without a start action (the load binds every
// port watchdog whose ports it may touch), and then refuses Start; the
// configuration says why. Registry value names are not case-sensitive.
std::string watchdogCannotStart(Context& ctx) {
    if (configuredChip(ctx, kWdt) != ZRV_CHIP_PORTS) return {};
    uint32_t start = 0;
    if (const auto values = ctx.config->values(ZRV_REG_KEY_WDT))
        for (const RegistryEntry& v : *values)
            if (std::equal(v.name.begin(), v.name.end(), std::begin(ZRV_REG_START),
                           std::end(ZRV_REG_START) - 1,
                           [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
                start = valueDword(v);
    if (PortActionPort(static_cast<uint16_t>(start)) != 0) return {};
    return fmt::format("WDT \"{}\" is absent or names no port (see zrvctl config)", ZRV_REG_START);
}

}  // namespace zrvctl
