// zrvctl config: the board's configuration as the driver will read it at
// its next load, from the three keys under its registry root (the board's
// .reg file on the virtual board, the registry on Windows): the back-end
// each function selects and whether the load will bind it, the ports and
// masks, and every problem the driver would not report itself: a value of
// another type than REG_DWORD (read as 0), a name the driver does not read
// (likely a typo), a port of 0 where a port is used, a line count above 16,
// a group number the back-end refuses. The names, chip codes, layouts and
// GPIO groups come from zorvik/registry.h, the rows the driver is built
// against; a chip back-end binds only where its chip answers, which the
// registry cannot say, so config names the configuration pair or chip ID a
// binding depends on.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "client/commands.h"
#include "common/nearest.h"
#include "driver/core/chips.h"
#include "driver/core/config_model.h"
#include "zorvik/registry.h"

namespace zrvctl {

namespace {

enum Function { kHwm = 0, kWdt = 1, kDio = 2 };

const ChipRow* chipByCode(uint32_t code) { return ChipRowOf(code); }

// Value names the driver reads, by key. The per-line names ("InAddr0") are
// matched by their stems.
struct KnownValue {
    const char* key;
    const char* name;
};
#define ZRV_KNOWN_VALUE(key, name) {key, name},
const KnownValue kKnownValues[] = {ZRV_REG_VALUES(ZRV_KNOWN_VALUE)};
#undef ZRV_KNOWN_VALUE
#define ZRV_LINE_STEM(name) name,
const char* const kLineStems[] = {ZRV_REG_LINE_STEMS(ZRV_LINE_STEM)};
#undef ZRV_LINE_STEM

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

std::string typeName(uint32_t type) {
    static const std::map<uint32_t, const char*> kTypes = {
        {0, "REG_NONE"},  {1, "REG_SZ"},       {2, "REG_EXPAND_SZ"}, {3, "REG_BINARY"},
        {4, "REG_DWORD"}, {7, "REG_MULTI_SZ"}, {11, "REG_QWORD"},    {5, "REG_DWORD_BIG_ENDIAN"}};
    auto it = kTypes.find(type);
    return it != kTypes.end() ? it->second : fmt::format("type {}", type);
}

}  // namespace

// A value as the driver's readers take it.
uint32_t valueDword(const RegistryEntry& v) {
    return DwordOfValue(v.type, v.data.data(),
                        static_cast<uint32_t>(std::min<size_t>(v.data.size(), 0xFFFFFFFFu)));
}
bool fits(const RegistryEntry& v) {
    return v.name.size() <= 0xFFFF && v.data.size() <= 0xFFFF &&
           ValueInfoFits(static_cast<uint32_t>(v.name.size()), static_cast<uint32_t>(v.data.size()));
}

namespace {

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
    // Whether the configuration reader finds the value: present, and its
    // full information fits the reader's buffer.
    bool readable(const std::string& value) const {
        auto it = values_.find(lower(value));
        return it != values_.end() && fits(it->second);
    }
    uint32_t dword(const std::string& value) const {
        auto it = values_.find(lower(value));
        return it == values_.end() ? 0 : valueDword(it->second);
    }
    // As the configuration reader: 0 when it does not find the value.
    uint32_t read(const std::string& value) const { return readable(value) ? dword(value) : 0; }
    const std::string& name() const { return name_; }
    const std::map<std::string, RegistryEntry>& values() const { return values_; }

private:
    std::string name_;
    bool present_ = false;
    std::map<std::string, RegistryEntry> values_;
};

std::string narrow(const ZrvWChar* w) {
    std::string s;
    for (; *w != 0; ++w) s += static_cast<char>(*w < 0x80 ? *w : '?');
    return s;
}

// A port back-end's values as its own query reads them (absent: 0).
template <typename Values, size_t N>
Values portValues(const Key& k, void (*entriesOf)(Values&, PlatRegDwordEntry (&)[N])) {
    Values v{};
    PlatRegDwordEntry entries[N];
    entriesOf(v, entries);
    for (const PlatRegDwordEntry& e : entries) *e.Target = k.dword(narrow(e.Name));
    return v;
}

// The driver's configuration load run over the board's registry: the same
// reads in the same order, each value as the configuration reader finds it.
class ModelRun {
public:
    ModelRun(const Key& hwm, const Key& wdt, const Key& dio) : keys_{&hwm, &wdt, &dio} {
        const ConfigReader reader = {this, read, alloc, release};
        loads_ = LoadConfigFrom(reader, config_);
    }
    ~ModelRun() {
        const ConfigReader reader = {this, read, alloc, release};
        FreeLineMapOf(reader, config_);
    }
    ModelRun(const ModelRun&) = delete;
    ModelRun& operator=(const ModelRun&) = delete;

