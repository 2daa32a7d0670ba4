// Raw requests and the board overview.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

Action parseIoctl(const std::vector<std::string>& args) {
    if (args.empty()) throw ClientError{"ioctl: missing request code"};
    const uint32_t code = parseNumber(args[0], "ioctl code", 0xFFFFFFFFu);
    std::vector<uint8_t> input;
    uint32_t out = 0;
    HandleAccess access = HandleAccess::ReadWrite;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("in=", 0) == 0) {
            input = parseHex(a.substr(3));
        } else if (a.rfind("out=", 0) == 0) {
            out = parseNumber(a.substr(4), "out", 0x10000);
        } else if (a == "access=r") {
            access = HandleAccess::Read;
        } else if (a == "access=rw") {
            access = HandleAccess::ReadWrite;
        } else {
            throw ClientError{fmt::format("ioctl: unknown argument '{}'", a)};
        }
    }
    return [=](Context& ctx) {
        Reply r = ctx.device.ioctl(code, input, out, access);
        fmt::print("status=0x{:08x} bytes={} data={}\n", static_cast<uint32_t>(r.status), r.bytes,
                   hex(r.data));
    };
}

// Every function of the board at a glance: whether the driver bound it, and
// what it answers (readings, range, line counts). Each function is asked
// with its plainest read request; the answer also tells whether it is bound.
struct StatusProbe {
    const char* name;
    uint32_t code;
    uint32_t out;
    // Summary of a successful answer: text for the table, fields for JSON.
    void (*describe)(const Reply& r, std::string& text, nlohmann::json& j);
};

uint32_t le32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

void describeHwm(const Reply& r, std::string& text, nlohmann::json& j) {
    std::vector<uint32_t> fans;
    for (size_t i = 0; i < 5; ++i) fans.push_back(le32(r.data, 4 * i));
    const std::vector<uint8_t> temps(r.data.begin() + 30, r.data.begin() + 33);
    text = fmt::format("fans {} rpm, temperatures {} (raw)", fmt::join(fans, "/"), fmt::join(temps, "/"));
    j["fans_rpm"] = fans;
    j["temps_raw"] = temps;
}

void describeWdt(const Reply& r, std::string& text, nlohmann::json& j) {
    const uint32_t count = r.data[0] | r.data[1] << 8;
    const uint32_t units = r.data[2] | r.data[3] << 8;
    // Accepted unit codes as bits: 1 seconds, 2 minutes.
    static const char* const kUnitSets[] = {"(no unit)", "seconds", "minutes", "seconds or minutes"};
    text = fmt::format("timeout up to {} {}", count, kUnitSets[units & 3]);
    j["max_timeout"] = count;
    j["units"] = units;
}

void describeDio(const Reply& r, std::string& text, nlohmann::json& j) {
    text = fmt::format("{} inputs, {} outputs", r.data[0], r.data[1]);
    j["inputs"] = r.data[0];
    j["outputs"] = r.data[1];
}

void describeCd(const Reply& r, std::string& text, nlohmann::json& j) {
    text = fmt::format("{} outputs", r.data[0]);
    j["outputs"] = r.data[0];
}

const StatusProbe kStatusProbes[] = {
    {"hardware monitor", IOCTL_HWM_GET_DATA, sizeof(HwmData), describeHwm},
    {"watchdog", IOCTL_WDT_GET_TIMEOUT, sizeof(WdtTimeout), describeWdt},
    {"digital I/O", IOCTL_DIO_GET_CONFIG, sizeof(DioConfig), describeDio},
    {"CD port", IOCTL_DIO_CD_GET_OUTPUT_COUNT, 1, describeCd},
};

Action parseStatus(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"status: takes no arguments"};
    return [](Context& ctx) {
        nlohmann::json all = nlohmann::json::object();
        for (const StatusProbe& p : kStatusProbes) {
            Reply r = ctx.device.ioctl(p.code, {}, p.out, HandleAccess::ReadWrite);
            const bool bound = r.status == ZRV_STATUS_SUCCESS && r.bytes >= p.out;
            nlohmann::json j = {{"bound", bound}};
            std::string text;
            if (bound) p.describe(r, text, j);
            all[p.name] = j;
            if (!ctx.json)
                fmt::print("{:<17} {}\n", std::string(p.name) + ":",
                           bound ? fmt::format("bound ({})", text) : std::string("not available"));
        }
        if (ctx.json) fmt::print("{}\n", all.dump());
    };
}

}  // namespace

void addRequestCommands(CommandTable& table) {
    table.push_back({"ioctl", "ioctl CODE [in=HEX] [out=N] [access=r|rw]",
                     "send one device-control request; prints status, bytes and data", parseIoctl});
    table.push_back({"status", "status",
                     "every function of the board at a glance: bound or not, and what it answers",
                     parseStatus});
}

}  // namespace zrvctl
