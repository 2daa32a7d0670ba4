// Hardware-monitor commands, after sensors: fan speeds, raw voltage and
// temperature readings, and fan control. Written against the request
// interface only, so they serve every hardware-monitor back-end alike.
//
//   sensors                 fan rpm, raw voltages and temperatures
//   fan N on|off            switch fan N fully on or off
//   fan N duty D            software duty D of 127 (127 is full speed)
//
// Fans are numbered from 1 as `sensors` shows them (fan1 is the driver's
// fan index 0). Voltages and temperatures are the chip's raw bytes; what a
// count means in volts or degrees depends on the chip and the board.
#include <fmt/format.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

void showSensors(Context& ctx) {
    Reply r = ctx.device.ioctl(IOCTL_HWM_GET_DATA, {}, sizeof(HwmData), HandleAccess::ReadWrite);
    if (!requestAnswered(ctx, "sensors", r)) return;
    if (r.bytes < sizeof(HwmData)) {
        fmt::print("sensors: short answer ({} bytes)\n", r.bytes);
        return;
    }
    HwmData d;
    std::memcpy(&d, r.data.data(), sizeof d);
    const uint32_t fans[] = {d.Fan1, d.Fan2, d.Fan3, d.Fan4, d.Fan5};
    const uint8_t temps[] = {d.Temp1, d.Temp2, d.Temp3};

    if (ctx.json) {
        nlohmann::json j = {{"fans_rpm", fans},
                            {"volts_raw", std::vector<uint8_t>(d.Volt, d.Volt + sizeof d.Volt)},
                            {"temps_raw", temps}};
        fmt::print("{}\n", j.dump());
        return;
    }
    for (size_t i = 0; i < std::size(fans); ++i) fmt::print("fan{}:  {:>7} rpm\n", i + 1, fans[i]);
    for (size_t i = 0; i < sizeof d.Volt; ++i)
        fmt::print("in{}:   {:>7} (0x{:02x})\n", i, d.Volt[i], d.Volt[i]);
    for (size_t i = 0; i < std::size(temps); ++i)
        fmt::print("temp{}: {:>7} (0x{:02x})\n", i + 1, temps[i], temps[i]);
}

Action parseSensors(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"sensors: takes no arguments"};
    return showSensors;
}

// The fan control settings the command offers: mode and data of FanCtrl.
struct FanSetting {
    const char* word;
    uint8_t mode;
    int data;  // fixed data, or -1 when the command gives it
};
const FanSetting kFanSettings[] = {
    {"on", ZRV_FAN_MODE_ONOFF, 1},
    {"off", ZRV_FAN_MODE_ONOFF, 0},
    {"duty", ZRV_FAN_MODE_DUTY, -1},
};

void setFan(Context& ctx, uint32_t fan, const FanSetting& s, uint8_t data) {
    FanCtrl c{};
    c.Fan = static_cast<uint8_t>(fan - 1);
    c.Mode = s.mode;
    c.Data = data;
    std::vector<uint8_t> record(sizeof c);
    std::memcpy(record.data(), &c, sizeof c);
    Reply r = ctx.device.ioctl(IOCTL_HWM_FAN_CONTROL, record, sizeof c, HandleAccess::ReadWrite);
    if (!requestAnswered(ctx, "fan", r)) return;
    if (ctx.json) {
        nlohmann::json j = {{"fan", fan}, {"setting", s.word}};
        if (s.data < 0) j["duty"] = data;
        fmt::print("{}\n", j.dump());
    } else if (s.data < 0) {
        fmt::print("fan{}: duty {} of 127\n", fan, data);
    } else {
        fmt::print("fan{}: {}\n", fan, s.word);
    }
}

Action parseFan(const std::vector<std::string>& args) {
    if (args.size() < 2) throw ClientError{"fan: needs a fan number and on, off or duty D"};
    const uint32_t fan = parseNumber(args[0], "fan", 256);
    if (fan == 0) throw ClientError{"fan: fans are numbered from 1"};
    for (const FanSetting& s : kFanSettings) {
        if (args[1] != s.word) continue;
        if ((s.data < 0) != (args.size() == 3) || args.size() > 3)
            throw ClientError{fmt::format("fan: '{}' takes {}", s.word, s.data < 0 ? "one duty" : "nothing")};
        // Duties above 127 go to the driver, which refuses them.
        const uint8_t data = static_cast<uint8_t>(s.data < 0 ? parseNumber(args[2], "duty", 255)
                                                             : static_cast<uint32_t>(s.data));
        return [fan, &s, data](Context& ctx) { setFan(ctx, fan, s, data); };
    }
    throw ClientError{fmt::format("fan: unknown setting '{}' (on, off, duty D)", args[1])};
}

}  // namespace

void addHwmCommands(CommandTable& table) {
    table.push_back(
        {"sensors", "sensors", "hardware monitor: fan rpm, raw voltages and temperatures", parseSensors});
    table.push_back({"fan", "fan N on|off|duty D",
                     "hardware monitor: switch fan N (from 1) on or off, or give it a duty of 127",
                     parseFan});
}

}  // namespace zrvctl
