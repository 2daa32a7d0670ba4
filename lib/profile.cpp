#include "lib/profile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

namespace zorvik {

namespace {

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

double number(const nlohmann::json& v, const std::string& where) {
    if (!v.is_number()) throw ProfileError{fmt::format("{}: not a number", where)};
    return v.get<double>();
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

std::vector<std::string> parseLines(const nlohmann::json& j, const std::string& where) {
    if (!j.is_array() || j.size() > 16)
        throw ProfileError{fmt::format("{}: not a list of up to 16 names", where)};
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const auto& v : j) {
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
    return static_cast<double>(static_cast<int64_t>(v * f + (v < 0 ? -0.5 : 0.5))) / f;
}

void copyText(char* to, size_t size, const std::string& from) {
    const size_t n = std::min(size - 1, from.size());
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
    std::ifstream in(file);
    if (!in) throw ProfileError{fmt::format("{}: cannot open profile", file)};
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(in);
    } catch (const nlohmann::json::parse_error& e) {
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
                if (dir != "inputs" && dir != "outputs")
                    throw ProfileError{fmt::format("{}.{}: inputs or outputs", where, dir)};
                (dir == "inputs" ? p.inputs : p.outputs) = parseLines(names, where + "." + dir);
            }
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
