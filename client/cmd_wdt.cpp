// Watchdog commands, after wdctl: show the range, set the timeout, start,
// stop and keep alive. Written against the request interface only, so they
// serve every watchdog back-end alike.
//
//   wdctl                  range the watchdog accepts
//   wdctl -s 30 | -s 2m    set the timeout (seconds, or minutes with "m")
//   wdctl start | stop | keepalive
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

// Unit codes of the watchdog record and their names.
struct UnitName {
    uint16_t code;
    const char* singular;
    const char* plural;
    const char* suffixes[3];
};
const UnitName kUnits[] = {
    {ZRV_WDT_UNIT_SECONDS, "second", "seconds", {"", "s", "sec"}},
    {ZRV_WDT_UNIT_MINUTES, "minute", "minutes", {"m", "min", nullptr}},
};

const UnitName* unitByCode(uint16_t code) {
    for (const UnitName& u : kUnits)
        if (u.code == code) return &u;
    return nullptr;
}

std::string unitWord(uint16_t code, uint32_t count) {
    const UnitName* u = unitByCode(code);
    if (u == nullptr) return fmt::format("(unit {})", code);
    return count == 1 ? u->singular : u->plural;
}

void showRange(Context& ctx) {
    Reply r = ctx.device.ioctl(IOCTL_WDT_GET_TIMEOUT, {}, sizeof(WdtTimeout), HandleAccess::ReadWrite);
    if (!requestAnswered(ctx, "wdctl", r)) return;
    if (r.bytes < sizeof(WdtTimeout)) {
        fmt::print("wdctl: short answer ({} bytes)\n", r.bytes);
        return;
    }
    const uint16_t count = static_cast<uint16_t>(r.data[0] | r.data[1] << 8);
    const uint16_t units = static_cast<uint16_t>(r.data[2] | r.data[3] << 8);
    std::vector<std::string> names;
    for (const UnitName& u : kUnits)
        if ((units & u.code) != 0) names.push_back(u.plural);
    if (ctx.json) {
        fmt::print("{}\n", nlohmann::json{{"max_timeout", count}, {"units", names}}.dump());
        return;
    }
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) list += (i == 0 ? "" : " or ") + names[i];
    fmt::print("timeout range: 0-{} {}\n", count, list.empty() ? "(no unit)" : list);
}

// "30", "30s", "2m", "2min": the count and its unit code.
WdtTimeout parseTimeout(const std::string& text) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    const std::string suffix = text.substr(digits);
    for (const UnitName& u : kUnits) {
        for (const char* s : u.suffixes) {
            if (s != nullptr && suffix == s) {
                WdtTimeout t{};
                t.Count = static_cast<uint16_t>(parseNumber(text.substr(0, digits), "timeout", 0xFFFF));
                t.Unit = u.code;
                return t;
            }
        }
    }
    throw ClientError{fmt::format("timeout: '{}' is not a count with an optional unit (s, m)", text)};
}

void setTimeout(Context& ctx, WdtTimeout t) {
    const std::vector<uint8_t> record = {static_cast<uint8_t>(t.Count), static_cast<uint8_t>(t.Count >> 8),
                                         static_cast<uint8_t>(t.Unit), static_cast<uint8_t>(t.Unit >> 8)};
    Reply r = ctx.device.ioctl(IOCTL_WDT_SET_TIMEOUT, record, 0, HandleAccess::ReadWrite);
    if (!requestAnswered(ctx, "wdctl", r)) return;
    if (ctx.json)
        fmt::print("{}\n", nlohmann::json{{"timeout", t.Count}, {"unit", unitWord(t.Unit, 2)}}.dump());
    else
        fmt::print("timeout set to {} {}\n", t.Count, unitWord(t.Unit, t.Count));
}

struct WdtAction {
    const char* word;
    uint32_t code;
    const char* done;
};
const WdtAction kActions[] = {
    {"start", IOCTL_WDT_START, "watchdog started"},
    {"stop", IOCTL_WDT_STOP, "watchdog stopped"},
    {"keepalive", IOCTL_WDT_RESET, "watchdog restarted"},
};

void runAction(Context& ctx, const WdtAction& a) {
    Reply r = ctx.device.ioctl(a.code, {}, 0, HandleAccess::ReadWrite);
    if (!requestAnswered(ctx, "wdctl", r)) return;
    if (ctx.json)
        fmt::print("{}\n", nlohmann::json{{"watchdog", a.word}, {"status", "success"}}.dump());
    else
        fmt::print("{}\n", a.done);
}

Action parseWdctl(const std::vector<std::string>& args) {
    if (args.empty()) return showRange;
    if (args[0] == "-s" || args[0] == "--settimeout") {
        if (args.size() != 2) throw ClientError{"wdctl: -s takes one timeout"};
        const WdtTimeout t = parseTimeout(args[1]);
        return [t](Context& ctx) { setTimeout(ctx, t); };
    }
    if (args.size() == 1) {
        for (const WdtAction& a : kActions)
            if (args[0] == a.word) return [&a](Context& ctx) { runAction(ctx, a); };
    }
    throw ClientError{fmt::format("wdctl: unknown argument '{}'", args[0])};
}

}  // namespace

bool requestAnswered(Context& ctx, const char* command, const Reply& r) {
    if (r.status == ZRV_STATUS_SUCCESS) return true;
    if (ctx.json) {
        nlohmann::json j = {{"command", command},
                            {"error", statusName(r.status)},
                            {"status", fmt::format("0x{:08x}", static_cast<uint32_t>(r.status))}};
        fmt::print("{}\n", j.dump());
    } else {
        fmt::print("{}: {} (0x{:08x})\n", command, statusName(r.status), static_cast<uint32_t>(r.status));
    }
    return false;
}

void addWatchdogCommands(CommandTable& table) {
    table.push_back({"wdctl", "wdctl [-s N[s|m] | start|stop|keepalive]",
                     "watchdog: show its range, set its timeout, start, stop or restart it", parseWdctl});
}

}  // namespace zrvctl
