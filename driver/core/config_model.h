// How a load turns the board's registry values into its configuration: the
// values it reads and in which order, which of them it needs, how the
// per-line map is read and where it stops. Freestanding and free of
// registry calls: the values come through a ConfigReader, which the driver
// fills from the kernel registry and zrvctl from a board's registry, so that
// both run the same rules.
#pragma once

#include "core/config_values.h"
#include "core/pc_ports.h"
#include "platform/platform.h"

// A registry name of zorvik/registry.h as the wide string the registry
// routines take.
#define ZRV_WIDE(name) u"" name

// Subkeys under the configuration root.
inline constexpr ZrvWChar kSubkeyHwmon[] = ZRV_WIDE(ZRV_REG_KEY_HWMON);
inline constexpr ZrvWChar kSubkeyWdt[] = ZRV_WIDE(ZRV_REG_KEY_WDT);
inline constexpr ZrvWChar kSubkeyDio[] = ZRV_WIDE(ZRV_REG_KEY_DIO);

struct BoardConfigRecord {
    uint32_t HwmChip;
    uint32_t WdtDeviceType;
    uint32_t WdtChip;
    uint32_t DioDeviceType;
    uint32_t DioChip;
    // Group layout (device type 1) and line layout (types 3 and 4) share
    // the first two bytes.
    union {
        uint8_t GPIOGroup;
        uint8_t InBits;
    };
    union {
        uint8_t GPIOOutGroup;
        uint8_t OutBits;
    };
    uint16_t* InAddr;   // InBits group numbers
    uint16_t* OutAddr;  // OutBits group numbers
    uint8_t* InMask;    // InBits register masks
    uint8_t* OutMask;   // OutBits register masks
    // What the last load found, for those who explain it: the needed values
    // it missed (kMissing* bits) and how many per-line entries, inputs
    // first, it read whole before the map stopped.
    uint8_t Missing;
    uint8_t LinesRead;
};

// Needed values a load may miss.
enum : uint8_t {
    kMissingHwmChip = 1u << 0,  // HWMON "SuperIO"
    kMissingWdtType = 1u << 1,  // WDT "DeviceType"
    kMissingWdtChip = 1u << 2,  // WDT "SuperIO", with a chip watchdog
    kMissingDioType = 1u << 3,  // DIO "DeviceType"
};

struct ConfigReader {
    void* Context;
    // The configuration reader's read of one value (a failure status when
    // the key or value is absent or the value does not fit the reader).
    ZrvStatus (*Read)(void* context, const ZrvWChar* subkey, const ZrvWChar* name, uint32_t* value);
    // Storage for the per-line map.
    void* (*Alloc)(void* context, uint32_t bytes);
    void (*Free)(void* context, void* block);
};

// Loads `config` from `source`. False when a needed value is missing
// (unless the digital I/O is the port layout, which needs none) and
// whenever a read failed for another reason than a missing value, such as
// the pool.
bool LoadConfigFrom(const ConfigReader& source, BoardConfigRecord& config);
// Success when every per-line value was read; otherwise the status of the
// read that stopped it, or STATUS_INSUFFICIENT_RESOURCES without arrays.
ZrvStatus LoadLineMapFrom(const ConfigReader& source, BoardConfigRecord& config);
// Releases the per-line arrays.
void FreeLineMapOf(const ConfigReader& source, BoardConfigRecord& config);

// The port back-ends' registry values, each read in one query of its key
// without the configuration reader's size limit (absent: 0). Their tables
// of names are here, for the driver's query and for zrvctl alike.
struct PortWdtValues {
    uint32_t Start, Stop, Timeout, Reset, StopBeforeReset;
};
constexpr uint32_t kPortWdtValueCount = 5;
void PortWdtEntries(PortWdtValues& values, PlatRegDwordEntry (&entries)[kPortWdtValueCount]);

struct PortCdValues {
    uint32_t CDPort;
    uint32_t CDOutPort;
    uint32_t CDInMask;
    uint32_t CDOutMask;
    uint32_t CDIsOutInvert;
};
struct PortDioValues {
    uint32_t IOBaseIn, IOBaseOut, InMask, OutMask, InBits, OutBits;
    uint32_t IOBaseIn2, IOBaseOut2, InMask2, OutMask2;
    PortCdValues Cd;
    uint32_t CDIsInInvert;  // read, applied by nothing: inputs are reported as read
    uint32_t UseSpecificSetting, SpecificMaskIo, SpecificDataIo;
};
constexpr uint32_t kPortDioValueCount = 19;
void PortDioEntries(PortDioValues& values, PlatRegDwordEntry (&entries)[kPortDioValueCount]);

// The port of a port watchdog action (ZRV_PORT_ACTION_*): 0 for none.
constexpr uint16_t PortActionPort(uint16_t action) {
    return (action & ZRV_PORT_ACTION_WRITE) != 0 ? static_cast<uint16_t>(action & ZRV_PORT_ACTION_PORT_MASK)
                                                 : action;
}

// Every port a port back-end can reach with its values, by any request or
// at load, with the value that names it; a port of 0 is no port and is
// left out.
struct PortReach {
    uint16_t Port;
    const char* Value;  // its name in zorvik/registry.h
};
struct PortReachList {
    PortReach Ports[8];
    uint32_t Count;
};
void PortWdtReach(const PortWdtValues& values, PortReachList& list);
void PortDioReach(const PortDioValues& values, PortReachList& list);
// The first port of the list that is one of the PC's own (core/pc_ports.h),
// which the back-end is refused for; null when there is none.
const PortReach* FirstPcPortReached(const PortReachList& list);
