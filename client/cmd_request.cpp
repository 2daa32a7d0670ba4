// Raw requests and the board overview.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

Builder defineIoctl(CLI::App& app) {
    struct Args {
        uint32_t code = 0;
        std::vector<std::string> rest;
    };
    auto a = std::make_shared<Args>();
    addNumber(app, "CODE", a->code, 0xFFFFFFFFu, "the request code");
    app.get_option("CODE")->required();
    app.add_option("ARGS", a->rest,
                   "in=HEX (input bytes), out=N (output length), access=r|rw (the handle's)");
    return [a] {
        // Any other transfer method would hand the driver the caller's own
        // pointers; the control device takes buffered requests only.
        if ((a->code & 3u) != ZRV_METHOD_BUFFERED)
            throw ClientError{
                fmt::format("0x{:08x} asks for transfer method {}: the device takes buffered requests only",
                            a->code, a->code & 3u)};
        std::vector<uint8_t> input;
        uint32_t out = 0;
        HandleAccess access = HandleAccess::ReadWrite;
        for (const std::string& s : a->rest) {
            if (s.rfind("in=", 0) == 0) {
                input = parseHex(s.substr(3));
            } else if (s.rfind("out=", 0) == 0) {
                out = parseNumber(s.substr(4), "out", 0x10000);
            } else if (s == "access=r") {
                access = HandleAccess::Read;
            } else if (s == "access=rw") {
                access = HandleAccess::ReadWrite;
            } else {
                throw ClientError{fmt::format("unknown argument '{}'", s)};
            }
        }
        return [code = a->code, input, out, access](Context& ctx) {
            zrv_device* dev = ctx.device.open(access);
            std::vector<uint8_t> data(out);
            size_t bytes = 0;
            zrv_ioctl(dev, code, input.data(), input.size(), data.data(), data.size(), &bytes);
            // The raw answer is the command's answer, whatever the status.
            const auto status = static_cast<uint32_t>(zrv_last_status(dev));
            data.resize(bytes);
            if (status != ZRV_STATUS_SUCCESS) ctx.worst(kExitRefused);
            answer(ctx, fmt::format("status=0x{:08x} bytes={} data={}", status, bytes, hex(data)),
                   {{"status", fmt::format("0x{:08x}", status)}, {"bytes", bytes}, {"data", hex(data)}});
        };
    };
}

// Every function of the board at a glance: whether the driver bound it, and
// what it answers (readings, range, line counts). Each function is asked
// with its plainest read request; the answer also tells whether it is bound.
// A function bound with nothing behind it (no lines, no readings) is a
// configuration that names hardware it does not describe: `config` says why.
// Each probe asks its function's plainest read through the library and
// summarises the answer: text for the table, fields for JSON; false when the
// answer shows nothing behind the function.
using Describe = std::function<bool(std::string& text, nlohmann::json& j)>;
struct StatusProbe {
    const char* name;
    int (*ask)(Context& ctx, Describe& describe);
};

int probeHwm(Context& ctx, Describe& describe) {
    HwmData d{};
    const int err = zrv_hwm_read(ctx.lib(), &d);
    // With a profile, the temperatures it lists in °C by their labels.
    std::vector<zrv_sensor> sensors(18);
    size_t count = 0;
    if (err != ZRV_OK || !ctx.profile.loaded() ||
        zrv_sensors_of(ctx.profile.handle.get(), &d, sensors.data(), sensors.size(), &count) != ZRV_OK)
        count = 0;
    sensors.resize(count);
    std::erase_if(sensors, [](const zrv_sensor& s) { return s.kind != ZRV_SENSOR_TEMPERATURE; });
    describe = [d, sensors](std::string& text, nlohmann::json& j) {
        const std::vector<uint32_t> fans = {d.Fan1, d.Fan2, d.Fan3, d.Fan4, d.Fan5};
        const std::vector<uint8_t> temps = {d.Temp1, d.Temp2, d.Temp3};
        text = fmt::format("fans {} rpm, temperatures {} (raw)", fmt::join(fans, "/"), fmt::join(temps, "/"));
        j["fans_rpm"] = fans;
        if (sensors.empty()) {
            j["temps_raw"] = temps;
        } else {
            std::vector<std::string> shown;
            j["temps_celsius"] = nlohmann::json::object();
            for (const zrv_sensor& s : sensors) {
                shown.push_back(fmt::format("{} {:+.1f}°C", s.label, s.value));
                j["temps_celsius"][s.label] = s.value;
            }
            text = fmt::format("fans {} rpm, temperatures {}", fmt::join(fans, "/"), fmt::join(shown, ", "));
        }
        return std::any_of(fans.begin(), fans.end(), [](uint32_t v) { return v != 0; }) ||
               std::any_of(std::begin(d.Volt), std::end(d.Volt), [](uint8_t v) { return v != 0; }) ||
               std::any_of(temps.begin(), temps.end(), [](uint8_t v) { return v != 0; });
    };
    return err;
}

