// F81216 configuration keys, accepted IDs, probe and bracket.
#include "chips/f81216.h"

#include "core/rows.h"

ZRV_GLOBAL F81216StateRecord F81216State;

namespace {

// Configuration mode opens with one of four entry bytes written twice to the
// index port, and closes with 0xAA. The probe tries the bytes in this order.
template <uint8_t Byte>
constexpr SioKeyWrite kEnterTwice[] = {{SIO_KEY_TO_INDEX, Byte}, {SIO_KEY_TO_INDEX, Byte}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys kEntryKeys[] = {
    {kEnterTwice<0x77>, 2, kExitKeys, 1},
    {kEnterTwice<0xA0>, 2, kExitKeys, 1},
    {kEnterTwice<0x87>, 2, kExitKeys, 1},
    {kEnterTwice<0x67>, 2, kExitKeys, 1},
};
ZRV_INIT_DATA const SioProbeKeys kProbeKeys = {kEntryKeys, sizeof(kEntryKeys) / sizeof(kEntryKeys[0]), false};

ZRV_INIT_DATA const uint16_t kAcceptedIds[] = {0x0208, 0x0216};

// The set-up the current probe runs in the bracket that found the chip.
ZRV_GLOBAL void (*ProbeSetup)(const SioConfigBracket& bracket);

ZRV_INIT bool AcceptF81216(const SioConfigBracket& bracket, const SioProbeStep& step) {
    const uint16_t id = bracket.ReadChipId();
    if (!InList(kAcceptedIds, id)) return false;
    F81216State.Pair = step.Pair;
    F81216State.EntryIndex = step.KeysIndex;
    DbgPrint("WDT: F81216 detected\n");
    ProbeSetup(bracket);
    return true;
}

}  // namespace

ZRV_INIT bool Detect_F81216(void (*setup)(const SioConfigBracket& bracket)) {
    ProbeSetup = setup;
    SioProbeStep found;
    const bool present = SioProbe(kProbeKeys, AcceptF81216, &found);
    ProbeSetup = nullptr;  // the set-up is load-only code, gone after the load
    return present;
}

F81216Config::F81216Config(uint8_t device)
    : SioConfigBracket(*F81216State.Pair, kEntryKeys[F81216State.EntryIndex]) {
    SelectDevice(device);
}
