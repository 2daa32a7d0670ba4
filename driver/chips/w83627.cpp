// W83627-family configuration brackets.
#include "chips/w83627.h"

#include "core/rows.h"

namespace {

// Configuration mode opens with 0x87 written twice to the index port and
// closes with 0xAA written to it.
const SioKeyWrite kEnterKeys[] = {{SIO_KEY_TO_INDEX, 0x87}, {SIO_KEY_TO_INDEX, 0x87}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys kW83627Keys = {kEnterKeys, 2, kExitKeys, 1};
ZRV_INIT_DATA const SioProbeKeys kProbeKeys = {&kW83627Keys, 1, false};

ZRV_INIT_DATA const uint8_t kChipIds[] = {0x52, 0x59, 0x82, 0x88, 0xA0, 0xB0, 0xA2, 0x60, 0x68};

}  // namespace

W83627Config::W83627Config(const SioPortPair& pair) : SioConfigBracket(pair, kW83627Keys) {}

W83627Config::W83627Config(const SioPortPair& pair, uint8_t device) : SioConfigBracket(pair, kW83627Keys) {
    SelectDevice(device);
}

ZRV_INIT bool W83627_IdAccepted(uint8_t id) { return InList(kChipIds, id); }

ZRV_INIT bool W83627_Probe(SioAcceptRule accept, SioProbeStep* found) {
    return SioProbe(kProbeKeys, accept, found);
}
