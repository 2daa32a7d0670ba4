// F81865 digital I/O on the GPIO pins of logical device 6.
//
// Two layouts, chosen by the DIO device type of the board configuration:
//  - group layout (1): one GPIO group carries the inputs, one the outputs,
//    in the directions the firmware gave the pins (never written here);
//  - line layout (3): each line names a GPIO group and a mask within it.
// Every access is one configuration bracket, so a per-line read-modify-write
// of a shared register cannot be split by another request.
#include "chips/f81865.h"
#include "core/backends.h"
#include "core/config.h"
#include "core/rows.h"
#include "dio/lines.h"

namespace {

constexpr uint32_t kDioLayoutGroup = ZRV_DIO_TYPE_GROUPS;
constexpr uint32_t kDioLayoutLine = ZRV_DIO_TYPE_LINES;

// GPIO registers of a group, in logical device 6.
struct GpioGroupRegs {
    uint8_t OutputEnable;  // 1 = the pin is an output
    uint8_t OutputData;    // level driven on output pins
    uint8_t PinStatus;     // level on every pin
};
const GpioGroupRegs F81865GpioRegs[] = {
    {0xF0, 0xF1, 0xF2}, {0xE0, 0xE1, 0xE2}, {0xD0, 0xD1, 0xD2}, {0xC0, 0xC1, 0xC2}, {0xB0, 0xB1, 0xB2},
    {0xA0, 0xA1, 0xA2}, {0x90, 0x91, 0x92}, {0x80, 0x81, 0x82}, {0x88, 0x89, 0x8A},
};
// In every row the data register follows the output-enable register, and
// the status register follows the data register.
constexpr uint8_t kGpioDataOffset = 1;
constexpr uint8_t kGpioStatusOffset = 2;

F81865StateRecord& S = F81865State;

// Lines of the line layout. Inputs read a group's status register, outputs
// its data register.
LineMap InputLines() { return {S.InBits, BoardConfig.InAddr, BoardConfig.InMask}; }
LineMap OutputLines() { return {S.OutBits, BoardConfig.OutAddr, BoardConfig.OutMask}; }
uint8_t StatusReg(uint16_t group) { return F81865GpioRegs[group].PinStatus; }
uint8_t DataReg(uint16_t group) { return F81865GpioRegs[group].OutputData; }

// Directions of the two groups as the firmware left them, read inside the
// caller's bracket. Lines keep their gaps: only the lowest line is shifted
// down to bit 0, and the counts count the lines.
void DIO_F81865_IOMask(const F81865Config& config, uint8_t index, uint8_t outIndex) {
    S.MaskOutp = config.ReadReg(outIndex);
    S.MaskInp = static_cast<uint8_t>(~config.ReadReg(index));
    DbgPrint("DIO_F81865_IOMask: index = %x, outIndex = %x MaskOutp = %x, MaskInp = %x\n",
             static_cast<unsigned>(index), static_cast<unsigned>(outIndex), static_cast<unsigned>(S.MaskOutp),
             static_cast<unsigned>(S.MaskInp));
    S.InBits = CountBits(S.MaskInp);
    S.ShiftInp = LowestSetBit(S.MaskInp);
    S.OutBits = CountBits(S.MaskOutp);
    S.ShiftOutp = LowestSetBit(S.MaskOutp);
    DbgPrint("DIO_F81865_IOMask: InBits=%d, OutBits=%d\n", static_cast<int>(S.InBits),
             static_cast<int>(S.OutBits));
    DbgPrint("DIO_F81865_IOMask: ShiftInp=%x, ShiftOutp=%x, InMask=%x, OutMask=%x\n",
             static_cast<unsigned>(S.ShiftInp), static_cast<unsigned>(S.ShiftOutp),
             static_cast<unsigned>(S.MaskInp), static_cast<unsigned>(S.MaskOutp));
}

void DIO_F81865_SelectGroups(uint8_t inGroup, uint8_t outGroup) {
    F81865Config config(F81865_DEVICE_GPIO);
    S.index = F81865GpioRegs[inGroup].OutputEnable;
    S.outIndex = F81865GpioRegs[outGroup].OutputEnable;
    DIO_F81865_IOMask(config, S.index, S.outIndex);
}

// ---- Group layout ----------------------------------------------------------

int32_t GroupInit() {
    const uint8_t last = S.Variant->MaxGpioGroup;
    if (BoardConfig.GPIOGroup > last || BoardConfig.GPIOOutGroup > last) {
        LoadRefused(ZRV_REASON_GROUP_OUT_OF_RANGE);
        return -1;
    }
    DIO_F81865_SelectGroups(BoardConfig.GPIOGroup, BoardConfig.GPIOOutGroup);
    return 0;
}

uint16_t GroupGet(const F81865Config& config, bool outputs) {
    if (outputs)
        return static_cast<uint16_t>(
            (config.ReadReg(static_cast<uint8_t>(S.outIndex + kGpioDataOffset)) & S.MaskOutp) >> S.ShiftOutp);
    return static_cast<uint16_t>(
        (config.ReadReg(static_cast<uint8_t>(S.index + kGpioStatusOffset)) & S.MaskInp) >> S.ShiftInp);
}

// The whole data register is written: bits outside the output mask are 0,
// and lines shifted beyond bit 7 are lost.
void GroupSet(const F81865Config& config, uint16_t lines) {
    const uint8_t value = static_cast<uint8_t>(S.MaskOutp & static_cast<uint8_t>(lines << S.ShiftOutp));
    config.WriteReg(static_cast<uint8_t>(S.outIndex + kGpioDataOffset), value);
}

// ---- Line layout -----------------------------------------------------------

// A line naming a group the chip does not have would index past the register
// table: such a map is refused at set-up, naming the line.
bool GroupExists(uint16_t group) { return group <= S.Variant->MaxGpioGroup; }

int32_t LineInit() {
    S.InBits = BoardConfig.InBits;
    S.OutBits = BoardConfig.OutBits;
    if (!LinesServed(InputLines(), GroupExists,
                     "DIO_F81865 input line %d names GPIO group %d, digital I/O not bound\n") ||
        !LinesServed(OutputLines(), GroupExists,
                     "DIO_F81865 output line %d names GPIO group %d, digital I/O not bound\n")) {
        S.InBits = 0;
        S.OutBits = 0;
        return -1;
    }
    return 0;
}

uint16_t LineGet(const F81865Config& config, bool outputs) {
    return outputs ? ReadLineWord(config, OutputLines(), DataReg)
                   : ReadLineWord(config, InputLines(), StatusReg);
}

void LineSet(const F81865Config& config, uint16_t lines) {
    WriteLineWord(config, OutputLines(), DataReg, lines);
}

// ---- Layouts -----------------------------------------------------------------

struct Layout {
    uint32_t DeviceType;
    int32_t (*Init)();
    uint16_t (*Get)(const F81865Config& config, bool outputs);
    void (*Set)(const F81865Config& config, uint16_t lines);
};
const Layout kLayouts[] = {
    {kDioLayoutGroup, GroupInit, GroupGet, GroupSet},
    {kDioLayoutLine, LineInit, LineGet, LineSet},
};

// The configuration load hands this back-end only the two layouts; any
// other device type (0 and 4, the port layouts) finds no row and is refused.
const Layout* CurrentLayout() { return FindRow(kLayouts, &Layout::DeviceType, BoardConfig.DioDeviceType); }

uint16_t DIO_F81865_GetConfig() {
    const uint16_t config = static_cast<uint16_t>(S.OutBits << 8 | S.InBits);
    DbgPrint("DIO_F81865_GetConfig: %x\n", static_cast<unsigned>(config));
    return config;
}

uint16_t DIO_F81865_Get(uint16_t selector) {
    F81865Config config(F81865_DEVICE_GPIO);
    return CurrentLayout()->Get(config, selector != 0);
}

void DIO_F81865_Set(uint16_t lines) {
    DbgPrint("DIO_F81865_Set: Output=%x\n", static_cast<unsigned>(lines));
    F81865Config config(F81865_DEVICE_GPIO);
    CurrentLayout()->Set(config, lines);
}

}  // namespace

const DioOps F81865DioOps = {
    DIO_F81865_GetConfig, DIO_F81865_Get, DIO_F81865_Set, nullptr, nullptr, nullptr, nullptr, nullptr,
};

ZRV_INIT int32_t DIO_F81865_Detect() {
    if (!F81865_ChipPresent()) return -1;
    const Layout* layout = CurrentLayout();
    if (layout == nullptr) LoadRefused(ZRV_REASON_LAYOUT_NOT_SERVED);
    return layout != nullptr ? layout->Init() : -1;
}
