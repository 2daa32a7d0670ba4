// The CD port of the port digital I/O: a byte-wide port on which a few
// listed lines are inputs and a few others are outputs, set one at a time or
// pulsed for one second. Inputs and outputs are numbered from 1 in the order
// of their lines, lowest line first.
//
// Locking: CDSetOutput and CDPulseOutput hold the CD port lock from their
// read to their last write, the pulse across its one-second wait as well.
// Both rewrite the whole port byte from what they read; without the lock a
// line set during a pulse would be put back when the pulse ends. The lock
// makes such a request wait for the pulse instead. CDGetInputs is a single
// read and takes no lock.
#include "core/hwlock.h"
#include "dio/port_dio.h"

namespace {

// Lists the set bits of a mask, lowest first. A list holds four lines: the
// four lowest lines of a wider mask are kept and the rest ignored.
uint8_t ListBits(uint8_t mask, uint8_t* list) {
    uint8_t count = 0;
    for (uint8_t bit = 0; bit < 8 && count < ZRV_CD_MAX_LINES; ++bit)
        if ((mask & (1u << bit)) != 0) list[count++] = bit;
    return count;
}

// The line of output number n (from 1), or -1 when there is no such output.
int32_t OutputLine(uint8_t output) {
    if (output == 0 || output > PortDioState.CDOutBitCount) return -1;
    return PortDioState.CDOutBitList[output - 1];
}

uint8_t WithLine(uint8_t byte, int32_t line, bool high) {
    const uint8_t bit = static_cast<uint8_t>(1u << line);
    return high ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

}  // namespace

// A port address of 0 is no port. Without a read port there are no CD
// inputs; without a write port ("CDOutPort" and "CDPort" both 0, or a
// "CDOutPort" whose low 16 bits are 0) there are no CD outputs.
ZRV_INIT void DIO_Port_DeriveCD(const PortCdValues& v) {
    PortDioStateRecord& s = PortDioState;
    s.CDReadPort = static_cast<uint16_t>(v.CDPort);
    s.CDWritePort = static_cast<uint16_t>(v.CDOutPort != 0 ? v.CDOutPort : v.CDPort);
    s.CDOutInverted = static_cast<uint8_t>(v.CDIsOutInvert) != 0 ? 1 : 0;
    s.CDInBitCount = s.CDReadPort != 0 ? ListBits(static_cast<uint8_t>(v.CDInMask), s.CDInBitList) : 0;
    s.CDOutBitCount = s.CDWritePort != 0 ? ListBits(static_cast<uint8_t>(v.CDOutMask), s.CDOutBitList) : 0;
}

// Input i of the answer is the line CDInBitList[i] as read; no inversion.
uint8_t DIO_Port_CDGetInputs() {
    const PortDioStateRecord& s = PortDioState;
    if (s.CDReadPort == 0) return 0;
    const uint8_t raw = PlatReadPort(s.CDReadPort);
    uint8_t inputs = 0;
    for (uint8_t i = 0; i < s.CDInBitCount; ++i)
        if ((raw & (1u << s.CDInBitList[i])) != 0) inputs = static_cast<uint8_t>(inputs | 1u << i);
    return inputs;
}

// Drives the line active, waits one second and leaves it inactive, whatever
// level it had before. The port is read also for an output number that does
// not exist.
void DIO_Port_CDPulseOutput(uint8_t output) {
    const PortDioStateRecord& s = PortDioState;
    if (s.CDWritePort == 0) return;
    HwLockGuard guard(HW_LOCK_CD_PORT);
    uint8_t byte = PlatReadPort(s.CDWritePort);
    const int32_t line = OutputLine(output);
    if (line < 0) return;
    const bool active = s.CDOutInverted == 0;
    byte = WithLine(byte, line, active);
    PlatWritePort(s.CDWritePort, byte);
    PlatWaitOneSecond();
    byte = WithLine(byte, line, !active);
    PlatWritePort(s.CDWritePort, byte);
}

// Sets one line and writes the other bits back as read.
void DIO_Port_CDSetOutput(uint8_t output, uint8_t state) {
    const PortDioStateRecord& s = PortDioState;
    if (s.CDWritePort == 0) return;
    HwLockGuard guard(HW_LOCK_CD_PORT);
    const uint8_t byte = PlatReadPort(s.CDWritePort);
    const int32_t line = OutputLine(output);
    if (line < 0) return;
    const bool high = (state != 0) != (s.CDOutInverted != 0);
    PlatWritePort(s.CDWritePort, WithLine(byte, line, high));
}

uint8_t DIO_Port_CDGetOutputCount() { return PortDioState.CDOutBitCount; }
