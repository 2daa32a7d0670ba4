// W83627-family configuration brackets.
#include "chips/w83627.h"

namespace {

// Configuration mode opens with 0x87 written twice to the index port and
// closes with 0xAA written to it.
const SioKeyWrite kEnterKeys[] = {{SIO_KEY_TO_INDEX, 0x87}, {SIO_KEY_TO_INDEX, 0x87}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys kW83627Keys = {kEnterKeys, 2, kExitKeys, 1};

}  // namespace

W83627Config::W83627Config(const SioPortPair& pair) : SioConfigBracket(pair, kW83627Keys) {}

W83627Config::W83627Config(const SioPortPair& pair, uint8_t device) : SioConfigBracket(pair, kW83627Keys) {
    SelectDevice(device);
}
