// zrvctl config: the board's configuration as the driver will read it at
// its next load, from the three keys under its registry root (the board's
// .reg file on the virtual board, the registry on Windows): the back-end
// each function selects, the ports and masks, and every problem the driver
// would not report itself: a value of another type than REG_DWORD (read as
// 0), a name the driver does not read (likely a typo), a port of 0 where a
// port is used, a line count above 16, a group number the back-end refuses.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "client/commands.h"

namespace zrvctl {

namespace {

constexpr uint32_t kRegDword = 4;
constexpr uint32_t kPortChip = 16;  // chip code of the port back-ends
constexpr uint32_t kMaxLines = 16;  // lines of a line word

struct ChipName {
    uint32_t code;
    const char* name;
    bool hwm, wdt, dio;  // the functions it has a back-end for
};
const ChipName kChips[] = {
    {0, "IT87xx", true, true, false},          {1, "W83627", true, true, true},
    {2, "W83627", true, true, true},           {4, "F81216", false, true, false},
    {5, "SCH3114", true, true, true},          {6, "F81865", true, true, true},
    {16, "port back-ends", false, true, true},
};

const ChipName* chipByCode(uint32_t code) {
    for (const ChipName& c : kChips)
        if (c.code == code) return &c;
    return nullptr;
}

// Value names the driver reads, by key. The per-line names ("InAddr0") are
// matched by their stems.
const std::map<std::string, std::vector<std::string>> kKnownValues = {
    {"HWMON", {"SuperIO"}},
    {"WDT", {"DeviceType", "SuperIO", "Start", "Stop", "Reset", "Timeout", "StopBeforeReset"}},
    {"DIO", {"DeviceType",     "SuperIO",       "GPIOGroup",
             "GPIOOutGroup",   "InBits",        "OutBits",
             "IOBaseIn",       "IOBaseOut",     "InMask",
             "OutMask",        "IOBaseIn2",     "IOBaseOut2",
             "InMask2",        "OutMask2",      "CDPort",
             "CDOutPort",      "CDInMask",      "CDOutMask",
             "CDIsOutInvert",  "CDIsInInvert",  "UseSpecificSetting",
             "SpecificMaskIo", "SpecificDataIo"}},
};
const char* const kLineStems[] = {"InAddr", "InMask", "OutAddr", "OutMask"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A per-line name: a stem and a decimal index without leading zeros.
bool isLineName(const std::string& name) {
    for (const char* stem : kLineStems) {
        const std::string s = lower(stem);
        const std::string n = lower(name);
        if (n.rfind(s, 0) != 0 || n.size() == s.size()) continue;
        const std::string digits = n.substr(s.size());
        if (std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }) &&
            (digits == "0" || digits[0] != '0') && digits.size() <= 3)
            return true;
    }
    return false;
}

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diag = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diag = up;
        }
    }
    return row[b.size()];
}

std::string typeName(uint32_t type) {
    static const std::map<uint32_t, const char*> kTypes = {
        {0, "REG_NONE"},  {1, "REG_SZ"},       {2, "REG_EXPAND_SZ"}, {3, "REG_BINARY"},
        {4, "REG_DWORD"}, {7, "REG_MULTI_SZ"}, {11, "REG_QWORD"},    {5, "REG_DWORD_BIG_ENDIAN"}};
    auto it = kTypes.find(type);
    return it != kTypes.end() ? it->second : fmt::format("type {}", type);
}

// One key as the driver reads it: a value of another type reads as 0.
class Key {
public:
    Key(std::string name, std::optional<std::vector<RegistryEntry>> values) : name_(std::move(name)) {
        present_ = values.has_value();
        if (values)
            for (auto& v : *values) values_[lower(v.name)] = v;
    }
    bool present() const { return present_; }
    bool has(const std::string& value) const { return values_.count(lower(value)) != 0; }
    uint32_t dword(const std::string& value) const {
        auto it = values_.find(lower(value));
        // As the driver: a REG_DWORD of exactly four bytes, else 0.
        if (it == values_.end() || it->second.type != kRegDword || it->second.data.size() != 4) return 0;
        const auto& d = it->second.data;
        return d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
    }
    const std::string& name() const { return name_; }
    const std::map<std::string, RegistryEntry>& values() const { return values_; }

private:
    std::string name_;
    bool present_ = false;
    std::map<std::string, RegistryEntry> values_;
};

