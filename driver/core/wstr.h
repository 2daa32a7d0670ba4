// Small helpers for the NUL-terminated UTF-16 strings of registry paths and
// value names.
#pragma once

#include "platform/platform.h"

inline uint32_t WstrLength(const ZrvWChar* s) {
    uint32_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

// Appends `tail` to the string in `buffer` (capacity in characters, terminator
// included). Returns false, with the buffer unchanged, when it does not fit.
inline bool WstrAppend(ZrvWChar* buffer, uint32_t capacity, const ZrvWChar* tail) {
    uint32_t at = WstrLength(buffer);
    uint32_t add = WstrLength(tail);
    if (at + add + 1 > capacity) return false;
    for (uint32_t i = 0; i <= add; ++i) buffer[at + i] = tail[i];
    return true;
}

// Appends `value` in decimal, without leading zeros.
inline bool WstrAppendDecimal(ZrvWChar* buffer, uint32_t capacity, uint32_t value) {
    ZrvWChar digits[11];
    uint32_t n = 0;
    do {
        digits[n++] = static_cast<ZrvWChar>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    ZrvWChar text[11];
    for (uint32_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = 0;
    return WstrAppend(buffer, capacity, text);
}

inline void MemZero(void* p, uint32_t bytes) {
    volatile uint8_t* b = static_cast<volatile uint8_t*>(p);
    for (uint32_t i = 0; i < bytes; ++i) b[i] = 0;
}
