#include "sim/server/board_server.h"

#include <fmt/format.h>

#include <cctype>
#include <optional>
#include <sstream>
#include <vector>

namespace sim {

namespace {

std::optional<uint64_t> parseNumber(const std::string& text, uint64_t max) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 16) return std::nullopt;
    for (unsigned char c : digits)
        if (!(hex ? std::isxdigit(c) : std::isdigit(c))) return std::nullopt;
    const uint64_t v = std::stoull(digits, nullptr, hex ? 16 : 10);
    if (v > max) return std::nullopt;
    return v;
}

std::string lines(const std::vector<std::string>& items) {
    std::string out = fmt::format("ok {}\n", items.size());
    for (const auto& i : items) out += i + "\n";
    return out;
}

}  // namespace

std::string BoardServer::handle(const std::string& request) {
    std::istringstream in(request);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    if (w.empty()) return "err empty request\n";
    const std::string& op = w[0];
    auto arity = [&](size_t n) { return w.size() == n + 1; };

    if (op == "in" && arity(1)) {
        auto port = parseNumber(w[1], 0xFFFF);
        if (!port) return fmt::format("err bad port '{}'\n", w[1]);
        return fmt::format("ok 0x{:02x}\n", machine_.bus().read(static_cast<uint16_t>(*port)));
    }
    if (op == "out" && arity(2)) {
        auto port = parseNumber(w[1], 0xFFFF);
        auto value = parseNumber(w[2], 0xFF);
        if (!port || !value) return fmt::format("err bad port or value '{} {}'\n", w[1], w[2]);
        machine_.bus().write(static_cast<uint16_t>(*port), static_cast<uint8_t>(*value));
        return "ok\n";
    }
    if (op == "advance" && arity(1)) {
        auto ms = parseNumber(w[1], UINT32_MAX);
        if (!ms) return fmt::format("err bad time '{}'\n", w[1]);
        machine_.advance(*ms);
        return "ok\n";
    }
    if (op == "now" && arity(0)) return fmt::format("ok {}\n", machine_.clock().nowMs());
    if (op == "setpin" && arity(2)) {
        if (w[2] != "0" && w[2] != "1") return fmt::format("err bad level '{}'\n", w[2]);
        std::lock_guard lock(machine_.bus().mutex());
        for (auto& d : machine_.bus().devices())
            if (d->setPin(w[1], w[2] == "1")) return "ok 1\n";
        return "ok 0\n";
    }
    if (op == "pin" && arity(1)) {
        std::lock_guard lock(machine_.bus().mutex());
        for (auto& d : machine_.bus().devices())
            if (auto level = d->pin(w[1])) return fmt::format("ok {}\n", *level ? 1 : 0);
        return "ok none\n";
    }
    if (op == "resets" && arity(0)) {
        std::string out = "ok";
        for (uint64_t at : machine_.resets()) out += fmt::format(" {}", at);
        return out + "\n";
    }
    if (op == "trace" && arity(0)) {
        std::vector<std::string> text;
        for (const auto& e : machine_.bus().trace()) text.push_back(e.text());
        return lines(text);
    }
    if (op == "violations" && arity(0)) return lines(machine_.deviceViolations());
    if (op == "unclaimed" && arity(0)) {
        std::vector<std::string> text;
        for (const auto& u : machine_.unclaimedAccesses())
            text.push_back(fmt::format("{} 0x{:04x} {}", u.write ? "out" : "in", u.port, u.count));
        return lines(text);
    }
    if (op == "quit" && arity(0)) {
        quit_ = true;
        return "ok\n";
    }
    return fmt::format("err unknown request '{}'\n", request);
}

}  // namespace sim
