// IT87xx configuration keys, accepted IDs and bracket.
#include "chips/it87.h"

#include "core/rows.h"

namespace {

// The chip opens configuration mode on 0x87, 0x01, 0x55 and a fourth byte
// that depends on the pair (0x55 at 0x2E, 0xAA at 0x4E), all to the index
// port; it leaves when register 0x02 is written with bit 1 set.
const SioKeyWrite kEnterKeys2E[] = {
    {SIO_KEY_TO_INDEX, 0x87}, {SIO_KEY_TO_INDEX, 0x01}, {SIO_KEY_TO_INDEX, 0x55}, {SIO_KEY_TO_INDEX, 0x55}};
const SioKeyWrite kEnterKeys4E[] = {
    {SIO_KEY_TO_INDEX, 0x87}, {SIO_KEY_TO_INDEX, 0x01}, {SIO_KEY_TO_INDEX, 0x55}, {SIO_KEY_TO_INDEX, 0xAA}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, IT87_REG_CONFIG_CONTROL}, {SIO_KEY_TO_DATA, 0x02}};

// In the order of the configuration pairs.
const SioKeys kKeys[] = {
    {kEnterKeys2E, 4, kExitKeys, 2},
    {kEnterKeys4E, 4, kExitKeys, 2},
};
ZRV_INIT_DATA const SioProbeKeys kProbeKeys = {kKeys, 2, true};

// The second pair's keys serve any pair but the first.
const SioKeys& KeysFor(const SioPortPair& pair) { return pair.IndexPort == 0x2E ? kKeys[0] : kKeys[1]; }

ZRV_INIT_DATA const It87Chip kChips[] = {
    {0x8712, 0, 0, true},
    {0x8718, 8, 8, false},
    {0x8783, 8, 6, false},
};

}  // namespace

ZRV_INIT const It87Chip* It87FindChip(uint16_t id) { return FindRow(kChips, &It87Chip::ChipId, id); }

ZRV_INIT bool IT87_Probe(SioAcceptRule accept, SioProbeStep* found, uint32_t pairs) {
    return SioProbe(kProbeKeys, accept, found, pairs);
}

It87Config::It87Config(const SioPortPair& pair) : SioConfigBracket(pair, KeysFor(pair)) {}

It87Config::It87Config(const SioPortPair& pair, uint8_t device) : It87Config(pair) { SelectDevice(device); }
