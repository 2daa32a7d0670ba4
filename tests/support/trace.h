// Port traces as the concurrency tests walk them: the accesses to a few
// ports, parsed from the bus's text lines ("out 0x002e 0x87").
#pragma once

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

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace zrvtest
