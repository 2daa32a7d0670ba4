// The per-line digital-I/O layout shared by the chips that serve it: each
// line names a GPIO group and a mask of that group's register bits.
#pragma once

#include "core/config.h"
#include "platform/platform.h"

// The lines of one direction: how many, and each line's group and mask.
struct LineMap {
    uint8_t Count;
    const uint16_t* Group;
    const uint8_t* Mask;
};

// True when every line's group passes `served`; otherwise `refusal` is
// logged with the first failing line and its group. A map whose arrays are
// missing is refused without a line.
template <typename Served>
bool LinesServed(const LineMap& map, Served served, const char* refusal) {
    if (map.Count != 0 && (map.Group == nullptr || map.Mask == nullptr)) return false;
    for (uint32_t n = 0; n < map.Count; ++n) {
        if (!served(map.Group[n])) {
            DbgPrint(refusal, static_cast<int>(n), static_cast<int>(map.Group[n]));
            LoadRefused(ZRV_REASON_LINE_GROUP);
            return false;
        }
    }
    return true;
}

// The line word from one register read per line, also where lines share a
// register. `io` reads registers; `regOf` gives a group's register.
template <typename Io, typename RegOf>
uint16_t ReadLineWord(const Io& io, const LineMap& map, RegOf regOf) {
    uint16_t word = 0;
    for (uint32_t n = 0; n < map.Count; ++n)
        SetLineBit(&word, io.ReadReg(regOf(map.Group[n])), n, map.Mask[n]);
    return word;
}

// One read-modify-write per line, in line order: lines that share a register
// see each other's writes, and bits outside every mask keep the value read.
template <typename Io, typename RegOf>
void WriteLineWord(const Io& io, const LineMap& map, RegOf regOf, uint16_t lines) {
    for (uint32_t n = 0; n < map.Count; ++n) {
        const uint8_t reg = regOf(map.Group[n]);
        uint8_t value = io.ReadReg(reg);
        SetMaskBits(&value, (lines >> n) & 1u, map.Mask[n]);
        io.WriteReg(reg, value);
    }
}
