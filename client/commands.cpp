#include "client/commands.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace zrvctl {

const CommandTable& commands() {
    static const CommandTable table = [] {
        CommandTable t;
        addRequestCommands(t);
        addWatchdogCommands(t);
        addDigitalIoCommands(t);
        addHwmCommands(t);
        addBoardCommands(t);
        return t;
    }();
    return table;
}

const Command* findCommand(const std::string& name) {
    for (auto& c : commands())
        if (name == c.name) return &c;
    return nullptr;
}

uint32_t parseNumber(const std::string& text, const std::string& what, uint32_t max) {
    const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = isHex ? text.substr(2) : text;
    const bool ok = !digits.empty() && digits.size() <= 10 &&
                    std::all_of(digits.begin(), digits.end(),
                                [&](unsigned char c) { return isHex ? std::isxdigit(c) : std::isdigit(c); });
    if (!ok) throw ClientError{fmt::format("{}: '{}' is not a number", what, text)};
    const unsigned long long v = std::stoull(digits, nullptr, isHex ? 16 : 10);
    if (v > max) throw ClientError{fmt::format("{}: {} is out of range (at most {})", what, text, max)};
    return static_cast<uint32_t>(v);
}

std::vector<uint8_t> parseHex(const std::string& text) {
    if (text.size() % 2 != 0) throw ClientError{fmt::format("bad hex '{}': odd number of digits", text)};
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])))
            throw ClientError{fmt::format("bad hex '{}'", text)};
        out.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    for (uint8_t b : bytes) out += fmt::format("{:02x}", b);
    return out;
}

std::string statusName(int32_t status) {
    switch (static_cast<uint32_t>(status)) {
        case 0x00000000u: return "success";
        case 0xC0000001u: return "unsuccessful";
        case 0xC0000002u: return "not implemented";
        case 0xC000000Du: return "invalid parameter";
        case 0xC0000022u: return "access denied";
        case 0xC000009Au: return "insufficient resources";
        case 0xC00000BBu: return "not supported";
        default: return fmt::format("status 0x{:08x}", static_cast<uint32_t>(status));
    }
}

}  // namespace zrvctl