struct Report {
    std::vector<std::pair<std::string, std::string>> functions;  // name, description
    std::vector<std::string> problems;
    void problem(std::string text) { problems.push_back(std::move(text)); }
};

void checkNames(const Key& k, Report& r) {
    if (!k.present()) return;
    const std::vector<std::string>& known = kKnownValues.at(k.name());
    for (const auto& [_, v] : k.values()) {
        if (v.type != kRegDword)
            r.problem(fmt::format("{} \"{}\" is {}, not REG_DWORD: the driver reads it as 0", k.name(),
                                  v.name, typeName(v.type)));
        else if (v.data.size() != 4)
            r.problem(fmt::format("{} \"{}\" is a REG_DWORD of {} bytes, not 4: the driver reads it as 0",
                                  k.name(), v.name, v.data.size()));
        const bool isKnown = std::any_of(known.begin(), known.end(),
                                         [&](const std::string& n) { return lower(n) == lower(v.name); }) ||
                             (k.name() == "DIO" && isLineName(v.name));
        if (isKnown) continue;
        std::string hint;
        size_t best = 3;  // suggest names at most two edits away
        for (const std::string& n : known) {
            const size_t d = editDistance(lower(n), lower(v.name));
            if (d < best) {
                best = d;
                hint = fmt::format(" (did you mean \"{}\"?)", n);
            }
        }
        r.problem(fmt::format("{} \"{}\" is not a value the driver reads{}", k.name(), v.name, hint));
    }
}

std::string chipText(uint32_t code, bool ChipName::*has) {
    const ChipName* c = chipByCode(code);
    if (c == nullptr) return fmt::format("nothing: chip code {} names no chip", code);
    if (!(c->*has))
        return fmt::format("nothing: the {} (chip code {}) has no back-end for it", c->name, code);
    return fmt::format("{} (chip code {})", c->name, code);
}

// A port action of the port watchdog: 0 nothing, bit 15 a write, else a read.
std::string portAction(uint32_t v, const char* what, Report& r) {
    const uint32_t a = v & 0xFFFF;
    if (a == 0) return "nothing";
    if ((a & 0x8000) != 0) {
        if ((a & 0x7FFF) == 0) r.problem(fmt::format("WDT \"{}\" 0x{:x} writes to port 0", what, v));
        return fmt::format("write 0x{:x}", a & 0x7FFF);
    }
    return fmt::format("read 0x{:x}", a);
}

void describeWdt(const Key& wdt, Report& r) {
    const uint32_t type = wdt.dword("DeviceType");
    if (type == 1) {
        r.functions.push_back({"watchdog", chipText(wdt.dword("SuperIO"), &ChipName::wdt)});
        return;
    }
    const std::string start = portAction(wdt.dword("Start"), "Start", r);
    const std::string stop = portAction(wdt.dword("Stop"), "Stop", r);
    const std::string reset =
        wdt.dword("Reset") & 0xFFFF ? portAction(wdt.dword("Reset"), "Reset", r) : "the start action";
    const uint32_t timeout = wdt.dword("Timeout") & 0xFFFF;
    r.functions.push_back(
        {"watchdog", fmt::format("port watchdog: start {}, stop {}, restart {}{}, timeout port {}", start,
                                 stop, reset, wdt.dword("StopBeforeReset") & 0xFFFF ? " after a stop" : "",
                                 timeout ? fmt::format("0x{:x}", timeout) : "none")});
    if ((wdt.dword("Start") & 0xFFFF) == 0)
        r.problem("WDT \"Start\" is absent or 0: the watchdog cannot be started");
}

void checkCount(const char* name, uint32_t v, Report& r) {
    if ((v & 0xFF) > kMaxLines)
        r.problem(fmt::format("DIO \"{}\" {} is above {}: a line word has {} lines", name, v & 0xFF,
                              kMaxLines, kMaxLines));
}

// The group numbers each chip's digital I/O accepts.
struct GroupRange {
    uint32_t chip;
    uint32_t low, high;
};
const GroupRange kGroupRanges[] = {{1, 1, 6}, {2, 1, 6}, {5, 0, 7}, {6, 0, 8}};

