// The port digital I/O: inputs and outputs on I/O ports that the registry
// names under "DIO", either in the plain layout (up to two input and two
// output ports, each with a line mask) or in the specific layout (one data
// port whose lines a direction register splits into inputs and outputs).
// The CD port that shares its registry key lives in port_cd.cpp.
//
// Locking: GetConfig, Get, Set and SetSpecificMask hold the port digital-I/O
// lock. A direction mask rewrites the direction register, the line counts
// and several layout fields together; without the lock a request running
// beside it could use half of the old layout and half of the new one, drive
// lines that have just become inputs, or report the old input count with
// the new output count.
#include "dio/port_dio.h"

#include "core/backends.h"
#include "core/config.h"
#include "core/config_values.h"
#include "core/hwlock.h"

ZRV_GLOBAL PortDioStateRecord PortDioState;

namespace {

// Lines of one byte-wide port.
constexpr int32_t kPortLines = 8;

// A line count of the plain layout and the line that refuses it.
struct LineCount {
    uint8_t Count;
    const char* Refusal;
    uint8_t Reason;
};

// Index of the lowest set bit; 0 for 0.
uint8_t LowBitIndex(uint8_t m) {
    if (m == 0) return 0;
    uint8_t i = 0;
    while ((m & (1u << i)) == 0) ++i;
    return i;
}

// Clear bits above the highest set bit, counted from bit 7 down; 0 for 0.
uint8_t HighZeroCount(uint8_t m) {
    if (m == 0) return 0;
    uint8_t n = 0;
    while ((m & (0x80u >> n)) == 0) ++n;
    return n;
}

uint8_t BitCount(uint8_t m) {
    uint8_t n = 0;
    for (; m != 0; m = static_cast<uint8_t>(m & (m - 1))) ++n;
    return n;
}

// Placement of a second port's lines right above the first port's: with
// contiguous masks 8 - HighZeroCount - shift is the first port's line count.
uint8_t SecondPortShift(uint8_t secondMask, uint8_t firstMask, uint8_t firstShift) {
    const uint8_t above = firstMask != 0 ? static_cast<uint8_t>(HighZeroCount(firstMask) + firstShift)
                                         : static_cast<uint8_t>(kPortLines);
    return static_cast<uint8_t>(LowBitIndex(secondMask) + above);
}

// The shift count 8 - placement. When it is negative the second port's
// lowest line would sit below the first port's lines; such a port adds
// nothing to a line word and is written 0 (a shift taken modulo 32 would
// move every bit out of 16 bits anyway). Returns -1 then.
int32_t SecondPortDistance(uint8_t placement) {
    const int32_t distance = kPortLines - static_cast<int32_t>(placement);
    return distance >= 0 ? distance : -1;
}

// Reads one set of lines: the second port first, then the first port.
uint16_t ReadLines(uint16_t port, uint8_t mask, uint8_t shift, uint16_t port2, uint8_t mask2,
                   uint8_t place2) {
    if (port == 0) return 0;
    uint32_t high = 0;
    if (port2 != 0) {
        const uint8_t raw = PlatReadPort(port2);
        const int32_t distance = SecondPortDistance(place2);
        if (distance >= 0) high = static_cast<uint32_t>(raw & mask2) << distance;
    }
    const uint32_t low = static_cast<uint32_t>(PlatReadPort(port) & mask) >> shift;
    return static_cast<uint16_t>(high | low);
}

// The specific layout for direction mask m (set bits are inputs). The data
// port carries the inputs when any line is an input and the outputs when any
// line is an output; all-input and all-output masks leave the other side
// without a port. The second port pair is off in this layout.
void ApplySpecificLayout(uint8_t m) {
    PortDioStateRecord& s = PortDioState;
    PlatWritePort(s.SpecificMaskPort, m);
    s.In2Port = 0;
    s.Out2Port = 0;
    s.In2PortMask = 0;
    s.Out2PortMask = 0;
    s.InPortMask = m;
    s.OutPortMask = static_cast<uint8_t>(~m);
    s.InCount = BitCount(m);
    s.OutCount = static_cast<uint8_t>(kPortLines - s.InCount);
    s.InPort = s.InPortMask != 0 ? s.SpecificDataPort : static_cast<uint16_t>(0);
    s.OutPort = s.OutPortMask != 0 ? s.SpecificDataPort : static_cast<uint16_t>(0);
    s.InShift = LowBitIndex(s.InPortMask);
    s.OutShift = LowBitIndex(s.OutPortMask);
}

ZRV_INIT void ApplyPlainLayout(const PortDioValues& v) {
    PortDioStateRecord& s = PortDioState;
    s.InPort = static_cast<uint16_t>(v.IOBaseIn);
    s.OutPort = static_cast<uint16_t>(v.IOBaseOut);
    s.In2Port = static_cast<uint16_t>(v.IOBaseIn2);
    s.Out2Port = static_cast<uint16_t>(v.IOBaseOut2);
    s.InCount = static_cast<uint8_t>(v.InBits);
    s.OutCount = static_cast<uint8_t>(v.OutBits);
    s.InPortMask = static_cast<uint8_t>(v.InMask);
    s.OutPortMask = static_cast<uint8_t>(v.OutMask);
    s.In2PortMask = static_cast<uint8_t>(v.InMask2);
    s.Out2PortMask = static_cast<uint8_t>(v.OutMask2);
    s.InShift = LowBitIndex(s.InPortMask);
    s.OutShift = LowBitIndex(s.OutPortMask);
}

uint16_t DIO_Port_GetConfig() {
    HwLockGuard guard(HW_LOCK_PORT_DIO);
    return static_cast<uint16_t>(PortDioState.OutCount << 8 | PortDioState.InCount);
}

uint16_t DIO_Port_Get(uint16_t outputs) {
    HwLockGuard guard(HW_LOCK_PORT_DIO);
    const PortDioStateRecord& s = PortDioState;
    if (outputs != 0)
        return ReadLines(s.OutPort, s.OutPortMask, s.OutShift, s.Out2Port, s.Out2PortMask, s.Out2Shift);
    return ReadLines(s.InPort, s.InPortMask, s.InShift, s.In2Port, s.In2PortMask, s.In2Shift);
}

// Lines outside a mask are written 0: no port is read before it is written.
void DIO_Port_Set(uint16_t value) {
    HwLockGuard guard(HW_LOCK_PORT_DIO);
    const PortDioStateRecord& s = PortDioState;
    if (s.OutPort == 0) return;
    if (s.Out2Port != 0) {
        const int32_t distance = SecondPortDistance(s.Out2Shift);
        const uint8_t high = distance >= 0 ? static_cast<uint8_t>((value >> distance) & s.Out2PortMask) : 0;
        PlatWritePort(s.Out2Port, high);
    }
    PlatWritePort(s.OutPort,
                  static_cast<uint8_t>((static_cast<uint32_t>(value) << s.OutShift) & s.OutPortMask));
}

// Without a direction register ("SpecificMaskIo" absent or 0) there is
// nothing to write the mask to: port 0 is the DMA controller on a PC. The
// layout and the hardware stay as they are and the request is refused.
int32_t DIO_Port_SetSpecificMask(uint8_t mask) {
    HwLockGuard guard(HW_LOCK_PORT_DIO);
    if (PortDioState.SpecificMaskPort == 0) return -1;
    ApplySpecificLayout(mask);
    return 0;
}

}  // namespace

