// Pieces every emulated Super I/O shares: its configuration register files
// (global registers and one file per logical device), and the board-file
// entries it reads alike:
//
//   {"config_port": "0x2e", "id": "0x....",
//    "config": {"global": {"0x22": "0x04"}, "4": {"0x60": "0x02"}},
//    "hwm": {"0x20": "0x8c"}, "fan_rpm": {"1": 2400}, "temperature": {"1": 45}}
//
// A chip type calls superIoPort and superIoId to construct itself, then
// applySuperIoPresets, which needs of Chip: kGlobal, setReg(device, r, v),
// setHwm(r, v), setFanRpm(fan, rpm) and setTemperature(sensor, value).
#pragma once

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/board.h"
#include "sim/registry.h"

namespace sim {

// Configuration registers: the global file (device kGlobal) and a file per
// logical device, created on first write.
class SioRegisterFiles {
public:
    using RegFile = std::array<uint8_t, 256>;
    static constexpr int kGlobal = -1;

    RegFile& file(int device) { return device == kGlobal ? global_ : devices_[device]; }
    const RegFile& file(int device) const {
        static const RegFile kEmpty{};
        if (device == kGlobal) return global_;
        auto it = devices_.find(device);
        return it != devices_.end() ? it->second : kEmpty;
    }

private:
    RegFile global_{};
    std::map<int, RegFile> devices_;
};

// "config_port": 0x2e (the default) or 0x4e.
inline uint16_t superIoPort(const nlohmann::json& entry, const std::string& where) {
    const uint32_t port = entry.contains("config_port")
                              ? boardNumber(entry["config_port"], where + ": config_port", 0xFFFF)
                              : 0x2E;
    if (port != 0x2E && port != 0x4E)
        throw BoardError(fmt::format("{}: config_port is 0x2e or 0x4e, not {:#x}", where, port));
    return static_cast<uint16_t>(port);
}

// "id": the chip's ID, at most `max` (0xFF for chips with a one-byte ID).
inline uint16_t superIoId(const nlohmann::json& entry, const std::string& where, uint16_t fallback,
                          uint32_t max = 0xFFFF) {
    return static_cast<uint16_t>(entry.contains("id") ? boardNumber(entry["id"], where + ": id", max)
                                                      : fallback);
}

// The object at `key`, or null when the entry has none.
inline const nlohmann::json* superIoObject(const nlohmann::json& entry, const char* key,
                                           const std::string& where) {
    if (!entry.contains(key)) return nullptr;
    if (!entry[key].is_object()) throw BoardError(fmt::format("{}: \"{}\" is an object", where, key));
    return &entry[key];
}

// Numbered items "1".."count" of an object, handed to set(n, value).
template <typename Set>
void superIoNumbered(const nlohmann::json* items, const std::string& where, const char* what, uint32_t count,
                     uint32_t maxValue, Set set) {
    if (items == nullptr) return;
    for (auto& [key, value] : items->items()) {
        const uint32_t n = boardNumber(key, fmt::format("{}: {}", where, what), count);
        if (n == 0) throw BoardError(fmt::format("{}: {}: numbered 1 to {}", where, what, count));
        set(static_cast<int>(n), boardNumber(value, fmt::format("{}: {} {}", where, what, key), maxValue));
    }
}

template <typename Chip>
void applySuperIoPresets(Chip& chip, const nlohmann::json& entry, const std::string& where, uint32_t fans) {
    if (auto* config = superIoObject(entry, "config", where)) {
        for (auto& [device, regs] : config->items()) {
            const std::string at = fmt::format("{}: config {}", where, device);
            const int d =
                device == "global" ? Chip::kGlobal : static_cast<int>(boardNumber(device, at, 0xFF));
            if (!regs.is_object()) throw BoardError(fmt::format("{}: registers are an object", at));
            for (auto& [r, v] : regs.items())
                chip.setReg(d, static_cast<uint8_t>(boardNumber(r, at, 0xFF)),
                            static_cast<uint8_t>(boardNumber(v, at + " " + r, 0xFF)));
        }
    }
    if (auto* hwm = superIoObject(entry, "hwm", where))
        for (auto& [r, v] : hwm->items())
            chip.setHwm(static_cast<uint8_t>(boardNumber(r, where + ": hwm", 0xFF)),
                        static_cast<uint8_t>(boardNumber(v, where + ": hwm " + r, 0xFF)));
    superIoNumbered(superIoObject(entry, "fan_rpm", where), where, "fan_rpm", fans, 100000,
                    [&](int fan, uint32_t rpm) { chip.setFanRpm(fan, rpm); });
    superIoNumbered(superIoObject(entry, "temperature", where), where, "temperature", 3, 0xFF,
                    [&](int sensor, uint32_t v) { chip.setTemperature(sensor, static_cast<uint8_t>(v)); });
}

}  // namespace sim
