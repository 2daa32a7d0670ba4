// State of the port digital I/O, shared by its main lines (port_dio.cpp)
// and its CD port (port_cd.cpp). Built once at load from the registry values
// under "DIO"; only the direction mask changes it afterwards.
#pragma once

#include "core/config_model.h"
#include "core/ops.h"

// The CD port lists at most this many inputs and outputs.
#define ZRV_CD_MAX_LINES 4u

struct PortDioStateRecord {
    // Main lines. A port of 0 is no port: it is never read or written.
    uint16_t InPort;       // first input port
    uint8_t InPortMask;    // input lines on InPort
    uint8_t InShift;       // right shift of the masked InPort byte
    uint8_t InCount;       // input bit count reported by GetConfig
    uint16_t In2Port;      // second input port
    uint8_t In2PortMask;   // input lines on In2Port
    uint8_t In2Shift;      // In2Port bits go left by 8 - In2Shift
    uint16_t OutPort;      // first output port
    uint8_t OutPortMask;   // output lines on OutPort
    uint8_t OutShift;      // left shift of the value's low byte
    uint8_t OutCount;      // output bit count reported by GetConfig
    uint16_t Out2Port;     // second output port
    uint8_t Out2PortMask;  // output lines on Out2Port
    uint8_t Out2Shift;     // the value goes right by 8 - Out2Shift for Out2Port

    // The direction register and data port of the specific layout, kept for
    // later direction masks.
    uint16_t SpecificMaskPort;
    uint16_t SpecificDataPort;

    // CD port, fixed at load.
    uint16_t CDReadPort;    // read by CDGetInputs
    uint16_t CDWritePort;   // read and written by CDSetOutput and CDPulseOutput
    uint8_t CDOutInverted;  // outputs are active low
    uint8_t CDInBitList[ZRV_CD_MAX_LINES];
    uint8_t CDInBitCount;
    uint8_t CDOutBitList[ZRV_CD_MAX_LINES];
    uint8_t CDOutBitCount;
};

extern PortDioStateRecord PortDioState;

// Fills the CD fields of PortDioState; touches no port.
void DIO_Port_DeriveCD(const PortCdValues& values);

// The CD slots of the port digital-I/O table.
uint8_t DIO_Port_CDGetInputs();
void DIO_Port_CDPulseOutput(uint8_t output);
void DIO_Port_CDSetOutput(uint8_t output, uint8_t state);
uint8_t DIO_Port_CDGetOutputCount();
