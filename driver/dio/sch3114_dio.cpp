// SCH3114 digital I/O in the line layout: each line names a GPIO group,
// whose data register sits in the runtime block, and a mask of that
// register's bits. Pin directions and functions are the firmware's and are
// never written here.
//
// Get and Set are each one runtime sequence, so a Set's per-line
// read-modify-writes cannot lose the bits of another request's Set.
#include "chips/sch3114.h"
#include "core/backends.h"
#include "core/config.h"
#include "dio/lines.h"

namespace {

// GPIO data register of each group number, as an offset in the runtime
// block. Groups 0 and 7 have no data register: their 0x00 is the block's
// first register, which is no GPIO data.
constexpr uint8_t SCH3114GpioRegs[] = {0x00, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x00};
constexpr uint32_t kGpioGroups = sizeof(SCH3114GpioRegs) / sizeof(SCH3114GpioRegs[0]);
constexpr uint8_t kNoDataRegister = 0x00;

constexpr unsigned long GroupsWithRegister() {
    unsigned long groups = 0;
    for (uint32_t g = 0; g < kGpioGroups; ++g)
        if (SCH3114GpioRegs[g] != kNoDataRegister) groups |= 1ul << g;
    return groups;
}
static_assert(GroupsWithRegister() == ChipGroups(CHIP_SCH3114) && ChipExtraGroups(CHIP_SCH3114) == 0,
              "the SCH3114's GPIO groups are those zrvctl config is told of");

constexpr uint32_t kDioLineLayout = ZRV_DIO_TYPE_LINES;

// True when the group number has a GPIO data register in the table.
bool GroupHasRegister(uint16_t group) {
    return group < kGpioGroups && SCH3114GpioRegs[group] != kNoDataRegister;
}

// The lines of one direction in the board configuration.
LineMap InputLines() { return {BoardConfig.InBits, BoardConfig.InAddr, BoardConfig.InMask}; }
LineMap OutputLines() { return {BoardConfig.OutBits, BoardConfig.OutAddr, BoardConfig.OutMask}; }

uint8_t DataReg(uint16_t group) { return SCH3114GpioRegs[group]; }

uint16_t DIO_SCH3114_GetConfig() {
    const uint16_t config = static_cast<uint16_t>(BoardConfig.OutBits << 8 | BoardConfig.InBits);
    DbgPrint("DIO_SCH3114_GetConfig: %x\n", static_cast<unsigned>(config));
    return config;
}

uint16_t DIO_SCH3114_Get(uint16_t selector) {
    SCH3114Runtime runtime;
    return ReadLineWord(runtime, selector != 0 ? OutputLines() : InputLines(), DataReg);
}

void DIO_SCH3114_Set(uint16_t lines) {
    SCH3114Runtime runtime;
    WriteLineWord(runtime, OutputLines(), DataReg, lines);
}

// A line whose group has no GPIO data register (past the table, or groups 0
// and 7, also the group 0 of a line the registry leaves out) is refused,
// naming the line; then no line of the map is served and nothing of the
// runtime block is touched.
}  // namespace

const DioOps SCH3114DioOps = {
    DIO_SCH3114_GetConfig, DIO_SCH3114_Get, DIO_SCH3114_Set, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Only the line layout describes SCH3114 lines.
ZRV_INIT int32_t DIO_SCH3114_Detect() {
    if (!SCH3114_ChipPresent()) return -1;
    if (BoardConfig.DioDeviceType != kDioLineLayout) {
        LoadRefused(ZRV_REASON_LAYOUT_NOT_SERVED);
        return -1;
    }
    if (!LinesServed(InputLines(), GroupHasRegister,
                     "DIO_SCH3114 input line %d names GPIO group %d, digital I/O not bound\n") ||
        !LinesServed(OutputLines(), GroupHasRegister,
                     "DIO_SCH3114 output line %d names GPIO group %d, digital I/O not bound\n"))
        return -1;
    return 0;
}
