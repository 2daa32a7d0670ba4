#include "sim/dbgformat.h"

#include <cstdint>
#include <cstdio>

namespace sim {

std::string formatTarget(const char* format, va_list args) {
    std::string out;
    for (const char* p = format; *p != 0; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            continue;
        }
        std::string conversion = "%";
        while (*p == '-' || *p == '0' || *p == '+' || *p == ' ' || *p == '#') conversion += *p++;
        while (*p >= '0' && *p <= '9') conversion += *p++;
        if (*p == '.') {
            conversion += *p++;
            while (*p >= '0' && *p <= '9') conversion += *p++;
        }
        // Length modifiers: h and l are 16 and 32 bits on the target, ll 64.
        int size = 32;
        if (*p == 'h') {
            size = 16;
            ++p;
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') {
                size = 64;
                ++p;
            }
        }
        char conv = *p;
        char buf[64];
        switch (conv) {
            case 'd':
            case 'i': {
                long long v = size == 64 ? va_arg(args, long long) : static_cast<int32_t>(va_arg(args, int));
                if (size == 16) v = static_cast<int16_t>(v);
                std::snprintf(buf, sizeof buf, (conversion + "lld").c_str(), v);
                out += buf;
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                unsigned long long v = size == 64 ? va_arg(args, unsigned long long)
                                                  : static_cast<uint32_t>(va_arg(args, unsigned));
                if (size == 16) v = static_cast<uint16_t>(v);
                std::snprintf(buf, sizeof buf, (conversion + "ll" + conv).c_str(), v);
                out += buf;
                break;
            }
            case 'c': out += static_cast<char>(va_arg(args, int)); break;
            case 's': {
                const char* s = va_arg(args, const char*);
                std::string text = s != nullptr ? s : "(null)";
                int n = std::snprintf(nullptr, 0, (conversion + "s").c_str(), text.c_str());
                std::string padded(static_cast<size_t>(n) + 1, '\0');
                std::snprintf(padded.data(), padded.size(), (conversion + "s").c_str(), text.c_str());
                padded.pop_back();
                out += padded;
                break;
            }
            case 'p':
                std::snprintf(
                    buf, sizeof buf, "%08llX",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
                out += buf;
                break;
            default:
                // Unknown conversion: print it as written.
                out.append(start, static_cast<size_t>(p - start + (conv != 0 ? 1 : 0)));
                if (conv == 0) return out;
                break;
        }
    }
    return out;
}

}  // namespace sim
