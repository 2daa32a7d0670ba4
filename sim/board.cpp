#include "sim/board.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "common/nearest.h"
#include "sim/devices/cd_port.h"
#include "sim/devices/dio_ports.h"
#include "sim/devices/f81216.h"
#include "sim/devices/f81865.h"
#include "sim/devices/it87.h"
#include "sim/devices/port_watchdog.h"
#include "sim/devices/sch3114.h"
#include "sim/devices/w83627.h"
#include "sim/latch.h"

namespace sim {

namespace {

std::unique_ptr<Device> makeLatch(const nlohmann::json& entry, const std::string& where) {
    std::map<uint16_t, uint8_t> ports;
    if (!entry.contains("ports") || !entry["ports"].is_object())
        throw BoardError(fmt::format("{}: a latch needs a \"ports\" object", where));
    for (auto& [port, value] : entry["ports"].items()) {
        const std::string at = fmt::format("{}: port {}", where, port);
        ports[static_cast<uint16_t>(boardNumber(port, at, 0xFFFF))] =
            static_cast<uint8_t>(boardNumber(value, at, 0xFF));
    }
    return std::make_unique<Latch>(std::move(ports));
}

// The hardware types a board file may name, with the keys each one reads:
// a key none reads is refused, not left unread (a misspelt "fan_rpm" would
// leave every fan at 0 rpm). The W83627 has no temperature preset.
const HardwareType kHardwareTypes[] = {
    {"latch", makeLatch, {"ports"}},
    {"port-watchdog", PortWatchdog::fromBoard, {"start", "stop", "refresh", "count_port", "count", "unit"}},
    {"dio-ports",
     DioPorts::fromBoard,
     {"inputs", "outputs", "data", "direction", "direction_reset", "data_levels", "lines"}},
    {"cd-port", CdPort::fromBoard, {"port", "out_port", "inputs", "outputs", "levels", "latch", "lines"}},
    {"f81865", F81865::fromBoard, {"config_port", "id", "config", "hwm", "fan_rpm", "temperature", "pins"}},
    {"sch3114",
     SCH3114::fromBoard,
     {"config_port", "id", "config", "hwm", "fan_rpm", "temperature", "pins", "runtime", "gpio_outputs"}},
    {"it87", It87::fromBoard, {"config_port", "id", "config", "hwm", "fan_rpm", "temperature", "pins"}},
    {"w83627", W83627::fromBoard, {"config_port", "id", "config", "hwm", "hwm_banks", "fan_rpm", "pins"}},
    {"f81216", F81216::fromBoard, {"config_port", "id", "entry_key", "config", "pins"}},
};

// A key the entry's type does not read: refused with the type's keys and the
// nearest of them.
void checkEntryKeys(const nlohmann::json& entry, const HardwareType& type, const std::string& where) {
    for (const auto& [key, value] : entry.items()) {
        if (key == "type" || std::find(type.keys.begin(), type.keys.end(), key) != type.keys.end()) continue;
        const std::string nearest = zorvik::nearestName(key, type.keys);
        throw BoardError(fmt::format("{}: \"{}\" is not a key of a {} entry (\"{}\"){}", where, key,
                                     type.name, fmt::join(type.keys, "\", \""),
                                     nearest.empty() ? "" : fmt::format("; did you mean \"{}\"?", nearest)));
    }
}

constexpr uint16_t kConfigPairs[] = {0x2E, 0x4E};  // index ports; data at index + 1

// The keys of a board file, and those of a board profile (NAME.profile.json,
// zrvctl's): a profile handed over as a board is said to be one.
const char* const kBoardKeys[] = {"name", "registry", "hardware"};
const char* const kProfileKeys[] = {"chip", "adapter", "channels", "lines", "pins", "direction"};

// A key that is not a board file's: refused, naming it, so that a
// misspelt "hardware" is not taken for a board without hardware.
void checkKeys(const nlohmann::json& board, const std::string& path) {
    for (const auto& [key, value] : board.items()) {
        if (std::find(std::begin(kBoardKeys), std::end(kBoardKeys), key) != std::end(kBoardKeys)) continue;
        if (std::find(std::begin(kProfileKeys), std::end(kProfileKeys), key) != std::end(kProfileKeys))
            throw BoardError(fmt::format(
                "{}: \"{}\" is a board profile's key: this is a board profile (NAME.profile.json), not a "
                "board file (\"name\", \"registry\", \"hardware\"; NAME.json)",
                path, key));
        const std::string nearest = zorvik::nearestName(key, kBoardKeys);
        throw BoardError(
            fmt::format("{}: \"{}\" is not a key of a board file (\"name\", \"registry\", "
                        "\"hardware\"){}",
                        path, key, nearest.empty() ? "" : fmt::format("; did you mean \"{}\"?", nearest)));
    }
}

size_t lineOf(const std::string& text, size_t byte) {
    return 1 +
           static_cast<size_t>(std::count(text.begin(), text.begin() + std::min(byte, text.size()), '\n'));
}

}  // namespace

uint32_t boardNumber(const nlohmann::json& value, const std::string& where, uint32_t max) {
    uint64_t n = 0;
    if (value.is_number_unsigned()) {
        n = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        if (value.get<int64_t>() < 0) throw BoardError(fmt::format("{}: negative number", where));
        n = value.get<uint64_t>();
    } else if (value.is_string()) {
        const std::string s = value.get<std::string>();
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const std::string digits = hex ? s.substr(2) : s;
        if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [&](char c) {
                return hex ? std::isxdigit(c) : std::isdigit(c);
            }))
            throw BoardError(fmt::format("{}: '{}' is not a number", where, s));
        n = std::stoull(digits, nullptr, hex ? 16 : 10);
    } else {
        throw BoardError(fmt::format("{}: expected a number, got {}", where,
                                     value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
    }
    if (n > max) throw BoardError(fmt::format("{}: {} is out of range (at most {:#x})", where, n, max));
    return static_cast<uint32_t>(n);
}

BoardInfo loadBoard(Machine& machine, const std::string& path) {
    return loadBoardText(machine, readBoardFile(path, "board file"), path);
}

BoardInfo loadBoardText(Machine& machine, const std::string& text, const std::string& path) {
    nlohmann::json board;
    try {
        board = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw BoardError(fmt::format("{}:{}: malformed JSON: {}", path, lineOf(text, e.byte), e.what()));
    } catch (const nlohmann::json::exception& e) {  // a number beyond any range
        throw BoardError(fmt::format("{}: malformed JSON: {}", path, e.what()));
    }
    if (!board.is_object()) throw BoardError(fmt::format("{}:1: a board file is a JSON object", path));
    checkKeys(board, path);

    BoardInfo info;
    info.file = path;
    info.name = std::filesystem::path(path).stem().string();
    if (board.contains("name")) {
        if (!board["name"].is_string()) throw BoardError(fmt::format("{}: \"name\" is a text", path));
        info.name = board["name"].get<std::string>();
    }
    // The registry and the devices are built aside and handed to the machine
    // only when the whole file was read: a refused file leaves nothing.
    Registry registry = machine.registry();
    std::vector<std::unique_ptr<Device>> devices;
    if (board.contains("registry")) {
        if (!board["registry"].is_string())
            throw BoardError(fmt::format("{}: \"registry\" is a file name", path));
        auto reg = std::filesystem::path(path).parent_path() / board["registry"].get<std::string>();
        info.registryFile = reg.string();
        registry.loadFile(info.registryFile);
    }
    // A board without hardware says so ("hardware": []): a missing list is
    // more likely a file that is not a board's.
    if (!board.contains("hardware"))
        throw BoardError(
            fmt::format("{}: no \"hardware\" list (a board with none has \"hardware\": [])", path));
    if (!board["hardware"].is_array()) throw BoardError(fmt::format("{}: \"hardware\" is a list", path));
    size_t index = 0;
    for (auto& entry : board["hardware"]) {
        const std::string where = fmt::format("{}: hardware[{}]", path, index++);
        if (!entry.is_object() || !entry.contains("type") || !entry["type"].is_string())
            throw BoardError(fmt::format("{}: each hardware entry has a \"type\"", where));
        const std::string type = entry["type"].get<std::string>();
        const HardwareType* found = nullptr;
        for (auto& t : kHardwareTypes)
            if (type == t.name) found = &t;
        if (found == nullptr) throw BoardError(fmt::format("{}: unknown hardware type '{}'", where, type));
        checkEntryKeys(entry, *found, where);
        try {
            devices.push_back(found->make(entry, where));
        } catch (const nlohmann::json::exception& e) {
            throw BoardError(fmt::format("{}: {}", where, e.what()));
        } catch (const std::logic_error& e) {  // a number the standard library refused
            throw BoardError(fmt::format("{}: {}", where, e.what()));
        }
    }
    // One chip per configuration pair: two would both take every key and
    // register access, which no board can be built to do.
    for (uint16_t pair : kConfigPairs) {
        int first = -1;
        for (size_t i = 0; i < devices.size(); ++i) {
            if (!devices[i]->claims(pair) && !devices[i]->claims(static_cast<uint16_t>(pair + 1))) continue;
            if (first >= 0)
                throw BoardError(
                    fmt::format("{}: hardware[{}] and hardware[{}] are both on configuration pair "
                                "0x{:x}/0x{:x}",
                                path, first, i, pair, pair + 1));
            first = static_cast<int>(i);
        }
    }
    machine.registry() = std::move(registry);
    for (auto& device : devices) machine.bus().attach(std::move(device));
    return info;
}

}  // namespace sim
