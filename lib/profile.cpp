#include "lib/profile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

namespace zorvik {

namespace {

constexpr size_t kMaxProfileBytes = 1 << 20;

struct KindInfo {
    ChannelKind kind;
    const char* prefix;
    uint32_t first;  // number of the first channel: fan1, in0, temp1
    uint32_t count;  // channels of the record
};
const KindInfo kKinds[] = {
    {ChannelKind::Fan, "fan", 1, 5},
    {ChannelKind::Voltage, "in", 0, 10},
    {ChannelKind::Temperature, "temp", 1, 3},
};

const KindInfo* kindOf(const std::string& key, uint32_t* index) {
    for (const KindInfo& k : kKinds) {
        for (uint32_t i = 0; i < k.count; ++i) {
            if (key == fmt::format("{}{}", k.prefix, i + k.first)) {
                *index = i;
                return &k;
            }
        }
    }
    return nullptr;
}

Channel makeChannel(ChannelKind kind, uint32_t index, const std::string& key) {
    Channel c;
    c.kind = kind;
    c.index = index;
    c.key = key;
    c.label = key;
    return c;
}

// Scales, offsets and limits beyond this are no board's: refused, so that a
// reading times a scale always stays a finite number the display can round.
constexpr double kLargestSetting = 1e9;

double number(const nlohmann::json& v, const std::string& where) {
    if (!v.is_number()) throw ProfileError{fmt::format("{}: not a number", where)};
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::fabs(d) > kLargestSetting)
        throw ProfileError{fmt::format("{}: {} is out of range (at most {:g} either way)", where, v.dump(),
                                       kLargestSetting)};
    return d;
}

Channel parseChannel(const std::string& key, const nlohmann::json& j, const std::string& where) {
    uint32_t index = 0;
    const KindInfo* k = kindOf(key, &index);
    if (k == nullptr)
        throw ProfileError{fmt::format("{}: no channel '{}' (fan1-fan5, in0-in9, temp1-temp3)", where, key)};
    if (!j.is_object()) throw ProfileError{fmt::format("{}: not an object", where)};
    Channel c = makeChannel(k->kind, index, key);
    for (const auto& [field, v] : j.items()) {
        const std::string at = where + "." + field;
        if (field == "label") {
            if (!v.is_string() || v.get<std::string>().empty())
                throw ProfileError{fmt::format("{}: not a name", at)};
            c.label = v.get<std::string>();
        } else if (field == "min") {
            c.min = number(v, at);
        } else if (field == "max") {
            c.max = number(v, at);
        } else if ((field == "scale" || field == "offset") && k->kind != ChannelKind::Fan) {
            (field == "scale" ? c.scale : c.offset) = number(v, at);
        } else if (field == "signed" && k->kind == ChannelKind::Temperature) {
            if (!v.is_boolean()) throw ProfileError{fmt::format("{}: not true or false", at)};
            c.isSigned = v.get<bool>();
        } else {
            throw ProfileError{fmt::format("{}: unknown setting for a {} channel", at, k->prefix)};
        }
    }
    if (c.min && c.max && *c.min > *c.max) throw ProfileError{fmt::format("{}: min is above max", where)};
    return c;
}

// "0x0f" or 15: a byte.
uint8_t parseMask(const nlohmann::json& j, const std::string& where) {
    unsigned long v = 256;
    if (j.is_number_unsigned()) v = j.get<unsigned long>();
    if (j.is_string()) {
        const std::string t = j.get<std::string>();
        char* end = nullptr;
        v = std::strtoul(t.c_str(), &end, 0);
        if (t.empty() || *end != '\0' || t[0] == '-') v = 256;
    }
    if (v > 0xFF) throw ProfileError{fmt::format("{}: not a direction mask 0x00-0xff", where)};
    return static_cast<uint8_t>(v);
}

// Names in order; with `gaps`, null stands for a bit without a pin.
std::vector<std::string> parseLines(const nlohmann::json& j, const std::string& where, bool gaps) {
    if (!j.is_array() || j.size() > 16)
        throw ProfileError{fmt::format("{}: not a list of up to 16 names", where)};
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const auto& v : j) {
        if (gaps && v.is_null()) {
            names.emplace_back();
            continue;
        }
        const std::string name = v.is_string() ? v.get<std::string>() : "";
        // A name must not read as a line number, or "gpioget 3" would be
        // ambiguous.
        if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) ||
            name.find_first_of(" \t=") != std::string::npos)
            throw ProfileError{fmt::format("{}[{}]: not a line name", where, names.size())};
        if (!seen.insert(name).second)
            throw ProfileError{fmt::format("{}[{}]: '{}' named twice", where, names.size(), name)};
        names.push_back(name);
    }
    return names;
}

uint32_t rawOf(const HwmData& d, const Channel& c) {
    const uint32_t fans[] = {d.Fan1, d.Fan2, d.Fan3, d.Fan4, d.Fan5};
    const uint8_t temps[] = {d.Temp1, d.Temp2, d.Temp3};
    switch (c.kind) {
        case ChannelKind::Fan: return fans[c.index];
        case ChannelKind::Voltage: return d.Volt[c.index];
        case ChannelKind::Temperature: return temps[c.index];
    }
    return 0;
}

// Values are rounded as they are shown (volts to three places, rpm and
// degrees to one), so that the alarm and the reader agree on the number.
double rounded(const Channel& c, double v) {
    const double f = c.kind == ChannelKind::Voltage ? 1000 : 10;
    if (!std::isfinite(v) || std::fabs(v * f) >= 9e15) return v;  // beyond whole steps of a double
    return static_cast<double>(static_cast<int64_t>(v * f + (v < 0 ? -0.5 : 0.5))) / f;
}