int probeWdt(Context& ctx, Describe& describe) {
    unsigned count = 0, units = 0;
    const int err = zrv_wdt_limits(ctx.lib(), &count, &units);
    describe = [count, units](std::string& text, nlohmann::json& j) {
        const std::vector<std::string> names = watchdogUnits(units);
        text = fmt::format("timeout up to {} {}", count,
                           names.empty() ? "(no unit)" : fmt::format("{}", fmt::join(names, " or ")));
        j["timeout_min"] = 1;  // a count of 0 is no timeout
        j["timeout_max"] = count;
        j["units"] = names;
        return count != 0 && !names.empty();
    };
    return err;
}

int probeDio(Context& ctx, Describe& describe) {
    unsigned in = 0, out = 0;
    const int err = zrv_dio_lines(ctx.lib(), &in, &out);
    describe = [in, out](std::string& text, nlohmann::json& j) {
        text = fmt::format("{} inputs, {} outputs", in, out);
        j["inputs"] = in;
        j["outputs"] = out;
        return in != 0 || out != 0;
    };
    return err;
}

int probeCd(Context& ctx, Describe& describe) {
    unsigned n = 0;
    const int err = zrv_cd_outputs(ctx.lib(), &n);
    describe = [n](std::string& text, nlohmann::json& j) {
        text = fmt::format("{} outputs", n);
        j["outputs"] = n;
        return true;  // a CD port of inputs only is a CD port
    };
    return err;
}

const StatusProbe kStatusProbes[] = {
    {"hardware monitor", probeHwm},
    {"watchdog", probeWdt},
    {"digital I/O", probeDio},
    {"CD port", probeCd},
};

void showStatus(Context& ctx) {
    nlohmann::json all = nlohmann::json::object();
    std::string lines;
    bool missing = false;
    for (const FunctionStatus& f : functionStatuses(ctx)) {
        all[f.name] = f.json;
        lines += fmt::format("{}{:<17} {}", lines.empty() ? "" : "\n", std::string(f.name) + ":", f.text);
        missing = missing || f.configured || f.cannotStart;
    }
    answer(ctx, lines, all);
    if (missing) ctx.worst(kExitRefused);
}

Builder defineStatus(CLI::App& app) { return repeating(app, showStatus); }

}  // namespace

std::vector<FunctionStatus> functionStatuses(Context& ctx) {
    std::vector<FunctionStatus> all;
    const std::vector<std::string> configured =
        ctx.config != nullptr ? configuredFunctions(*ctx.config) : std::vector<std::string>{};
    // What the load recorded for each function, where its report can be read.
    const std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> reasons = loadReasons(ctx);
    for (size_t f = 0; f < std::size(kStatusProbes); ++f) {
        const StatusProbe& p = kStatusProbes[f];
        FunctionStatus s;
        s.name = p.name;
        Describe describe;
        s.bound = p.ask(ctx, describe) == ZRV_OK;
        s.json = {{"bound", s.bound}};
        if (reasons && f < ZRV_FUNCTIONS && !s.bound) {
            s.reasonCode = (*reasons)[f];
            s.json["reason_code"] = *s.reasonCode;
        }
        s.text = "not available";
        if (!s.bound && std::find(configured.begin(), configured.end(), p.name) != configured.end()) {
            const std::string why = unboundReason(ctx, p.name);
            s.text = "not bound, although the configuration names a back-end for it: " + why;
            s.configured = true;
            s.json["configured"] = true;
            s.json["reason"] = why;
        }
        if (s.bound) {
            std::string summary;
            const bool filled = describe(summary, s.json);
            s.text = fmt::format("bound ({})", summary);
            if (!filled) {
                s.text += ", with nothing behind it: see zrvctl config";
                s.json["empty"] = true;
            }
            if (p.ask == probeWdt) {
                if (const std::string why = watchdogCannotStart(ctx); !why.empty()) {
                    s.text += ", but it cannot start: " + why;
                    s.cannotStart = true;
                    s.json["cannot_start"] = true;
                    s.json["reason"] = why;
                }
            }
        }
        all.push_back(std::move(s));
    }
    return all;
}

void addRequestCommands(CommandTable& table) {
    table.push_back({"ioctl", "send one device-control request; prints status, bytes and data", defineIoctl});
    table.push_back({"status", "every function of the board at a glance: bound or not, and what it answers",
                     defineStatus});
}

}  // namespace zrvctl
