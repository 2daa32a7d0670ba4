// W83627-family GPIO digital I/O: one GPIO group, named by the registry value
// "GPIOGroup" under "DIO". The group's data register carries the lines; its
// I/O-selection register, read once at load, says which are inputs (set
// bits) and which outputs. Directions are never written here.
//
// Lines keep their gaps: only the lowest line of each side is shifted down
// to bit 0, and the counts count the lines.
#include "chips/w83627.h"
#include "core/backends.h"
#include "core/config.h"
#include "core/rows.h"

namespace {

constexpr uint32_t kLastGroup = 6;

// Group set-up: the group's logical device, the test its configuration must
// pass (activation bits of register 0x30 all set, then optionally
// (register Reg & Mask) == Value), and its data and I/O-selection registers
// (0 when the back-end has none for it). A row with an `OnlyId` serves only
// that chip ID; the rows are searched in order.
struct ExtraTest {
    uint8_t Reg;
    uint8_t Mask;
    uint8_t Value;
};
struct W83627GpioGroup {
    uint8_t Group;
    uint8_t OnlyId;  // 0: any ID
    uint8_t Device;
    uint8_t ActivateBits;
    ExtraTest Extra;  // Reg 0: none
    uint8_t DataReg;
    uint8_t DirectionReg;
};
// clang-format off
ZRV_INIT_DATA constexpr W83627GpioGroup kGroups[] = {
    // group id    device                activate  extra test          data  direction
    {1, 0,    W83627_DEVICE_GPIO_A, 0x01, {0, 0, 0},          0xF1, 0xF0},
    {2, 0xA2, W83627_DEVICE_GPIO_B, 0x02, {0, 0, 0},          0xE5, 0xE4},
    {2, 0,    W83627_DEVICE_GPIO_B, 0x01, {0, 0, 0},          0,    0},
    {3, 0,    W83627_DEVICE_GPIO_B, 0x02, {0, 0, 0},          0,    0},
    {4, 0,    W83627_DEVICE_GPIO_B, 0x04, {0, 0, 0},          0,    0},
    {5, 0,    W83627_DEVICE_GPIO_B, 0x08, {0x2D, 0xFF, 0xFF}, 0,    0},
    {6, 0,    W83627_DEVICE_GPIO_A, 0x08, {0x29, 0x08, 0x08}, 0xF5, 0xF4},
};
// clang-format on

// The groups with a data register on a chip of ID `id` (0: an ID that no
// row names), as the lookup below finds them.
constexpr unsigned long GroupsServed(uint8_t id) {
    unsigned long groups = 0;
    for (uint32_t g = 0; g <= kLastGroup; ++g) {
        for (const W83627GpioGroup& row : kGroups) {
            if (row.Group != g || (row.OnlyId != 0 && row.OnlyId != id)) continue;
            if (row.DataReg != 0) groups |= 1ul << g;
            break;
        }
    }
    return groups;
}
static_assert(GroupsServed(0) == ChipGroups(CHIP_W83627) &&
                  GroupsServed(ChipExtraId(CHIP_W83627)) ==
                      (ChipGroups(CHIP_W83627) | ChipExtraGroups(CHIP_W83627)) &&
                  ChipGroups(CHIP_W83627_ALT) == ChipGroups(CHIP_W83627),
              "the W83627's GPIO groups are those zrvctl config is told of");

// Why a group cannot be served: the debugger line, taking the group number
// and the chip ID, and the reason recorded with it.
struct GroupRefusal {
    const char* Format;
    uint8_t Reason;
};

struct W83627GpioStateRecord {
    const SioPortPair* Pair;  // configuration pair of the last probe
    uint8_t ChipId;           // register 0x20 at the last probe
    uint8_t GpioLdn;
    uint8_t GpioDataReg;
    uint8_t GpioInMask;  // set bit: input line
    uint8_t GpioOutMask;
    uint8_t GpioInBits;
    uint8_t GpioOutBits;
    uint8_t GpioInShift;
    uint8_t GpioOutShift;
    uint32_t Group;               // "GPIOGroup", set up at each probe
    const GroupRefusal* Refusal;  // why the group cannot be served; null when it can
};
ZRV_GLOBAL W83627GpioStateRecord W83627GpioState;

W83627GpioStateRecord& S = W83627GpioState;

ZRV_INIT const W83627GpioGroup* FindGroup(uint32_t group, uint8_t id) {
    for (const W83627GpioGroup& g : kGroups)
        if (g.Group == group && (g.OnlyId == 0 || g.OnlyId == id)) return &g;
    return nullptr;
}

ZRV_INIT void DIO_W83627_IOMask(const SioConfigBracket& config, uint8_t reg) {
    S.GpioInMask = config.ReadReg(reg);
    S.GpioOutMask = static_cast<uint8_t>(~S.GpioInMask);
    S.GpioInBits = CountBits(S.GpioInMask);
    S.GpioInShift = LowestSetBit(S.GpioInMask);
    S.GpioOutBits = CountBits(S.GpioOutMask);
    S.GpioOutShift = LowestSetBit(S.GpioOutMask);
}

const GroupRefusal kGroupTestFailed = {
    "DIO_W83627_SelectGroup group %d failed its set-up test (ID %02x), digital I/O not bound\n",
    ZRV_REASON_GROUP_NOT_ENABLED};
const GroupRefusal kGroupNoData = {
    "DIO_W83627_SelectGroup group %d has no data register on ID %02x, digital I/O not bound\n",
    ZRV_REASON_GROUP_NO_DATA};

// Inside the caller's bracket; null when the group is set up.
ZRV_INIT const GroupRefusal* DIO_W83627_SelectGroup(const SioConfigBracket& config, uint32_t group) {
    const W83627GpioGroup& g = *FindGroup(group, S.ChipId);
    config.SelectDevice(g.Device);
    if (g.DataReg != 0) S.GpioLdn = g.Device;
    const uint8_t activate = config.ReadReg(SIO_REG_ACTIVATE);
    if ((activate & g.ActivateBits) != g.ActivateBits) return &kGroupTestFailed;
    if (g.Extra.Reg != 0 && (config.ReadReg(g.Extra.Reg) & g.Extra.Mask) != g.Extra.Value)
        return &kGroupTestFailed;
    if (g.DataReg == 0) return &kGroupNoData;
    S.GpioDataReg = g.DataReg;
    DIO_W83627_IOMask(config, g.DirectionReg);
    return nullptr;
}

uint16_t DIO_W83627_GetConfig() { return static_cast<uint16_t>(S.GpioOutBits << 8 | S.GpioInBits); }

uint16_t DIO_W83627_Get(uint16_t selector) {
    W83627Config config(*S.Pair, S.GpioLdn);
    const uint8_t value = config.ReadReg(S.GpioDataReg);
    if (selector != 0) return static_cast<uint16_t>((value & S.GpioOutMask) >> S.GpioOutShift);
    return static_cast<uint16_t>((value & S.GpioInMask) >> S.GpioInShift);
}

// The whole data register is written, not read first: input lines get 0
// bits, and lines shifted beyond bit 7 are lost.
void DIO_W83627_Set(uint16_t lines) {
    W83627Config config(*S.Pair, S.GpioLdn);
    config.WriteReg(S.GpioDataReg,
                    static_cast<uint8_t>(static_cast<uint8_t>(lines << S.GpioOutShift) & S.GpioOutMask));
}

}  // namespace

