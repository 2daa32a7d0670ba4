#include "sim/registry.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sim {

std::string readBoardFile(const std::string& file, const std::string& what) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (error || !std::filesystem::exists(status))
        throw BoardError(fmt::format("{}: cannot open {}", file, what));
    // A device or a pipe could be read without end.
    if (!std::filesystem::is_regular_file(status))
        throw BoardError(fmt::format("{}: not a regular file (a {} is expected)", file, what));
    const auto size = std::filesystem::file_size(file, error);
    if (!error && size > kMaxBoardFileBytes)
        throw BoardError(
            fmt::format("{}: larger than {} bytes, too large for a {}", file, kMaxBoardFileBytes, what));
    std::ifstream in(file, std::ios::binary);
    if (error || !in) throw BoardError(fmt::format("{}: cannot open {}", file, what));
    std::string text(static_cast<size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

namespace {

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == lower(prefix);
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// UTF-16LE (after its byte-order mark) to UTF-8.
std::string fromUtf16(const std::string& bytes) {
    std::string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        uint32_t c = static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            uint32_t lo = static_cast<uint8_t>(bytes[i + 2]) | static_cast<uint8_t>(bytes[i + 3]) << 8;
            c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// UTF-8 text to UTF-16LE bytes with a terminator, as REG_SZ data is stored.
std::vector<uint8_t> utf16z(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size();) {
        uint32_t c = static_cast<uint8_t>(text[i]);
        int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        if (extra > 0) c &= 0x3F >> extra;
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            c = c << 6 | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        i += 1 + extra;
        auto put = [&](uint32_t u) {
            out.push_back(static_cast<uint8_t>(u));
            out.push_back(static_cast<uint8_t>(u >> 8));
        };
        if (c >= 0x10000) {
            c -= 0x10000;
            put(0xD800 + (c >> 10));
            put(0xDC00 + (c & 0x3FF));
        } else {
            put(c);
        }
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

// A quoted string starting at s[pos] == '"'; returns the text and moves pos
// past the closing quote.
std::optional<std::string> quoted(const std::string& s, size_t& pos) {
    std::string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
        } else if (s[i] == '"') {
            pos = i + 1;
            return out;
        } else {
            out += s[i];
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> hexBytes(const std::string& list, const std::string& where) {
    std::vector<uint8_t> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        item = trim(item);
        if (item.empty()) continue;
        if (item.size() > 2 || !std::all_of(item.begin(), item.end(), ::isxdigit))
            throw BoardError(fmt::format("{}: bad hex byte '{}'", where, item));
        out.push_back(static_cast<uint8_t>(std::stoul(item, nullptr, 16)));
    }
    return out;
}

}  // namespace

std::string Registry::normalise(const std::string& path) {
    std::string p = trim(path);
    if (startsWithNoCase(p, "HKEY_LOCAL_MACHINE"))
        p = "\\Registry\\Machine" + p.substr(18);
    else if (startsWithNoCase(p, "HKLM"))
        p = "\\Registry\\Machine" + p.substr(4);
    while (p.size() > 1 && p.back() == '\\') p.pop_back();
    return p;
}

void Registry::createKey(const std::string& path) {
    std::string p = normalise(path);
    auto [it, inserted] = keys_.try_emplace(lower(p));
    if (inserted) it->second.path = p;
}

void Registry::deleteKey(const std::string& path) {
    std::string k = lower(normalise(path));
    for (auto it = keys_.begin(); it != keys_.end();) {
        if (it->first == k || it->first.rfind(k + "\\", 0) == 0)
            it = keys_.erase(it);
        else
            ++it;
    }
}

bool Registry::keyExists(const std::string& path) const { return keys_.count(lower(normalise(path))) != 0; }

void Registry::setValue(const std::string& path, const std::string& name, uint32_t type,
                        std::vector<uint8_t> data) {
    createKey(path);
    Key& key = keys_[lower(normalise(path))];
    key.values[lower(name)] = RegValue{name, type, std::move(data)};
}

void Registry::setDword(const std::string& path, const std::string& name, uint32_t v) {
    setValue(path, name, kRegDword,
             {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
              static_cast<uint8_t>(v >> 24)});
}

void Registry::setString(const std::string& path, const std::string& name, const std::string& text) {
    setValue(path, name, kRegSz, utf16z(text));
}

void Registry::deleteValue(const std::string& path, const std::string& name) {
    auto it = keys_.find(lower(normalise(path)));
    if (it != keys_.end()) it->second.values.erase(lower(name));
}

const RegValue* Registry::find(const std::string& path, const std::string& name) const {
    auto it = keys_.find(lower(normalise(path)));
    if (it == keys_.end()) return nullptr;
    auto v = it->second.values.find(lower(name));
    return v == it->second.values.end() ? nullptr : &v->second;
}

std::vector<RegValue> Registry::values(const std::string& path) const {
    std::vector<RegValue> out;
    auto it = keys_.find(lower(normalise(path)));
    if (it != keys_.end())
        for (auto& [_, v] : it->second.values) out.push_back(v);
    return out;
}

std::vector<std::string> Registry::keys() const {
    std::vector<std::string> out;
    for (auto& [k, _] : keys_) out.push_back(k);
    return out;
}

void Registry::loadFile(const std::string& file) { loadText(readBoardFile(file, "registry file"), file); }

void Registry::loadText(const std::string& raw, const std::string& origin) {
    // Parsed into a copy, which replaces this registry only when the whole
    // export was read.
    Registry staged = *this;
    staged.parse(raw, origin);
    *this = std::move(staged);
}

void Registry::parse(const std::string& raw, const std::string& origin) {
    std::string text = raw;
    if (text.size() >= 2 && static_cast<uint8_t>(text[0]) == 0xFF && static_cast<uint8_t>(text[1]) == 0xFE)
        text = fromUtf16(text);
    else if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text = text.substr(3);

    // Join continuation lines (a trailing backslash), keeping the number of
    // the line each logical line starts on.
    std::vector<std::pair<int, std::string>> lines;
    {
        std::stringstream in(text);
        std::string line;
        int number = 0;
        bool continuing = false;
        while (std::getline(in, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string t = continuing ? trim(line) : line;
            if (continuing)
                lines.back().second += t;
            else
                lines.emplace_back(number, t);
            std::string& cur = lines.back().second;
            std::string tt = trim(cur);
            continuing = !tt.empty() && tt.back() == '\\' && tt.front() != '[' && tt.front() != ';';
            if (continuing) cur = tt.substr(0, tt.size() - 1);
        }
    }

    bool headerSeen = false;
    std::optional<std::string> section;  // null: no section yet, or a deleted key
    bool sectionSeen = false;
    for (auto& [number, rawLine] : lines) {
        const std::string where = fmt::format("{}:{}", origin, number);
        std::string line = trim(rawLine);
        if (line.empty() || line[0] == ';') continue;
        if (!headerSeen) {
            if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4")
                throw BoardError(
                    fmt::format("{}: not a registry file (expected \"Windows Registry Editor Version 5.00\" "
                                "or \"REGEDIT4\")",
                                where));
            headerSeen = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') throw BoardError(fmt::format("{}: unterminated key name", where));
            std::string name = line.substr(1, line.size() - 2);
            sectionSeen = true;
            if (!name.empty() && name[0] == '-') {
                deleteKey(name.substr(1));
                section.reset();
                continue;
            }
            std::string n = normalise(name);
            if (!startsWithNoCase(n, "\\Registry\\Machine"))
                throw BoardError(
                    fmt::format("{}: only HKEY_LOCAL_MACHINE keys are supported: [{}]", where, name));
            createKey(n);
            section = n;
            continue;
        }
        if (!sectionSeen) throw BoardError(fmt::format("{}: value outside a key section", where));

        std::string valueName;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            auto q = quoted(line, pos);
            if (!q) throw BoardError(fmt::format("{}: unterminated value name", where));
            valueName = *q;
        } else {
            throw BoardError(fmt::format("{}: expected a key section or a value, got '{}'", where, line));
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=')
            throw BoardError(fmt::format("{}: expected '=' after the value name", where));
        std::string data = trim(line.substr(pos + 1));
        if (!section) continue;  // values of a deleted key
        if (data == "-") {
            deleteValue(*section, valueName);
        } else if (!data.empty() && data[0] == '"') {
            size_t p = 0;
            auto q = quoted(data, p);
            if (!q || trim(data.substr(p)).size() != 0)
                throw BoardError(fmt::format("{}: malformed string value", where));
            setString(*section, valueName, *q);
        } else if (startsWithNoCase(data, "dword:")) {
            std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), ::isxdigit))
                throw BoardError(fmt::format("{}: bad dword value '{}'", where, data));
            setDword(*section, valueName, static_cast<uint32_t>(std::stoul(digits, nullptr, 16)));
        } else if (startsWithNoCase(data, "hex:")) {
            setValue(*section, valueName, kRegBinary, hexBytes(data.substr(4), where));
        } else if (startsWithNoCase(data, "hex(")) {
            size_t close = data.find("):");
            std::string typeText = close == std::string::npos ? "" : data.substr(4, close - 4);
            if (typeText.empty() || typeText.size() > 8 ||
                !std::all_of(typeText.begin(), typeText.end(), ::isxdigit))
                throw BoardError(fmt::format("{}: bad typed hex value '{}'", where, data));
            setValue(*section, valueName, static_cast<uint32_t>(std::stoul(typeText, nullptr, 16)),
                     hexBytes(data.substr(close + 2), where));
        } else {
            throw BoardError(fmt::format("{}: unsupported value data '{}'", where, data));
        }
    }
    if (!headerSeen) throw BoardError(fmt::format("{}: empty registry file", origin));
}

}  // namespace sim
