// UTF-16 strings of the driver side to and from UTF-8.
#pragma once

#include <string>

namespace sim {

inline std::string narrow(const char16_t* s) {
    std::string out;
    if (s == nullptr) return out;
    for (; *s != 0; ++s) {
        char32_t c = *s;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::u16string widen(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out += static_cast<char16_t>(c);
    return out;
}

}  // namespace sim
