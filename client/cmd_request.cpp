// Raw requests and the board overview.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
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
            Reply r = ctx.device.ioctl(code, input, out, access);
            // The raw answer is the command's answer, whatever the status.
            if (r.status != ZRV_STATUS_SUCCESS) ctx.worst(kExitRefused);
            answer(ctx,
                   fmt::format("status=0x{:08x} bytes={} data={}", static_cast<uint32_t>(r.status), r.bytes,
                               hex(r.data)),
                   {{"status", fmt::format("0x{:08x}", static_cast<uint32_t>(r.status))},
                    {"bytes", r.bytes},
                    {"data", hex(r.data)}});
        };
    };
}

// Every function of the board at a glance: whether the driver bound it, and
// what it answers (readings, range, line counts). Each function is asked
// with its plainest read request; the answer also tells whether it is bound.
// A function bound with nothing behind it (no lines, no readings) is a
// configuration that names hardware it does not describe: `config` says why.
struct StatusProbe {
    const char* name;
    uint32_t code;
    uint32_t out;
    // Summary of a successful answer: text for the table, fields for JSON;
    // false when the answer shows nothing behind the function.
    bool (*describe)(const Reply& r, std::string& text, nlohmann::json& j);
};

bool describeHwm(const Reply& r, std::string& text, nlohmann::json& j) {
    const Readings d = decodeReadings(r.data);
    const std::vector<uint32_t> fans(std::begin(d.fans), std::end(d.fans));
    const std::vector<uint8_t> temps(std::begin(d.temps), std::end(d.temps));
    text = fmt::format("fans {} rpm, temperatures {} (raw)", fmt::join(fans, "/"), fmt::join(temps, "/"));
    j["fans_rpm"] = fans;
    j["temps_raw"] = temps;
    return std::any_of(r.data.begin(), r.data.begin() + offsetof(HwmData, Reserved),
                       [](uint8_t b) { return b != 0; });
}

bool describeWdt(const Reply& r, std::string& text, nlohmann::json& j) {
    const uint32_t count = le16(r.data, 0);
    const uint32_t units = le16(r.data, 2);
    // Accepted unit codes as bits: 1 seconds, 2 minutes.
    static const char* const kUnitSets[] = {"(no unit)", "seconds", "minutes", "seconds or minutes"};
    text = fmt::format("timeout up to {} {}", count, kUnitSets[units & 3]);
    j["max_timeout"] = count;
    j["units"] = units;
    return count != 0 && (units & 3) != 0;
}

bool describeDio(const Reply& r, std::string& text, nlohmann::json& j) {
    text = fmt::format("{} inputs, {} outputs", r.data[0], r.data[1]);
    j["inputs"] = r.data[0];
    j["outputs"] = r.data[1];
    return r.data[0] != 0 || r.data[1] != 0;
}

bool describeCd(const Reply& r, std::string& text, nlohmann::json& j) {
    text = fmt::format("{} outputs", r.data[0]);
    j["outputs"] = r.data[0];
    return true;  // a CD port of inputs only is a CD port
}

const StatusProbe kStatusProbes[] = {
    {"hardware monitor", IOCTL_HWM_GET_DATA, sizeof(HwmData), describeHwm},
    {"watchdog", IOCTL_WDT_GET_TIMEOUT, sizeof(WdtTimeout), describeWdt},
    {"digital I/O", IOCTL_DIO_GET_CONFIG, sizeof(DioConfig), describeDio},
    {"CD port", IOCTL_DIO_CD_GET_OUTPUT_COUNT, 1, describeCd},
};

void showStatus(Context& ctx) {
    nlohmann::json all = nlohmann::json::object();
    std::string lines;
    for (const StatusProbe& p : kStatusProbes) {
        Reply r = ctx.device.ioctl(p.code, {}, p.out, HandleAccess::ReadWrite);
        const bool bound = r.status == ZRV_STATUS_SUCCESS && r.bytes >= p.out;
        nlohmann::json j = {{"bound", bound}};
        std::string text = "not available";
        if (bound) {
            std::string summary;
            const bool filled = p.describe(r, summary, j);
            text = fmt::format("bound ({})", summary);
            if (!filled) {
                text += ", with nothing behind it: see zrvctl config";
                j["empty"] = true;
            }
        }
        all[p.name] = j;
        lines += fmt::format("{}{:<17} {}", lines.empty() ? "" : "\n", std::string(p.name) + ":", text);
    }
    answer(ctx, lines, all);
}

Builder defineStatus(CLI::App& app) {
    auto r = std::make_shared<Repeat>();
    addRepeat(app, *r);
    return [r] { return [r = *r](Context& ctx) { repeat(ctx, r, [&] { showStatus(ctx); }); }; };
}

}  // namespace

void addRequestCommands(CommandTable& table) {
    table.push_back({"ioctl", "send one device-control request; prints status, bytes and data", defineIoctl});
    table.push_back({"status", "every function of the board at a glance: bound or not, and what it answers",
                     defineStatus});
}

}  // namespace zrvctl