// Cut where a character starts: the profile's text is UTF-8 (the JSON
// parser takes nothing else), and half a character would make every
// reader of the record, JSON and the scrape among them, refuse it.
void copyText(char* to, size_t size, const std::string& from) {
    size_t n = std::min(size - 1, from.size());
    if (n < from.size())
        while (n > 0 && (static_cast<unsigned char>(from[n]) & 0xC0) == 0x80) --n;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

}  // namespace

const Profile& Profile::raw() {
    static const Profile p = [] {
        Profile r;
        for (const KindInfo& k : kKinds)
            for (uint32_t i = 0; i < k.count; ++i)
                r.channels.push_back(makeChannel(k.kind, i, fmt::format("{}{}", k.prefix, i + k.first)));
        return r;
    }();
    return p;
}

Profile Profile::load(const std::string& file) {
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw ProfileError{fmt::format("{}: is a directory, not a profile", file)};
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ProfileError{fmt::format("{}: cannot open profile", file)};
    // A profile is a few kilobytes; more is not one (and a device file
    // would never end).
    std::string text(kMaxProfileBytes + 1, '\0');
    try {
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
    } catch (const std::exception&) {
        in.setstate(std::ios::badbit);  // the file buffer throws on a read error
    }
    if (in.bad()) throw ProfileError{fmt::format("{}: cannot read profile", file)};
    if (static_cast<size_t>(in.gcount()) > kMaxProfileBytes)
        throw ProfileError{fmt::format("{}: larger than {} bytes, not a profile", file, kMaxProfileBytes)};
    text.resize(static_cast<size_t>(in.gcount()));
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        throw ProfileError{fmt::format("{}: malformed JSON: {}", file, e.what())};
    }
    if (!j.is_object()) throw ProfileError{fmt::format("{}: not a JSON object", file)};
    Profile p;
    p.file = file;
    p.adapter = "";
    for (const auto& [key, v] : j.items()) {
        const std::string where = fmt::format("{}: {}", file, key);
        if (key == "chip" || key == "adapter") {
            if (!v.is_string()) throw ProfileError{fmt::format("{}: not a string", where)};
            (key == "chip" ? p.chip : p.adapter) = v.get<std::string>();
        } else if (key == "channels") {
            if (!v.is_object()) throw ProfileError{fmt::format("{}: not an object", where)};
            for (const auto& [name, c] : v.items())
                p.channels.push_back(parseChannel(name, c, where + "." + name));
        } else if (key == "lines") {
            if (!v.is_object()) throw ProfileError{fmt::format("{}: not an object", where)};
            for (const auto& [dir, names] : v.items()) {
                if (dir == "pins") {
                    p.pins = parseLines(names, where + ".pins", true);
                    // The direction mask is a byte: a pin above bit 7 is
                    // never an input or an output line.
                    for (size_t bit = kPinBits; bit < p.pins.size(); ++bit)
                        if (!p.pins[bit].empty())
                            throw ProfileError{
                                fmt::format("{}.pins[{}]: '{}' is beyond bit {} of the direction "
                                            "mask; pins are bits 0-{}",
                                            where, bit, p.pins[bit], kPinBits - 1, kPinBits - 1)};
                } else if (dir == "direction") {
                    p.direction = parseMask(names, where + ".direction");
                } else if (dir == "inputs" || dir == "outputs") {
                    (dir == "inputs" ? p.inputs : p.outputs) = parseLines(names, where + "." + dir, false);
                } else {
                    throw ProfileError{fmt::format("{}.{}: inputs, outputs, pins or direction", where, dir)};
                }
            }
            if (!p.pins.empty() && (!p.inputs.empty() || !p.outputs.empty()))
                throw ProfileError{fmt::format("{}: lines named by pin or by line, not both", where)};
            if (p.pins.empty() != !p.direction)
                throw ProfileError{fmt::format("{}: pins and direction go together", where)};
        } else {
            throw ProfileError{fmt::format("{}: unknown entry", where)};
        }
    }
    std::stable_sort(p.channels.begin(), p.channels.end(), [](const Channel& a, const Channel& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
    });
    return p;
}

std::vector<zrv_sensor> sensorsOf(const Profile& p, const HwmData& d) {
    static const int kKindCodes[] = {ZRV_SENSOR_FAN, ZRV_SENSOR_VOLTAGE, ZRV_SENSOR_TEMPERATURE};
    std::vector<zrv_sensor> out;
    for (const Channel& c : p.channels) {
        zrv_sensor s{};
        copyText(s.key, sizeof s.key, c.key);
        copyText(s.label, sizeof s.label, c.label);
        const bool raw = p.file.empty() && c.kind != ChannelKind::Fan;
        s.kind = raw ? ZRV_SENSOR_RAW : kKindCodes[static_cast<int>(c.kind)];
        s.index = c.index;
        s.raw = rawOf(d, c);
        const double r =
            c.isSigned ? static_cast<double>(static_cast<int8_t>(s.raw)) : static_cast<double>(s.raw);
        s.value = rounded(c, r * c.scale + c.offset);
        s.has_min = c.min.has_value();
        s.has_max = c.max.has_value();
        s.min = c.min.value_or(0);
        s.max = c.max.value_or(0);
        s.alarm = (c.min && s.value < *c.min) || (c.max && s.value > *c.max);
        out.push_back(s);
    }
    return out;
}

}  // namespace zorvik
