// Small helpers over constant tables and register bits, shared by the core
// and every back-end.
#pragma once

#include "platform/platform.h"

// The first row of `rows` whose `field` equals `key`, or null.
template <typename Row, uint32_t N, typename Field, typename Key>
const Row* FindRow(const Row (&rows)[N], Field Row::*field, Key key) {
    for (uint32_t i = 0; i < N; ++i)
        if (rows[i].*field == key) return &rows[i];
    return nullptr;
}

// True when `value` is one of `list`.
template <typename T, uint32_t N, typename V>
bool InList(const T (&list)[N], V value) {
    for (uint32_t i = 0; i < N; ++i)
        if (list[i] == value) return true;
    return false;
}

// Number of set bits of a register value.
inline uint8_t CountBits(uint8_t mask) {
    uint8_t n = 0;
    for (; mask != 0; mask = static_cast<uint8_t>(mask & (mask - 1))) ++n;
    return n;
}

// Index of the lowest set bit; 0 when none is set.
inline uint8_t LowestSetBit(uint8_t mask) {
    for (uint8_t bit = 0; bit < 8; ++bit)
        if ((mask >> bit) & 1) return bit;
    return 0;
}