    bool loads() const { return loads_; }
    const BoardConfigRecord& config() const { return config_; }

private:
    static ZrvStatus read(void* self, const ZrvWChar* subkey, const ZrvWChar* name, uint32_t* value) {
        const std::string key = narrow(subkey);
        for (const Key* k : static_cast<ModelRun*>(self)->keys_) {
            if (k->name() != key) continue;
            if (!k->present()) return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
            const std::string n = narrow(name);
            if (!k->has(n)) return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
            if (!k->readable(n)) return ZRV_STATUS_BUFFER_OVERFLOW;
            *value = k->dword(n);
            return ZRV_STATUS_SUCCESS;
        }
        return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    }
    static void* alloc(void*, uint32_t bytes) { return std::malloc(bytes); }
    static void release(void*, void* block) { std::free(block); }

    const Key* keys_[3];
    BoardConfigRecord config_{};
    bool loads_ = false;
};

// What the driver's load will do with one function: bind a back-end or not.
// A chip back-end binds only when its chip answers; `onlyPair` and `onlyId`
// narrow that to a configuration pair and a chip ID.
struct Binding {
    std::string name;
    std::string text;
    bool bound = false;
    uint32_t onlyPair = 0;  // ZRV_PAIR_2E when the chip is looked for there only
    uint32_t onlyId = 0;    // the chip ID the configuration needs; 0 any
    uint32_t chip = 0;      // chip code of the bound back-end
};

struct Report {
    std::vector<Binding> functions;
    std::vector<std::string> problems;
    void problem(std::string text) { problems.push_back(std::move(text)); }
};

void checkNames(const Key& k, Report& r) {
    if (!k.present()) return;
    std::vector<std::string> known;
    for (const KnownValue& v : kKnownValues)
        if (k.name() == v.key) known.push_back(v.name);
    for (const auto& [_, v] : k.values()) {
        if (v.type != ZRV_REG_TYPE_DWORD)
            r.problem(fmt::format("{} \"{}\" is {}, not REG_DWORD: the driver reads it as 0", k.name(),
                                  v.name, typeName(v.type)));
        else if (v.data.size() != ZRV_REG_DWORD_BYTES)
            r.problem(fmt::format("{} \"{}\" is a REG_DWORD of {} bytes, not 4: the driver reads it as 0",
                                  k.name(), v.name, v.data.size()));
        const bool isKnown = std::any_of(known.begin(), known.end(),
                                         [&](const std::string& n) { return lower(n) == lower(v.name); }) ||
                             (k.name() == ZRV_REG_KEY_DIO && isLineName(v.name));
        if (isKnown) continue;
        const std::string nearest = zorvik::nearestName(v.name, known);
        const std::string hint = nearest.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", nearest);
        r.problem(fmt::format("{} \"{}\" is not a value the driver reads{}", k.name(), v.name, hint));
    }
}

Binding nothing(const char* name, std::string why) { return {name, "nothing: " + std::move(why)}; }

// A chip code that names no chip binds nothing. A .reg file writes the code
// in hex, so a code whose hex spelling is one edit from a known code's
// (0x63 for 6) most likely meant that one; the known codes are listed too.
void checkChipCode(const char* key, uint32_t code, Report& r) {
    if (chipByCode(code) != nullptr) return;
    std::vector<std::string> spelled, listed;
    for (const ChipRow& c : kChipRows) {
        spelled.push_back(fmt::format("{:x}", c.Code));
        listed.push_back(fmt::format("{} {}", c.Code, c.Name));
    }
    const std::string word = fmt::format("{:x}", code);
    const std::string nearest = zorvik::nearestName(word, spelled);
    std::string hint;
    if (!nearest.empty() && zorvik::editDistance(word, nearest) <= 1) {
        const ChipRow* meant = chipByCode(static_cast<uint32_t>(std::strtoul(nearest.c_str(), nullptr, 16)));
        hint = fmt::format(" (did you mean {}, the {}?)", meant->Code, meant->Name);
    }
    r.problem(
        fmt::format("{} \"{}\" {} (dword:{:08x}) names no chip{}, so that function is not bound; "
                    "the chip codes are {}",
                    key, ZRV_REG_SUPERIO, code, code, hint, fmt::join(listed, ", ")));
}

// The back-end a chip code selects for a function, before any group checks.
Binding chipBinding(const char* name, uint32_t code, Function f) {
    const ChipRow* c = chipByCode(code);
    if (c == nullptr) return nothing(name, fmt::format("chip code {} names no chip", code));
    if (c->Pairs[f] == 0)
        return nothing(name, fmt::format("the {} (chip code {}) has no back-end for it", c->Name, code));
    Binding b{name, fmt::format("{} (chip code {})", c->Name, code), true, 0, 0, code};
    if (c->Pairs[f] == ZRV_PAIR_2E) {
        b.text += ", looked for at 0x2E/0x2F only: a chip at 0x4E/0x4F is not found";
        b.onlyPair = ZRV_PAIR_2E;
    }
    return b;
}

// A port action of the port watchdog: 0 nothing, bit 15 a write, else a read.
std::string portAction(uint32_t v, const char* what, Report& r) {
    const uint32_t a = v & 0xFFFF;
    if (a == 0) return "nothing";
    if ((a & ZRV_PORT_ACTION_WRITE) != 0) {
        if ((a & ZRV_PORT_ACTION_PORT_MASK) == 0)
            r.problem(fmt::format("WDT \"{}\" 0x{:x} writes to port 0", what, v));
        return fmt::format("write 0x{:x}", a & ZRV_PORT_ACTION_PORT_MASK);
    }
    return fmt::format("read 0x{:x}", a);
}

// A port back-end that would reach one of the PC's own ports is not bound:
// the driver refuses it at load, as here, before it touches any port.
void checkPcPorts(const char* key, const PortReachList& reach, Binding& b, Report& r) {
    const PortReach* pc = FirstPcPortReached(reach);
    if (pc == nullptr || !b.bound) return;
    b.bound = false;
    b.text = "nothing: " + b.text;
    r.problem(
        fmt::format("{} \"{}\" reaches port 0x{:x}, one of the PC's own (below 0x100, or PCI "
                    "configuration 0xCF8-0xCFF): the driver refuses the {}",
                    key, pc->Value, pc->Port, b.name));
}

Binding describeWdt(const Key& wdt, const BoardConfigRecord& c, Report& r) {
    // Chip code 16 under a chip watchdog is the port watchdog too, with its own values.
    if (c.WdtDeviceType == ZRV_WDT_TYPE_CHIP && c.WdtChip != ZRV_CHIP_PORTS)
        return chipBinding("watchdog", c.WdtChip, kWdt);
    const uint32_t startValue = wdt.dword(ZRV_REG_START), resetValue = wdt.dword(ZRV_REG_RESET);
    const std::string start = portAction(startValue, ZRV_REG_START, r);
    const std::string stop = portAction(wdt.dword(ZRV_REG_STOP), ZRV_REG_STOP, r);
    const std::string reset =
        resetValue & 0xFFFF ? portAction(resetValue, ZRV_REG_RESET, r) : "the start action";
    const uint32_t timeout = wdt.dword(ZRV_REG_TIMEOUT) & 0xFFFF;
    // The port watchdog binds without a start action, and refuses Start and a
    // Reset without its own action.
    if (PortActionPort(static_cast<uint16_t>(startValue)) == 0)
        r.problem(
            "WDT \"Start\" is absent or names no port: the watchdog cannot be started (start is refused, and "
            "so is a keepalive without a \"Reset\" action of its own)");
    Binding b{"watchdog",
              fmt::format("port watchdog: start {}, stop {}, restart {}{}, timeout port {}", start, stop,
                          reset, wdt.dword(ZRV_REG_STOP_BEFORE_RESET) & 0xFFFF ? " after a stop" : "",
                          timeout ? fmt::format("0x{:x}", timeout) : "none"),
              true,
              0,
              0,
              ZRV_CHIP_PORTS};
    PortReachList reach;
    PortWdtReach(portValues(wdt, PortWdtEntries), reach);
    checkPcPorts(ZRV_REG_KEY_WDT, reach, b, r);
    return b;
}

// Whether a chip's digital I/O serves a GPIO group: always, only on the
// row's chip ID, or not at all.
enum class Served { kAlways, kOnId, kNo };
Served groupServed(const ChipRow& c, uint32_t group) {
    if (group >= 8 * sizeof(unsigned long)) return Served::kNo;
    if (c.Groups >> group & 1ul) return Served::kAlways;
    if (c.ExtraGroups >> group & 1ul) return Served::kOnId;
    return Served::kNo;
}

std::string groupList(const ChipRow& c) {
    std::vector<uint32_t> all, extra;
    for (uint32_t g = 0; g < 8 * sizeof(unsigned long); ++g) {
        if (c.Groups >> g & 1ul) all.push_back(g);
        if (c.ExtraGroups >> g & 1ul) extra.push_back(g);
    }
    std::string s = fmt::format("{}", fmt::join(all, ", "));
    if (!extra.empty())
        s += fmt::format(", and {} on chip ID 0x{:x} only", fmt::join(extra, ", "), c.ExtraId);
    return s;
}

// Applies one group number to the binding: refused, or served on one chip
// ID only.
void checkGroup(const ChipRow& c, const std::string& what, uint32_t group, Binding& b, Report& r) {
    if (!b.bound) return;
    switch (groupServed(c, group)) {
        case Served::kAlways: return;
        case Served::kOnId:
            // Not a problem: the board's chip may well be that one.
            b.onlyId = c.ExtraId;
            b.text += fmt::format(" (group {} on chip ID 0x{:x} only)", group, c.ExtraId);
            return;
        case Served::kNo:
            b.bound = false;
            b.text = fmt::format("nothing: {}", b.text);
            const unsigned long all = c.Groups | c.ExtraGroups;
            const uint32_t low = static_cast<uint32_t>(std::countr_zero(all));
            const uint32_t high = static_cast<uint32_t>(8 * sizeof(unsigned long)) - 1 -
                                  static_cast<uint32_t>(std::countl_zero(all));
            if (group < low || group > high)
                r.problem(fmt::format("DIO {} is group {}: the {} has groups {} to {}", what, group, c.Name,
                                      low, high));
            else
                r.problem(
                    fmt::format("DIO {} is group {}: the {} digital I/O has no data register for it "
                                "(it serves groups {})",
                                what, group, c.Name, groupList(c)));
            return;
    }
}

// The per-line map as the load read it: the lines in order, inputs first;
// at the first value it did not find the map stopped and every later entry
// stayed group 0, mask 0.
std::string describeLines(const Key& dio, const BoardConfigRecord& c, const ChipRow* chip, Binding& b,
                          Report& r) {
    // Without both counts the driver keeps no lines at all.
    if (!dio.readable(ZRV_REG_IN_BITS) || !dio.readable(ZRV_REG_OUT_BITS))
        r.problem("DIO \"InBits\" or \"OutBits\" is absent: the line layout has no lines");
    for (const char* name : {ZRV_REG_IN_BITS, ZRV_REG_OUT_BITS}) {
        const uint32_t n = LineCountOf(dio.read(name));
        if (n != LineMapCount(n))
            r.problem(fmt::format("DIO \"{}\" {} is above {}: the driver keeps {} lines", name, n,
                                  ZRV_MAX_LINES, LineMapCount(n)));
    }
    const uint32_t in = c.InAddr != nullptr ? c.InBits : 0, out = c.OutAddr != nullptr ? c.OutBits : 0;
    std::string text = fmt::format(", line layout: {} inputs, {} outputs", in, out);
    uint32_t line = 0;  // inputs first
    const auto side = [&](const char* addrStem, const char* maskStem, uint32_t n, const uint16_t* groups,
                          const uint8_t* masks) {
        std::vector<std::string> parts;
        for (uint32_t i = 0; i < n; ++i, ++line) {
            const std::string a = fmt::format("{}{}", addrStem, i), m = fmt::format("{}{}", maskStem, i);
            if (line == c.LinesRead)
                r.problem(fmt::format("DIO \"{}\" or \"{}\" is absent: the map stops there", a, m));
            if (chip != nullptr) checkGroup(*chip, "\"" + a + "\"", groups[i], b, r);
            parts.push_back(fmt::format("{}:0x{:02x}", groups[i], masks[i]));
        }
        return fmt::format("{}", fmt::join(parts, " "));
    };
    if (in != 0)
        text += fmt::format("; inputs (group:mask) {}",
                            side(ZRV_REG_IN_ADDR, ZRV_REG_IN_MASK, in, c.InAddr, c.InMask));
    if (out != 0)
        text += fmt::format("; outputs (group:mask) {}",
                            side(ZRV_REG_OUT_ADDR, ZRV_REG_OUT_MASK, out, c.OutAddr, c.OutMask));
    return text;
}

Binding describePortDio(const Key& dio, Report& r) {
    std::string text;
    bool bound = true;
    if (dio.dword(ZRV_REG_USE_SPECIFIC_SETTING) != 0) {
        const uint32_t data = dio.dword(ZRV_REG_SPECIFIC_DATA_IO) & 0xFFFF,
                       dir = dio.dword(ZRV_REG_SPECIFIC_MASK_IO) & 0xFFFF;
        text = fmt::format("port digital I/O, data port 0x{:x} split by the direction register 0x{:x}", data,
                           dir);
        if (data == 0) r.problem("DIO \"SpecificDataIo\" is port 0");
        if (dir == 0) r.problem("DIO \"SpecificMaskIo\" is port 0");
    } else {
        const auto side = [&](const char* dir, const char* base, const char* mask, const char* base2,
                              const char* mask2, const char* bits) {
            const uint32_t p = dio.dword(base) & 0xFFFF, m = dio.dword(mask) & 0xFF;
            const uint32_t p2 = dio.dword(base2) & 0xFFFF, m2 = dio.dword(mask2) & 0xFF;
            const uint8_t n = LineCountOf(dio.dword(bits));
            if (!LineCountServed(n)) {
                // The port digital I/O refuses the whole layout.
                r.problem(fmt::format("DIO \"{}\" {} is above {}: a line word has {} lines", bits, n,
                                      ZRV_MAX_LINES, ZRV_MAX_LINES));
                bound = false;
            }
            if (n != 0 && p == 0)
                r.problem(fmt::format("DIO \"{}\" is port 0 but \"{}\" is {}", base, bits, n));
            std::string s = fmt::format("{} {} lines", n, dir);
            if (p != 0) s += fmt::format(" on 0x{:x} mask 0x{:02x}", p, m);
            if (p2 != 0) s += fmt::format(" and 0x{:x} mask 0x{:02x}", p2, m2);
            return s;
        };
        text = fmt::format("port digital I/O, plain layout: {}; {}",
                           side("input", ZRV_REG_IO_BASE_IN, ZRV_REG_IN_MASK, ZRV_REG_IO_BASE_IN2,
                                ZRV_REG_IN_MASK2, ZRV_REG_IN_BITS),
                           side("output", ZRV_REG_IO_BASE_OUT, ZRV_REG_OUT_MASK, ZRV_REG_IO_BASE_OUT2,
                                ZRV_REG_OUT_MASK2, ZRV_REG_OUT_BITS));
    }
    const uint32_t cd = dio.dword(ZRV_REG_CD_PORT) & 0xFFFF, cdOut = dio.dword(ZRV_REG_CD_OUT_PORT) & 0xFFFF;
    const uint32_t cdIn = dio.dword(ZRV_REG_CD_IN_MASK) & 0xFF,
                   cdOutMask = dio.dword(ZRV_REG_CD_OUT_MASK) & 0xFF;
    if (cd != 0 || cdOut != 0)
        text += fmt::format("; CD port 0x{:x} inputs 0x{:02x}, outputs 0x{:02x} on 0x{:x}{}", cd, cdIn,
                            cdOutMask, cdOut ? cdOut : cd,
                            dio.dword(ZRV_REG_CD_IS_OUT_INVERT) & 0xFF ? " (active low)" : "");
    if (cd == 0 && cdIn != 0) r.problem("DIO \"CDPort\" is port 0 but \"CDInMask\" names lines");
    if (cd == 0 && cdOut == 0 && cdOutMask != 0)
        r.problem("DIO \"CDPort\" is port 0 but \"CDOutMask\" names lines");
    if (!bound) text = "nothing: the port digital I/O refuses a line count above 16; " + text;
    Binding b{"digital I/O", text, bound, 0, 0, ZRV_CHIP_PORTS};
    PortReachList reach;
    PortDioReach(portValues(dio, PortDioEntries), reach);
    checkPcPorts(ZRV_REG_KEY_DIO, reach, b, r);
    return b;
}

Binding describeDio(const Key& dio, const BoardConfigRecord& c, Report& r) {
    const uint32_t type = c.DioDeviceType;
    if (type != ZRV_DIO_TYPE_GROUPS && type != ZRV_DIO_TYPE_LINES) {
        if (type == ZRV_DIO_TYPE_PORTS_MAP) {
            r.problem("DIO \"DeviceType\" 4 loads the per-line map, which the port digital I/O does not use");
        } else if (type != ZRV_DIO_TYPE_PORTS) {
            r.problem(fmt::format(
                "DIO \"DeviceType\" {} is not a layout (0, 1, 3 or 4): the port digital I/O it is", type));
        }
        return describePortDio(dio, r);
    }
    const uint32_t code = c.DioChip;
    if (code == ZRV_CHIP_PORTS) {
        // The port back-ends read their own values, whatever the layout.
        r.problem(
            fmt::format("DIO \"DeviceType\" {} with \"SuperIO\" {} is the port digital I/O: its {} "
                        "values are not used",
                        type, code, type == ZRV_DIO_TYPE_GROUPS ? "group" : "per-line map"));
        return describePortDio(dio, r);
    }
    Binding b = chipBinding("digital I/O", code, kDio);
    const ChipRow* chip = chipByCode(code);
    if (!b.bound) return b;
    if ((chip->Layouts & ZRV_DIO_LAYOUT_BIT(type)) == 0) {
        r.problem(fmt::format("the {} digital I/O does not take DIO \"DeviceType\" {}; it is not bound",
                              chip->Name, type));
        return nothing("digital I/O", fmt::format("the {} digital I/O does not take DIO \"DeviceType\" {}",
                                                  chip->Name, type));
    }
    if (code == ZRV_CHIP_W83627 || code == ZRV_CHIP_W83627_ALT) {
        // The W83627 GPIO reads "GPIOGroup" itself, as a full number, in
        // either layout.
        if (!dio.readable(ZRV_REG_GPIO_GROUP)) {
            r.problem("DIO \"GPIOGroup\" is absent: the W83627 digital I/O is not bound");
            return nothing("digital I/O", "the W83627 digital I/O has no \"GPIOGroup\"");
        }
        const uint32_t group = dio.dword(ZRV_REG_GPIO_GROUP);
        b.text += fmt::format(", GPIO group {} (directions as the firmware set them)", group);
        checkGroup(*chip, "\"GPIOGroup\"", group, b, r);
        return b;
    }
    if (type == ZRV_DIO_TYPE_GROUPS) {
        const uint32_t in = c.GPIOGroup, out = c.GPIOOutGroup;
        b.text += fmt::format(", group layout: inputs group {}, outputs group {}", in, out);
        checkGroup(*chip, "\"GPIOGroup\"", in, b, r);
        checkGroup(*chip, "\"GPIOOutGroup\"", out, b, r);
        return b;
    }
    b.text += describeLines(dio, c, chip, b, r);
    return b;
}

// The needed values the load missed, by name.
std::vector<std::string> missingNames(const ModelRun& run) {
    const struct {
        uint8_t bit;
        const char* name;
    } kNeeded[] = {
        {kMissingHwmChip, "HWMON \"SuperIO\""},
        {kMissingWdtType, "WDT \"DeviceType\""},
        {kMissingWdtChip, "WDT \"SuperIO\""},
        {kMissingDioType, "DIO \"DeviceType\""},
    };
    std::vector<std::string> names;
    for (const auto& n : kNeeded)
        if ((run.config().Missing & n.bit) != 0) names.push_back(n.name);
    return names;
}

Report examine(ConfigSource& source) {
    const Key hwm(ZRV_REG_KEY_HWMON, source.values(ZRV_REG_KEY_HWMON)),
        wdt(ZRV_REG_KEY_WDT, source.values(ZRV_REG_KEY_WDT)),
        dio(ZRV_REG_KEY_DIO, source.values(ZRV_REG_KEY_DIO));
    Report r;
    for (const Key* k : {&hwm, &wdt, &dio}) {
        if (!k->present()) r.problem(fmt::format("the key {} is absent", k->name()));
        checkNames(*k, r);
    }
    const ModelRun run(hwm, wdt, dio);
    const uint32_t dioType = run.config().DioDeviceType;
    if (!run.loads()) {
        const std::vector<std::string> missing = missingNames(run);
        r.problem(fmt::format("{} absent: with DIO \"DeviceType\" {} the load fails and no function is bound",
                              fmt::join(missing, ", "), dioType));
        for (const char* name : {"hardware monitor", "watchdog", "digital I/O"})
            r.functions.push_back(nothing(name, "the configuration load fails"));
        return r;
    }
    const BoardConfigRecord& c = run.config();
    checkChipCode(ZRV_REG_KEY_HWMON, c.HwmChip, r);
    if (c.WdtDeviceType == ZRV_WDT_TYPE_CHIP) checkChipCode(ZRV_REG_KEY_WDT, c.WdtChip, r);
    if (dioType == ZRV_DIO_TYPE_GROUPS || dioType == ZRV_DIO_TYPE_LINES)
        checkChipCode(ZRV_REG_KEY_DIO, c.DioChip, r);
    r.functions.push_back(chipBinding("hardware monitor", c.HwmChip, kHwm));
    r.functions.push_back(describeWdt(wdt, c, r));
    r.functions.push_back(describeDio(dio, c, r));
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
            for (const Binding& f : r.functions) {
                text += fmt::format("\n{:<17} {}", f.name + ":", f.text);
                j["functions"][f.name] = f.text;
                nlohmann::json& b = j["binds"][f.name];
                b["bound"] = f.bound;
                if (f.bound) b["chip"] = f.chip;
                if (f.onlyPair == ZRV_PAIR_2E) b["only_at"] = "0x2e";
                if (f.onlyId != 0) b["only_id"] = fmt::format("0x{:x}", f.onlyId);
            }
            if (r.problems.empty()) text += "\nno problems found";
            for (const std::string& p : r.problems) text += "\nproblem: " + p;
            answer(ctx, text, j);
            if (!r.problems.empty()) ctx.worst(kExitRefused);
        };
    };
}

}  // namespace

