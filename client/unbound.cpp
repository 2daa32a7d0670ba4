// Why the driver left a function unbound that the configuration names a
// back-end for. The driver answers an unbound function "not supported" and
// says nothing more through its requests; what it says at load goes to the
// debugger, which the virtual board keeps. Each refusal the back-ends print
// is one row below, in the driver's own format; a back-end that prints
// nothing when its chip does not answer leaves the probe's silence as the
// reason. Where the debugger output cannot be read (a real machine) the
// reason stays unknown.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "client/commands.h"

namespace zrvctl {

namespace {

constexpr uint32_t kChipIt87 = 0;
constexpr uint32_t kChipSch3114 = 5;
constexpr uint32_t kChipF81865 = 6;
constexpr uint32_t kChipPorts = 16;
constexpr uint32_t kAnyChip = 0xFFFFFFFFu;

constexpr const char* kHwm = "hardware monitor";
constexpr const char* kWdt = "watchdog";
constexpr const char* kDio = "digital I/O";

// One refusal the driver prints at load: its format as the driver prints
// it, the function it leaves unbound (null: every function on `chip`), and
// the reason as status gives it.
struct Refusal {
    const char* format;
    const char* function;
    uint32_t chip;
    const char* reason;
};
// clang-format off
const Refusal kRefusals[] = {
    {"HWM_IT87 logical device 4 is not active (0x%02x), hardware monitor not bound",
     kHwm, kAnyChip, "the monitor's logical device 4 is not active"},
    {"HWM_F81865 logical device 4 is not active (0x%02x), hardware monitor not bound",
     kHwm, kAnyChip, "the monitor's logical device 4 is not active"},
    {"HWM_IT87 BaseAddr 0x%04x is not a monitor base, hardware monitor not bound",
     kHwm, kAnyChip, "refused base: the monitor's base is below 0x100 or too high"},
    {"HWM_W83627_Detect BaseAddr 0x%04x is not a monitor base, hardware monitor not bound",
     kHwm, kAnyChip, "refused base: the monitor's base is below 0x100 or too high"},
    {"HWM_F81865 BaseAddr 0x%04x is not a monitor base, hardware monitor not bound",
     kHwm, kAnyChip, "refused base: the monitor's base is below 0x100 or too high"},
    {"Detect_SCH3114 RuntimeBase 0x%04x is not a runtime block, SCH3114 not bound",
     nullptr, kChipSch3114, "refused base: the SCH3114's runtime block is below 0x100 or too high"},
    {"W83627GetChipID HWM BASE Addr %04x",  // printed before the refusal above: below it
     kHwm, kAnyChip, "the monitor is not set up: its base is 0 or logical device 0x0B does not decode"},
    {"Detect_F81865- (NotFound)",
     nullptr, kChipF81865, "not found: no F81865 answered its probe at 0x2E/0x2F or 0x4E/0x4F"},
    {"DIO_W83627_SelectGroup group %d failed its set-up test (ID %02x), digital I/O not bound",
     kDio, kAnyChip, "the GPIO group is not enabled on the chip (its set-up test failed)"},
    {"DIO_W83627_SelectGroup group %d has no data register on ID %02x, digital I/O not bound",
     kDio, kAnyChip, "the GPIO group has no data register the back-end can serve on this chip"},
    {"DIO_Port InBits %d is more than a line word carries, digital I/O not bound",
     kDio, kAnyChip, "\"InBits\" is more than the 16 lines of a line word"},
    {"DIO_Port OutBits %d is more than a line word carries, digital I/O not bound",
     kDio, kAnyChip, "\"OutBits\" is more than the 16 lines of a line word"},
    {"DIO_F81865 input line %d names GPIO group %d, digital I/O not bound",
     kDio, kAnyChip, "a line names a GPIO group the F81865 does not have"},
    {"DIO_F81865 output line %d names GPIO group %d, digital I/O not bound",
     kDio, kAnyChip, "a line names a GPIO group the F81865 does not have"},
    {"DIO_SCH3114 input line %d names GPIO group %d, digital I/O not bound",
     kDio, kAnyChip, "a line names a GPIO group the SCH3114 does not have"},
    {"DIO_SCH3114 output line %d names GPIO group %d, digital I/O not bound",
     kDio, kAnyChip, "a line names a GPIO group the SCH3114 does not have"},
};
// clang-format on

// True when `line` is what `format` prints: its text exactly, each field a
// run of digits (hex digits for %x fields), a sign allowed for %d.
bool printedBy(const char* format, const std::string& line) {
    size_t at = 0;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            if (at >= line.size() || line[at] != *f) return false;
            ++at;
            continue;
        }
        while (std::isdigit(static_cast<unsigned char>(f[1])) || f[1] == 'l') ++f;
        const bool isHex = *++f == 'x';
        if (!isHex && at < line.size() && line[at] == '-') ++at;
        const size_t start = at;
        while (at < line.size() && (isHex ? std::isxdigit(static_cast<unsigned char>(line[at]))
                                          : std::isdigit(static_cast<unsigned char>(line[at]))))
            ++at;
        if (at == start) return false;
    }
    return at == line.size();
}

