// Hardware-monitor commands, after sensors: fan speeds, voltages and
// temperatures with the board profile's labels, scaling and limits, and fan
// control. Written against the request interface only, so they serve every
// hardware-monitor back-end alike.
//
//   sensors [--watch S]           one line per channel; ALARM past a limit
//   fan N on|off                  switch fan N fully on or off
//   fan N duty D                  software duty D of 127 (127 is full speed)
//   fan N auto L1 L2 [SD [SL]]    the chip's automatic mode
//
// Fans are numbered from 1 as `sensors` shows them (fan1 is the driver's
// fan index 0). Without a profile the voltages and temperatures are the
// chip's raw bytes, and the output says so.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "driver/core/chips.h"

namespace zrvctl {

namespace {

struct Unit {
    const char* text;  // after the value
    int decimals;
    bool sign;  // +1.20 V as sensors prints it
};
// By the library's sensor kind.
const Unit kUnits[] = {{" RPM", 0, false}, {" V", 2, true}, {"°C", 1, true}};

std::string formatValue(const zrv_sensor& s) {
    if (s.kind == ZRV_SENSOR_RAW) return fmt::format("{:>8.0f} (raw)", s.value);
    const Unit& u = kUnits[s.kind];
    const std::string number =
        u.sign ? fmt::format("{:+.{}f}", s.value, u.decimals) : fmt::format("{:.{}f}", s.value, u.decimals);
    return fmt::format("{:>8}{}", number, u.text);
}

// A limit as precise as the profile gives it, at least as the readings.
std::string formatLimit(const zrv_sensor& s, double v) {
    const Unit& u = kUnits[s.kind == ZRV_SENSOR_RAW ? ZRV_SENSOR_VOLTAGE : s.kind];
    int decimals = u.decimals;
    for (double scaled = v * std::pow(10, decimals);
         decimals < 3 && std::fabs(scaled - std::round(scaled)) > 1e-6; scaled *= 10)
        ++decimals;
    return fmt::format(fmt::runtime(u.sign ? "{:+.{}f}{}" : "{:.{}f}{}"), v, decimals, u.text);
}

// Options after lm-sensors' own: a chip name (wildcards *), -A without the
// adapter line, -u the raw values one per line, -j JSON.
struct SensorsArgs {
    std::string chip;
    bool noAdapter = false;
    bool raw = false;
    bool json = false;
};

// A chip name as sensors takes it: the profile's, with * for any run.
bool chipMatches(const std::string& pattern, const std::string& chip) {
    const size_t star = pattern.find('*');
    if (star == std::string::npos) return pattern == chip;
    const std::string head = pattern.substr(0, star), rest = pattern.substr(star + 1);
    for (size_t at = head.size(); at <= chip.size(); ++at)
        if (chip.compare(0, head.size(), head) == 0 && chipMatches(rest, chip.substr(at))) return true;
    return false;
}

void showSensors(Context& ctx, const SensorsArgs& a) {
    const Profile& p = ctx.profile;
    if (!a.chip.empty() && !chipMatches(a.chip, p.chip)) {
        fail(ctx, "sensors", fmt::format("no chip '{}' on this board (it has '{}')", a.chip, p.chip),
             {{"error", "no such chip"}, {"chip", p.chip}});
        return;
    }
    std::vector<zrv_sensor> sensors(18);  // every channel of the record
    size_t count = 0;
    const int err = zrv_sensors_profile(ctx.lib(), p.handle.get(), sensors.data(), sensors.size(), &count);
    if (!answered(ctx, "sensors", err, err != ZRV_OK ? notSupportedReason(ctx, "hardware monitor") : ""))
        return;
    sensors.resize(count);
    bool alarm = false;
    size_t width = 0;
    for (const zrv_sensor& s : sensors) width = std::max(width, std::strlen(s.label) + 1);
    std::string text = p.chip;
    if (!a.noAdapter) text += fmt::format("\nAdapter: {}", p.adapter.empty() ? "-" : p.adapter);
    nlohmann::ordered_json chip = {{"Adapter", p.adapter}};
    for (const zrv_sensor& s : sensors) {
        const std::string key = s.key;
        const std::string label = s.label;
        nlohmann::ordered_json j = {{key + "_input", s.value}};
        std::vector<std::string> limits;
        if (s.has_min) {
            limits.push_back("min = " + formatLimit(s, s.min));
            j[key + "_min"] = s.min;
        }
        if (s.has_max) {
            limits.push_back("max = " + formatLimit(s, s.max));
            j[key + "_max"] = s.max;
        }
        if (s.has_min || s.has_max) j[key + "_alarm"] = s.alarm ? 1 : 0;
        alarm = alarm || s.alarm;
        if (a.raw) {
            // One value a line, as sensors -u prints them.
            text += fmt::format("\n{}:", label);
            for (const auto& [name, value] : j.items())
                text += fmt::format("\n  {}: {:.3f}", name, value.get<double>());
        } else {
            text += fmt::format("\n{:<{}} {}", label + ":", width, formatValue(s));
            if (!limits.empty()) text += fmt::format("  ({})", fmt::join(limits, ", "));
            if (s.alarm) text += "  ALARM";
        }
        chip[label] = j;
    }
    // A --watch round: {"time": SECONDS, "chips": {CHIP: ...}}; once, as
    // sensors -j: {CHIP: ...}.
    nlohmann::ordered_json all = {{p.chip, chip}};
    if (ctx.run.stamp) all = {{"chips", all}};
    const bool json = ctx.json;
    ctx.json = json || a.json;
    answerOrdered(ctx, text, all);
    ctx.json = json;
    // A reading past its limit is the answer scripts act on.
    if (alarm) ctx.worst(kExitAlarm);
}

Builder defineSensors(CLI::App& app) {
    auto a = std::make_shared<SensorsArgs>();
    app.add_option("CHIP", a->chip, "only this chip (the profile's name; * matches any run)");
    app.add_flag("-A,--no-adapter", a->noAdapter, "without the adapter line");
    app.add_flag("-u", a->raw, "raw output: each value on a line of its own");
    app.add_flag("-j", a->json, "JSON, as --json");
    const Builder rounds = repeating(app, [a](Context& ctx) { showSensors(ctx, *a); });
    return [a, rounds] { return rounds(); };
}

// The settings `fan` offers, as FanCtrl modes.
struct FanSetting {
    const char* word;
    uint8_t mode;
    int data;                 // fixed data, or -1 when the command gives a duty
    size_t minArgs, maxArgs;  // numbers after the word
};
const FanSetting kFanSettings[] = {
    {"on", ZRV_FAN_MODE_ONOFF, 1, 0, 0},
    {"off", ZRV_FAN_MODE_ONOFF, 0, 0, 0},
    {"duty", ZRV_FAN_MODE_DUTY, -1, 1, 1},
    {"auto", ZRV_FAN_MODE_AUTO, 0, 2, 4},
};

// Why a fan request is refused, where the configuration or the profile
// tells: a mode the chip does not have, a fan beyond what it controls, a
// fan the board profile does not list. Empty when none of them.
std::string fanRefusal(Context& ctx, uint32_t fan, const FanSetting& s) {
    const std::optional<uint32_t> chip = configuredChip(ctx, "hardware monitor");
    if (const ChipRow* f = chip ? ChipRowOf(*chip) : nullptr; f != nullptr && f->Fans != 0) {
        if (fan > f->Fans)
            return fmt::format("the {} controls fans 1 to {}{}", f->Name, f->Fans,
                               f->FewerFans != nullptr ? fmt::format(" ({})", f->FewerFans) : "");
        if ((f->FanModes & 1u << s.mode) == 0)
            return fmt::format("the {} has no {} mode (it takes on, off and duty)", f->Name,
                               s.mode == ZRV_FAN_MODE_AUTO ? "automatic" : s.word);
    }
    if (!ctx.profile.loaded()) return "";
    // The fans the profile lists are the ones the board wires.
    const HwmData none{};
    std::vector<zrv_sensor> channels(18);
    size_t count = 0;
    if (zrv_sensors_of(ctx.profile.handle.get(), &none, channels.data(), channels.size(), &count) != ZRV_OK)
        return "";
    std::vector<std::string> fans;
    for (size_t i = 0; i < count; ++i)
        if (channels[i].kind == ZRV_SENSOR_FAN) fans.push_back(channels[i].key);
    const std::string key = fmt::format("fan{}", fan);
    if (std::find(fans.begin(), fans.end(), key) != fans.end()) return "";
    return fmt::format("the board profile lists no {} ({})", key,
                       fans.empty() ? "no fans" : fmt::format("{}", fmt::join(fans, ", ")));
}

void setFan(Context& ctx, uint32_t fan, const FanSetting& s, const FanCtrl& c) {
    const int err = c.Mode == ZRV_FAN_MODE_AUTO
                        ? zrv_fan_auto(ctx.lib(), c.Fan, c.Limit1, c.Limit2, c.StartDuty, c.Slope)
                        : zrv_fan_set(ctx.lib(), c.Fan, c.Mode, c.Data);
    // The back-end refuses what it cannot do as "unsuccessful"; any other
    // status (no monitor bound) has its own reason.
    const bool refused = err != ZRV_OK && zrv_last_status(ctx.lib()) == ZRV_STATUS_UNSUCCESSFUL;
    if (!answered(ctx, "fan", err, refused ? fanRefusal(ctx, fan, s) : "")) return;
    nlohmann::json j = {{"fan", fan}, {"setting", s.word}};
    std::string text = fmt::format("fan{}: {}", fan, s.word);
    if (c.Mode == ZRV_FAN_MODE_DUTY) {
        j["duty"] = c.Data;
        text = fmt::format("fan{}: duty {} of 127", fan, c.Data);
    } else if (c.Mode == ZRV_FAN_MODE_AUTO) {
        j.update(
            {{"limit1", c.Limit1}, {"limit2", c.Limit2}, {"start_duty", c.StartDuty}, {"slope", c.Slope}});
        text = fmt::format("fan{}: automatic, limits {} and {}, start duty {}, slope {}", fan, c.Limit1,
                           c.Limit2, c.StartDuty, c.Slope);
    }
    answer(ctx, text, j);
}

Builder defineFan(CLI::App& app) {
    struct Args {
        uint32_t fan = 0;
        std::string setting;
        std::vector<std::string> values;
    };
    auto a = std::make_shared<Args>();
    addNumber(app, "FAN", a->fan, 5, "fan number, from 1");
    app.add_option("SETTING", a->setting,
                   "on, off, duty D (0-127), or auto LIMIT1 LIMIT2 [START-DUTY [SLOPE]]")
        ->required();
    app.add_option("VALUES", a->values, "the setting's numbers");
    app.get_option("FAN")->required();
    return [a] {
        if (a->fan == 0) throw ClientError{"fans are numbered from 1"};
        for (const FanSetting& s : kFanSettings) {
            if (a->setting != s.word) continue;
            if (a->values.size() < s.minArgs || a->values.size() > s.maxArgs)
                throw ClientError{fmt::format("'{}' takes {} to {} numbers", s.word, s.minArgs, s.maxArgs)};
            FanCtrl c{};
            c.Fan = static_cast<uint8_t>(a->fan - 1);
            c.Mode = s.mode;
            c.Data = static_cast<uint8_t>(s.data < 0 ? parseNumber(a->values[0], "duty", 127) : s.data);
            if (s.mode == ZRV_FAN_MODE_AUTO) {
                // Temperature limits in the chip's own counts; the start
                // duty takes 7 bits and the slope code 3, as the record.
                const auto at = [&](size_t i, const char* what, uint32_t max) {
                    return static_cast<uint8_t>(i < a->values.size() ? parseNumber(a->values[i], what, max)
                                                                     : 0);
                };
                c.Limit1 = at(0, "limit1", 255);
                c.Limit2 = at(1, "limit2", 255);
                c.StartDuty = at(2, "start duty", 127);
                c.Slope = at(3, "slope", 7);
            }
            return Action([fan = a->fan, &s, c](Context& ctx) { setFan(ctx, fan, s, c); });
        }
        throw ClientError{fmt::format("unknown setting '{}' (on, off, duty, auto)", a->setting)};
    };
}

}  // namespace

void addHwmCommands(CommandTable& table) {
    table.push_back({"sensors", "hardware monitor: fans, voltages and temperatures with the profile's limits",
                     defineSensors});
    table.push_back(
        {"fan", "hardware monitor: fan N (from 1) on, off, duty D of 127, or automatic", defineFan});
}

}  // namespace zrvctl
