// F81865 configuration access and probe.
//
// The chip is probed at most once per load, by whichever detect entry runs
// first; the pair it answered at and its ID then serve all three back-ends.
#include "chips/f81865.h"

#include "core/config.h"
#include "core/rows.h"

ZRV_GLOBAL F81865StateRecord F81865State;

namespace {

// Configuration mode opens with 0x87 written twice to the index port and
// closes with 0xAA written to it.
const SioKeyWrite kEnterKeys[] = {{SIO_KEY_TO_INDEX, 0x87}, {SIO_KEY_TO_INDEX, 0x87}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys kF81865Keys = {kEnterKeys, 2, kExitKeys, 1};

// The accepted chip IDs. ID 0x1010 adds a third fan, an eighth voltage
// input, a third temperature and GPIO groups 7 and 8.
constexpr F81865Variant kVariants[] = {
    {0x0704, 1, 7, false, 6},
    {0x1010, 2, 8, true, 8},
};
static_assert(GroupsUpTo(kVariants[0].MaxGpioGroup) == ChipGroups(CHIP_F81865) &&
                  kVariants[1].ChipId == ChipExtraId(CHIP_F81865) &&
                  GroupsUpTo(kVariants[1].MaxGpioGroup) ==
                      (ChipGroups(CHIP_F81865) | ChipExtraGroups(CHIP_F81865)),
              "the F81865's GPIO groups are those zrvctl config is told of");

// Log line of the ID read at each configuration pair, in probe order.
ZRV_INIT_DATA const char* const kIdLines[] = {
    "Detect_F81865 Detecting master device ID %04x\n",
    "Detect_F81865 Detecting slave device ID %04x\n",
};

ZRV_INIT const F81865Variant* FindVariant(uint16_t id) {
    return FindRow(kVariants, &F81865Variant::ChipId, id);
}

ZRV_INIT_DATA const SioProbeKeys kProbeKeys = {&kF81865Keys, 1, false};

// Inside the probe's bracket at each pair: the chip ID, logged whether or
// not it is accepted. The pair tried last stays in the state.
ZRV_INIT bool AcceptF81865(const SioConfigBracket& bracket, const SioProbeStep& step) {
    F81865State.Pair = step.Pair;
    F81865State.ChipId = bracket.ReadChipId();
    DbgPrint(kIdLines[step.PairIndex], static_cast<uint32_t>(F81865State.ChipId));
    return FindVariant(F81865State.ChipId) != nullptr;
}

}  // namespace

F81865Config::F81865Config(uint8_t device) : SioConfigBracket(*F81865State.Pair, kF81865Keys) {
    SelectDevice(device);
}

ZRV_INIT int32_t Detect_F81865() {
    DbgPrint("Detect_F81865+\n");
    F81865State.Probed = 1;
    SioProbeStep found;
    if (!SioProbe(kProbeKeys, AcceptF81865, &found)) {
        F81865State.NotFound = 1;
        DbgPrint("Detect_F81865- (NotFound)\n");
        return -1;
    }
    // The pair that answered stays in use for every later access.
    F81865State.Variant = FindVariant(F81865State.ChipId);
    DbgPrint("Detect_F81865 F81865 detected\n");
    DbgPrint("Detect_F81865-\n");
    return 0;
}

ZRV_INIT bool F81865_ChipPresent() {
    if (F81865State.NotFound != 0) return false;
    if (F81865State.Probed == 0) Detect_F81865();
    return F81865State.NotFound == 0;
}