const DioOps W83627DioOps = {
    DIO_W83627_GetConfig, DIO_W83627_Get, DIO_W83627_Set, nullptr, nullptr, nullptr, nullptr, nullptr,
};

namespace {

// The group is set up in every probe bracket, whatever the ID.
ZRV_INIT bool AcceptW83627Gpio(const SioConfigBracket& bracket, const SioProbeStep& step) {
    S.Pair = step.Pair;
    S.ChipId = bracket.ReadReg(SIO_REG_ID_HIGH);
    S.Refusal = DIO_W83627_SelectGroup(bracket, S.Group);
    return W83627_IdAccepted(S.ChipId);
}

}  // namespace

// Probes 0x2E/0x2F, then 0x4E/0x4F, setting the group up at each probe. The
// table is bound only for a group the chip serves: one whose set-up test
// passes and that has a data register; otherwise Get and Set would have
// nothing but configuration register 0x00 of logical device 0 to address.
ZRV_INIT int32_t DIO_W83627_Detect() {
    uint32_t group = 0;
    if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, ZRV_WIDE(ZRV_REG_GPIO_GROUP), &group)) || group == 0 ||
        group > kLastGroup) {
        LoadRefused(ZRV_REASON_GROUP_OUT_OF_RANGE);
        return -1;
    }
    S.Group = group;
    SioProbeStep found;
    if (!W83627_Probe(AcceptW83627Gpio, &found)) return -1;
    if (S.Refusal == nullptr) return 0;
    DbgPrint(S.Refusal->Format, static_cast<int>(group), static_cast<unsigned>(S.ChipId));
    LoadRefused(S.Refusal->Reason);
    return -1;
}
