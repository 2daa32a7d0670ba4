// Port traces as the concurrency tests walk them: the accesses to a few
// ports, parsed from the bus's text lines ("out 0x002e 0x87"), and the
// whole sequences a chip's pair may show.
#pragma once

#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zrvtest {

struct PortAccess {
    bool in;
    uint16_t port;
    uint8_t value;
};

// The accesses to ports `low` to `high`, in trace order; waits are left out.
inline std::vector<PortAccess> accessesOn(const std::vector<std::string>& trace, uint16_t low,
                                          uint16_t high) {
    std::vector<PortAccess> out;
    for (const auto& line : trace) {
        char dir[4] = {};
        unsigned port = 0, value = 0;
        if (std::sscanf(line.c_str(), "%3s 0x%x 0x%x", dir, &port, &value) != 3) continue;
        if (port >= low && port <= high)
            out.push_back({dir[0] == 'i', static_cast<uint16_t>(port), static_cast<uint8_t>(value)});
    }
    return out;
}

// The lines of the accesses to ports `low` to `high`, as the trace has them.
inline std::vector<std::string> linesOn(const std::vector<std::string>& trace, uint16_t low, uint16_t high) {
    std::vector<std::string> out;
    for (const auto& line : trace) {
        unsigned port = 0;
        if (std::sscanf(line.c_str(), "%*s 0x%x", &port) == 1 && port >= low && port <= high)
            out.push_back(line);
    }
    return out;
}

// One access a sequence expects: 'o' out, 'i' in, '?' either; `value` -1
// is any value, `except` a value it may not have, `sameAs` the step whose
// value it repeats.
struct Step {
    char dir;
    uint16_t port;
    int value = -1;
    int except = -1;
    int sameAs = -1;
};
inline Step out(uint16_t port, int value = -1) { return {'o', port, value}; }
inline Step in(uint16_t port, int value = -1) { return {'i', port, value}; }

// A whole sequence: `head`, then `body` again and again until `tail` comes.
struct Shape {
    std::vector<Step> head, body = {}, tail = {};
};

// The end of the steps matched from `i` on, or 0.
inline size_t matchAt(const std::vector<PortAccess>& t, size_t i, const std::vector<Step>& steps) {
    for (size_t k = 0; k < steps.size(); ++k) {
        const Step& s = steps[k];
        if (i + k >= t.size()) return 0;
        const PortAccess& a = t[i + k];
        if (a.port != s.port || (s.dir != '?' && a.in != (s.dir == 'i')) ||
            (s.value >= 0 && a.value != s.value) || (s.except >= 0 && a.value == s.except) ||
            (s.sameAs >= 0 && a.value != t[i + size_t(s.sameAs)].value))
            return 0;
    }
    return i + steps.size();
}

// The end of a whole `shape` from `i` on, or 0.
inline size_t wholeAt(const std::vector<PortAccess>& t, size_t i, const Shape& shape) {
    i = matchAt(t, i, shape.head);
    if (i == 0 || shape.tail.empty()) return i;
    while (i != 0) {
        if (const size_t end = matchAt(t, i, shape.tail)) return end;
        i = shape.body.empty() ? 0 : matchAt(t, i, shape.body);
    }
    return 0;
}

// The first place where no whole sequence of `shapes` starts (the first that
// fits is taken), or an empty string.
inline std::string firstBroken(const std::vector<PortAccess>& t, const std::vector<Shape>& shapes) {
    for (size_t i = 0; i < t.size();) {
        size_t end = 0;
        for (const Shape& s : shapes)
            if ((end = wholeAt(t, i, s)) > i) break;
        if (end <= i)
            return fmt::format("access {}: no whole sequence starts at {} 0x{:04x} 0x{:02x}", i,
                               t[i].in ? "in" : "out", t[i].port, t[i].value);
        i = end;
    }
    return {};
}

}  // namespace zrvtest