ZRV_INIT int32_t DIO_Port_LoadConfig() {
    PortDioValues v{};
    PlatRegDwordEntry entries[kPortDioValueCount];
    PortDioEntries(v, entries);
    // The key is optional: without it every value is 0.
    if (!ReadPortValues(kSubkeyDio, entries, kPortDioValueCount)) return -1;

    // The plain layout reports its line counts as the registry gives them,
    // and a caller shifts by them into the 16-bit line word: a count the
    // word cannot carry is a board description to refuse, not to pass on.
    // The back-end prints nothing but its refusals: without this line a board
    // that lost its digital I/O to a mistyped count would leave no trace of why.
    if (v.UseSpecificSetting == 0) {
        const LineCount counts[] = {
            {LineCountOf(v.InBits),
             "DIO_Port InBits %d is more than a line word carries, digital I/O not bound\n",
             ZRV_REASON_IN_BITS_TOO_LARGE},
            {LineCountOf(v.OutBits),
             "DIO_Port OutBits %d is more than a line word carries, digital I/O not bound\n",
             ZRV_REASON_OUT_BITS_TOO_LARGE},
        };
        for (const LineCount& c : counts) {
            if (!LineCountServed(c.Count)) {
                DbgPrint(c.Refusal, static_cast<int>(c.Count));
                LoadRefused(c.Reason);
                return -1;
            }
        }
    }

    // Checked before the direction register is read: a port among the PC's
    // own refuses the whole digital I/O, CD port included, untouched.
    PortReachList reach;
    PortDioReach(v, reach);
    if (!PortsOnTheBoard(reach, "DIO_Port %s port 0x%X is reserved for the PC, digital I/O not bound\n"))
        return -1;

    PortDioStateRecord& s = PortDioState;
    s.SpecificMaskPort = static_cast<uint16_t>(v.SpecificMaskIo);
    s.SpecificDataPort = static_cast<uint16_t>(v.SpecificDataIo);
    if (v.UseSpecificSetting != 0) {
        // The direction register keeps the mask the board came up with: read
        // it and write it back. Without a direction register the directions
        // are unknown, and the main lines stay off.
        if (s.SpecificMaskPort != 0) {
            HwLockGuard guard(HW_LOCK_PORT_DIO);
            ApplySpecificLayout(PlatReadPort(s.SpecificMaskPort));
        }
    } else {
        ApplyPlainLayout(v);
    }
    DIO_Port_DeriveCD(v.Cd);

    if (s.In2Port != 0) s.In2Shift = SecondPortShift(s.In2PortMask, s.InPortMask, s.InShift);
    if (s.Out2Port != 0) s.Out2Shift = SecondPortShift(s.Out2PortMask, s.OutPortMask, s.OutShift);
    return 0;
}

const DioOps PortDioOps = {
    DIO_Port_GetConfig,
    DIO_Port_Get,
    DIO_Port_Set,
    DIO_Port_CDGetInputs,
    DIO_Port_CDPulseOutput,
    DIO_Port_CDSetOutput,
    DIO_Port_CDGetOutputCount,
    DIO_Port_SetSpecificMask,
};