// A function is configured when its values name a back-end the driver has,
// whether or not the load then binds it (a failed load, a refused group or
// layout): those are the cases status must explain.
std::vector<std::string> configuredFunctions(ConfigSource& source) {
    const Key hwm(ZRV_REG_KEY_HWMON, source.values(ZRV_REG_KEY_HWMON)),
        wdt(ZRV_REG_KEY_WDT, source.values(ZRV_REG_KEY_WDT)),
        dio(ZRV_REG_KEY_DIO, source.values(ZRV_REG_KEY_DIO));
    const ModelRun run(hwm, wdt, dio);
    const BoardConfigRecord& c = run.config();
    const Binding named[] = {
        chipBinding("hardware monitor", c.HwmChip, kHwm),
        c.WdtDeviceType == ZRV_WDT_TYPE_CHIP ? chipBinding("watchdog", c.WdtChip, kWdt)
                                             : Binding{"watchdog", "port watchdog", true},
        c.DioChip != ZRV_CHIP_PORTS ? chipBinding("digital I/O", c.DioChip, kDio)
                                    : Binding{"digital I/O", "port digital I/O", true},
    };
    std::vector<std::string> names;
    for (const Binding& f : named)
        if (f.bound) names.push_back(f.name);
    return names;
}

ConfigOutcome configOutcome(ConfigSource& source) {
    const Key hwm(ZRV_REG_KEY_HWMON, source.values(ZRV_REG_KEY_HWMON)),
        wdt(ZRV_REG_KEY_WDT, source.values(ZRV_REG_KEY_WDT)),
        dio(ZRV_REG_KEY_DIO, source.values(ZRV_REG_KEY_DIO));
    const ModelRun run(hwm, wdt, dio);
    const BoardConfigRecord& c = run.config();
    return {!run.loads(), {c.HwmChip, c.WdtChip, c.DioChip}};
}

void addConfigCommands(CommandTable& table) {
    table.push_back(
        {"config", "the configuration the driver will read, and every problem in it", defineConfig});
}

}  // namespace zrvctl