void checkGroup(uint32_t chip, const std::string& what, uint32_t group, Report& r) {
    for (const GroupRange& g : kGroupRanges)
        if (g.chip == chip && (group < g.low || group > g.high))
            r.problem(fmt::format("DIO {} is group {}: the {} has groups {} to {}", what, group,
                                  chipByCode(chip)->name, g.low, g.high));
}

void describePortDio(const Key& dio, Report& r) {
    std::string text;
    if (dio.dword("UseSpecificSetting") != 0) {
        const uint32_t data = dio.dword("SpecificDataIo") & 0xFFFF,
                       dir = dio.dword("SpecificMaskIo") & 0xFFFF;
        text = fmt::format("port digital I/O, data port 0x{:x} split by the direction register 0x{:x}", data,
                           dir);
        if (data == 0) r.problem("DIO \"SpecificDataIo\" is port 0");
        if (dir == 0) r.problem("DIO \"SpecificMaskIo\" is port 0");
    } else {
        const auto side = [&](const char* dir, const char* base, const char* mask, const char* base2,
                              const char* mask2, const char* bits) {
            const uint32_t p = dio.dword(base) & 0xFFFF, m = dio.dword(mask) & 0xFF;
            const uint32_t p2 = dio.dword(base2) & 0xFFFF, m2 = dio.dword(mask2) & 0xFF;
            const uint32_t n = dio.dword(bits) & 0xFF;
            checkCount(bits, dio.dword(bits), r);
            if (n != 0 && p == 0)
                r.problem(fmt::format("DIO \"{}\" is port 0 but \"{}\" is {}", base, bits, n));
            std::string s = fmt::format("{} {} lines", n, dir);
            if (p != 0) s += fmt::format(" on 0x{:x} mask 0x{:02x}", p, m);
            if (p2 != 0) s += fmt::format(" and 0x{:x} mask 0x{:02x}", p2, m2);
            return s;
        };
        text = fmt::format("port digital I/O, plain layout: {}; {}",
                           side("input", "IOBaseIn", "InMask", "IOBaseIn2", "InMask2", "InBits"),
                           side("output", "IOBaseOut", "OutMask", "IOBaseOut2", "OutMask2", "OutBits"));
    }
    const uint32_t cd = dio.dword("CDPort") & 0xFFFF, cdOut = dio.dword("CDOutPort") & 0xFFFF;
    const uint32_t cdIn = dio.dword("CDInMask") & 0xFF, cdOutMask = dio.dword("CDOutMask") & 0xFF;
    if (cd != 0 || cdOut != 0)
        text +=
            fmt::format("; CD port 0x{:x} inputs 0x{:02x}, outputs 0x{:02x} on 0x{:x}{}", cd, cdIn, cdOutMask,
                        cdOut ? cdOut : cd, dio.dword("CDIsOutInvert") & 0xFF ? " (active low)" : "");
    if (cd == 0 && cdIn != 0) r.problem("DIO \"CDPort\" is port 0 but \"CDInMask\" names lines");
    if (cd == 0 && cdOut == 0 && cdOutMask != 0)
        r.problem("DIO \"CDPort\" is port 0 but \"CDOutMask\" names lines");
    r.functions.push_back({"digital I/O", text});
}

