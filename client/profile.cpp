#include "client/profile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "client/session.h"

namespace zrvctl {

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
    if (!v.is_number()) throw ClientError{fmt::format("{}: not a number", where)};
    return v.get<double>();
}

Channel parseChannel(const std::string& key, const nlohmann::json& j, const std::string& where) {
    uint32_t index = 0;
    const KindInfo* k = kindOf(key, &index);
    if (k == nullptr)
        throw ClientError{fmt::format("{}: no channel '{}' (fan1-fan5, in0-in9, temp1-temp3)", where, key)};
    if (!j.is_object()) throw ClientError{fmt::format("{}: not an object", where)};
    Channel c = makeChannel(k->kind, index, key);
    for (const auto& [field, v] : j.items()) {
        const std::string at = where + "." + field;
        if (field == "label") {
            if (!v.is_string() || v.get<std::string>().empty())
                throw ClientError{fmt::format("{}: not a name", at)};
            c.label = v.get<std::string>();
        } else if (field == "min") {
            c.min = number(v, at);
        } else if (field == "max") {
            c.max = number(v, at);
        } else if ((field == "scale" || field == "offset") && k->kind != ChannelKind::Fan) {
            (field == "scale" ? c.scale : c.offset) = number(v, at);
        } else if (field == "signed" && k->kind == ChannelKind::Temperature) {
            if (!v.is_boolean()) throw ClientError{fmt::format("{}: not true or false", at)};
            c.isSigned = v.get<bool>();
        } else {
            throw ClientError{fmt::format("{}: unknown setting for a {} channel", at, k->prefix)};
        }
    }
    if (c.min && c.max && *c.min > *c.max) throw ClientError{fmt::format("{}: min is above max", where)};
    return c;
}

std::vector<std::string> parseLines(const nlohmann::json& j, const std::string& where) {
    if (!j.is_array() || j.size() > 16)
        throw ClientError{fmt::format("{}: not a list of up to 16 names", where)};
    std::vector<std::string> names;
    std::set<std::string> seen;
    for (const auto& v : j) {
        const std::string name = v.is_string() ? v.get<std::string>() : "";
        // A name must not read as a line number, or "gpioget 3" would be
        // ambiguous.
        if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) ||
            name.find_first_of(" \t=") != std::string::npos)
            throw ClientError{fmt::format("{}[{}]: not a line name", where, names.size())};
        if (!seen.insert(name).second)
            throw ClientError{fmt::format("{}[{}]: '{}' named twice", where, names.size(), name)};
        names.push_back(name);
    }
    return names;
}

}  // namespace

double Channel::value(uint32_t raw) const {
    const double r = isSigned ? static_cast<double>(static_cast<int8_t>(raw)) : static_cast<double>(raw);
    return r * scale + offset;
}

Profile Profile::raw() {
    Profile p;
    for (const KindInfo& k : kKinds)
        for (uint32_t i = 0; i < k.count; ++i) {
            const std::string key = fmt::format("{}{}", k.prefix, i + k.first);
            p.channels.push_back(makeChannel(k.kind, i, key));
        }
    return p;
}

Profile Profile::load(const std::string& file) {
    std::ifstream in(file);
    if (!in) throw ClientError{fmt::format("{}: cannot open profile", file)};
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(in);
    } catch (const nlohmann::json::parse_error& e) {
        throw ClientError{fmt::format("{}: malformed JSON: {}", file, e.what())};
    }
    if (!j.is_object()) throw ClientError{fmt::format("{}: not a JSON object", file)};
    Profile p;
    p.file = file;
    p.adapter = "";
    for (const auto& [key, v] : j.items()) {
        const std::string where = fmt::format("{}: {}", file, key);
        if (key == "chip" || key == "adapter") {
            if (!v.is_string()) throw ClientError{fmt::format("{}: not a string", where)};
            (key == "chip" ? p.chip : p.adapter) = v.get<std::string>();
        } else if (key == "channels") {
            if (!v.is_object()) throw ClientError{fmt::format("{}: not an object", where)};
            for (const auto& [name, c] : v.items())
                p.channels.push_back(parseChannel(name, c, where + "." + name));
        } else if (key == "lines") {
            if (!v.is_object()) throw ClientError{fmt::format("{}: not an object", where)};
            for (const auto& [dir, names] : v.items()) {
                if (dir != "inputs" && dir != "outputs")
                    throw ClientError{fmt::format("{}.{}: inputs or outputs", where, dir)};
                (dir == "inputs" ? p.inputs : p.outputs) = parseLines(names, where + "." + dir);
            }
        } else {
            throw ClientError{fmt::format("{}: unknown entry", where)};
        }
    }
    std::stable_sort(p.channels.begin(), p.channels.end(), [](const Channel& a, const Channel& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
    });
    return p;
}

std::optional<uint32_t> Profile::line(const std::vector<std::string>& names, const std::string& text) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == text) return static_cast<uint32_t>(i);
    if (text.empty() || text.size() > 2 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char ch) { return std::isdigit(ch); }))
        return std::nullopt;
    return static_cast<uint32_t>(std::stoul(text));
}

std::string profileBeside(const std::string& file) {
    const size_t slash = file.find_last_of("/\\");
    const size_t dot = file.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExt ? file.substr(0, dot) : file) + ".profile.json";
}

Profile chooseProfile(const std::string& named, const std::string& beside) {
    if (!named.empty()) return Profile::load(named);
    if (!beside.empty() && std::ifstream(beside)) return Profile::load(beside);
    return Profile::raw();
}

}  // namespace zrvctl
