// Raw requests and the board overview.
#include <fmt/format.h>

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

// Which functions the board's driver bound, found by asking each one.
Action parseStatus(const std::vector<std::string>& args) {
    if (!args.empty()) throw ClientError{"status: takes no arguments"};
    return [](Context& ctx) {
        struct Probe {
            const char* name;
            uint32_t code;
            uint32_t out;
        };
        const Probe probes[] = {
            {"hardware monitor", IOCTL_HWM_GET_DATA, sizeof(HwmData)},
            {"watchdog", IOCTL_WDT_GET_TIMEOUT, sizeof(WdtTimeout)},
            {"digital I/O", IOCTL_DIO_GET_CONFIG, sizeof(DioConfig)},
            {"CD port", IOCTL_DIO_CD_GET_OUTPUT_COUNT, 1},
        };
        nlohmann::json j = nlohmann::json::object();
        for (const Probe& p : probes) {
            Reply r = ctx.device.ioctl(p.code, {}, p.out, HandleAccess::ReadWrite);
            const bool bound = r.status == ZRV_STATUS_SUCCESS;
            if (ctx.json)
                j[p.name] = bound;
            else
                fmt::print("{:<17} {}\n", std::string(p.name) + ":", bound ? "bound" : "not available");
        }
        if (ctx.json) fmt::print("{}\n", j.dump());
    };
}

}  // namespace

void addRequestCommands(CommandTable& table) {
    table.push_back({"ioctl", "ioctl CODE [in=HEX] [out=N] [access=r|rw]",
                     "send one device-control request; prints status, bytes and data", parseIoctl});
    table.push_back({"status", "status", "show which functions the driver bound on this board", parseStatus});
}

}  // namespace zrvctl