void describeDio(const Key& dio, Report& r) {
    const uint32_t type = dio.dword("DeviceType");
    if (type != 1 && type != 3) {
        if (type == 4) {
            r.problem("DIO \"DeviceType\" 4 loads the per-line map, which the port digital I/O does not use");
        } else if (type != 0) {
            r.problem(fmt::format(
                "DIO \"DeviceType\" {} is not a layout (0, 1, 3 or 4): the port digital I/O it is", type));
        }
        describePortDio(dio, r);
        return;
    }
    const uint32_t chip = dio.dword("SuperIO");
    std::string text = chipText(chip, &ChipName::dio);
    if (type == 1) {
        const uint32_t in = dio.dword("GPIOGroup") & 0xFF, out = dio.dword("GPIOOutGroup") & 0xFF;
        text += fmt::format(", group layout: inputs group {}, outputs group {}", in, out);
        checkGroup(chip, "\"GPIOGroup\"", in, r);
        if (chip != 1 && chip != 2) checkGroup(chip, "\"GPIOOutGroup\"", out, r);
        if (chip == 5) r.problem("the SCH3114 digital I/O takes only the line layout (DIO \"DeviceType\" 3)");
    } else {
        const uint32_t in = dio.dword("InBits") & 0xFF, out = dio.dword("OutBits") & 0xFF;
        checkCount("InBits", dio.dword("InBits"), r);
        checkCount("OutBits", dio.dword("OutBits"), r);
        text += fmt::format(", line layout: {} inputs, {} outputs", in, out);
        const auto lines = [&](const char* addr, const char* mask, uint32_t n) {
            std::vector<std::string> parts;
            for (uint32_t i = 0; i < n; ++i) {
                const std::string a = fmt::format("{}{}", addr, i), m = fmt::format("{}{}", mask, i);
                if (!dio.has(a) || !dio.has(m))
                    r.problem(fmt::format("DIO \"{}\" or \"{}\" is absent: the map stops there", a, m));
                checkGroup(chip, "\"" + a + "\"", dio.dword(a) & 0xFFFF, r);
                parts.push_back(fmt::format("{}:0x{:02x}", dio.dword(a) & 0xFFFF, dio.dword(m) & 0xFF));
            }
            return fmt::format("{}", fmt::join(parts, " "));
        };
        if (in != 0) text += fmt::format("; inputs (group:mask) {}", lines("InAddr", "InMask", in));
        if (out != 0) text += fmt::format("; outputs (group:mask) {}", lines("OutAddr", "OutMask", out));
        if (chip != 5 && chip != 6)
            r.problem(fmt::format(
                "the line layout is served by the SCH3114 and the F81865 only, not chip code {}", chip));
    }
    r.functions.push_back({"digital I/O", text});
}

Report examine(ConfigSource& source) {
    const Key hwm("HWMON", source.values("HWMON")), wdt("WDT", source.values("WDT")),
        dio("DIO", source.values("DIO"));
    Report r;
    for (const Key* k : {&hwm, &wdt, &dio}) {
        if (!k->present()) r.problem(fmt::format("the key {} is absent", k->name()));
        checkNames(*k, r);
    }
    // A failed read of these fails the whole load unless the digital I/O is
    // the port layout (DIO "DeviceType" 0).
    const uint32_t dioType = dio.dword("DeviceType");
    std::vector<std::string> missing;
    if (!hwm.has("SuperIO")) missing.push_back("HWMON \"SuperIO\"");
    if (!wdt.has("DeviceType")) missing.push_back("WDT \"DeviceType\"");
    if (wdt.dword("DeviceType") == 1 && !wdt.has("SuperIO")) missing.push_back("WDT \"SuperIO\"");
    if (!dio.has("DeviceType")) missing.push_back("DIO \"DeviceType\"");
    if (!missing.empty() && dioType != 0) {
        r.problem(fmt::format("{} absent: with DIO \"DeviceType\" {} the load fails and no function is bound",
                              fmt::join(missing, ", "), dioType));
    }
    const uint32_t hwmChip = hwm.dword("SuperIO");
    r.functions.push_back({"hardware monitor", chipText(hwmChip, &ChipName::hwm)});
    describeWdt(wdt, r);
    describeDio(dio, r);
    return r;
}

Builder defineConfig(CLI::App&) {
    return [] {
        return [](Context& ctx) {
            if (ctx.config == nullptr) {
                fail(ctx, "config", "the configuration cannot be read here");
                return;
            }
            const Report r = examine(*ctx.config);
            nlohmann::json j = {{"source", ctx.config->where()}, {"problems", r.problems}};
            std::string text = fmt::format("configuration: {}", ctx.config->where());
            for (const auto& [name, what] : r.functions) {
                text += fmt::format("\n{:<17} {}", name + ":", what);
                j["functions"][name] = what;
            }
            if (r.problems.empty()) text += "\nno problems found";
            for (const std::string& p : r.problems) text += "\nproblem: " + p;
            answer(ctx, text, j);
            if (!r.problems.empty()) ctx.worst(kExitRefused);
        };
    };
}

}  // namespace

std::vector<std::string> configuredFunctions(ConfigSource& source) {
    std::vector<std::string> names;
    for (const auto& [name, what] : examine(source).functions)
        if (what.rfind("nothing", 0) != 0) names.push_back(name);
    return names;
}

void addConfigCommands(CommandTable& table) {
    table.push_back(
        {"config", "the configuration the driver will read, and every problem in it", defineConfig});
}

}  // namespace zrvctl