// A value as the driver reads it: absent is empty; a value of another type
// than a four-byte REG_DWORD reads as 0.
std::optional<uint32_t> dword(ConfigSource& source, const char* key, const char* name) {
    const auto values = source.values(key);
    if (!values) return std::nullopt;
    for (const RegistryEntry& v : *values) {
        // Value names are not case-sensitive.
        if (v.name.size() != std::strlen(name) ||
            !std::equal(v.name.begin(), v.name.end(), name, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        if (v.type != 4 || v.data.size() != 4) return 0;
        return v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    }
    return std::nullopt;
}

// The chip code each function selects, as the load picks it.
uint32_t chipOf(ConfigSource& source, const std::string& function) {
    if (function == kHwm) return dword(source, "HWMON", "SuperIO").value_or(0);
    const char* key = function == kWdt ? "WDT" : "DIO";
    const uint32_t type = dword(source, key, "DeviceType").value_or(0);
    const bool superIo = function == kWdt ? type == 1 : type == 1 || type == 3;
    return superIo ? dword(source, key, "SuperIO").value_or(0) : kChipPorts;
}

// The load fails, and binds nothing, when a value it needs is absent and
// the digital I/O is not the port layout.
bool loadFails(ConfigSource& source) {
    if (dword(source, "DIO", "DeviceType").value_or(0) == 0) return false;
    return !dword(source, "HWMON", "SuperIO") || !dword(source, "WDT", "DeviceType") ||
           (dword(source, "WDT", "DeviceType") == 1u && !dword(source, "WDT", "SuperIO"));
}

struct ChipProbe {
    uint32_t chip;
    const char* function;  // null: every function
    const char* name;
    const char* pairs;
};
// Where each chip's probe looks; the first row that fits is taken.
const ChipProbe kProbes[] = {
    {kChipIt87, kHwm, "IT87xx", "0x2E/0x2F, the only pair its monitor is probed at"},
    {kChipIt87, nullptr, "IT87xx", "0x2E/0x2F or 0x4E/0x4F"},
    {1, nullptr, "W83627", "0x2E/0x2F or 0x4E/0x4F"},
    {2, nullptr, "W83627", "0x2E/0x2F or 0x4E/0x4F"},
    {4, nullptr, "F81216", "0x2E/0x2F or 0x4E/0x4F"},
    {kChipSch3114, nullptr, "SCH3114", "0x2E/0x2F or 0x4E/0x4F"},
};

}  // namespace

std::optional<uint32_t> configuredChip(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr || !ctx.config->values(function == kHwm   ? "HWMON"
                                                     : function == kWdt ? "WDT"
                                                                        : "DIO"))
        return std::nullopt;
    return chipOf(*ctx.config, function);
}

std::string unboundReason(Context& ctx, const std::string& function) {
    if (ctx.config == nullptr) return "unknown";
    ConfigSource& source = *ctx.config;
    if (loadFails(source))
        return "the configuration load failed on a missing value, so nothing is bound (zrvctl config "
               "names it)";
    const std::optional<std::vector<std::string>> printed =
        ctx.board != nullptr ? ctx.board->loadMessages() : std::nullopt;
    if (!printed) return "unknown: the driver's debugger output cannot be read here (see zrvctl config)";
    const uint32_t chip = chipOf(source, function);
    // The first row that fits any line: a refusal before what led to it.
    for (const Refusal& r : kRefusals)
        for (const std::string& line : *printed)
            if ((r.function != nullptr ? function == r.function : chip == r.chip) &&
                printedBy(r.format, line))
                return fmt::format("{} (the driver: \"{}\")", r.reason, line);
    if (function == kDio && (chip == 1 || chip == 2)) {
        const uint32_t group = dword(source, "DIO", "GPIOGroup").value_or(0);
        if (group == 0 || group > 6)
            return fmt::format("\"GPIOGroup\" {} is no group the W83627 back-end serves (1 to 6)", group);
    }
    for (const ChipProbe& p : kProbes)
        if (p.chip == chip && (p.function == nullptr || function == p.function))
            return fmt::format("not found: no {} answered its probe at {}", p.name, p.pairs);
    return "the back-end refused its configuration without a word (see zrvctl config)";
}

}  // namespace zrvctl
