// Board configuration read from the registry at load, and the selection of
// one back-end per function.
#pragma once

#include "core/chips.h"
#include "core/config_model.h"
#include "core/ops.h"
#include "zorvik/registry.h"

// Chip codes, the values of the three "SuperIO" registry values.
enum ChipType : uint32_t {
    CHIP_IT87XX = ZRV_CHIP_IT87XX,
    CHIP_W83627 = ZRV_CHIP_W83627,
    CHIP_W83627_ALT = ZRV_CHIP_W83627_ALT,
    CHIP_F81216 = ZRV_CHIP_F81216,
    CHIP_SCH3114 = ZRV_CHIP_SCH3114,
    CHIP_F81865 = ZRV_CHIP_F81865,
    CHIP_PORTS = ZRV_CHIP_PORTS,  // port back-ends configured in the registry
};

extern BoardConfigRecord BoardConfig;
extern uint8_t ConfigLoaded;

// The configuration root, "\Registry\Machine\Software\Varnel\Zorvik\".
extern const ZrvWChar kRegistryPrefix[];

// False when a needed value is missing (unless the digital I/O is the port
// back-end) and whenever a read failed for another reason than a missing
// value, such as the pool.
bool LoadBoardConfig();
// Success when every per-line value was read; otherwise the status of the
// read that stopped it, or STATUS_INSUFFICIENT_RESOURCES without arrays.
ZrvStatus LoadLineMap();
// Releases the per-line arrays; only at unload, when no request can run.
void FreeLineMap();

// Reads one REG_DWORD value of a subkey. On success *result is the value, or
// 0 when it has another type; on failure *result is untouched.
ZrvStatus ReadRegistryDword(const ZrvWChar* subkey, const ZrvWChar* valueName, uint32_t* result);

// The port back-ends' values under one subkey, in one query without the
// configuration reader's size limit: absent values, and an absent key, read
// 0. On a failed read the targets keep what they held, the refusal is
// recorded for the function being selected, and the result is false.
bool ReadPortValues(const ZrvWChar* subkey, const PlatRegDwordEntry* entries, uint32_t count);

// Whether every port a port back-end reaches (PortWdtReach, PortDioReach)
// is the board's. Otherwise the back-end is refused before it touches any:
// `refusal` is printed with the value's name and the first of the PC's own
// ports it names, and ZRV_REASON_PC_PORT recorded for the function being
// selected.
bool PortsOnTheBoard(const PortReachList& list, const char* refusal);

// Builds "<prefix><subkey>" into a pool buffer the caller frees, or null.
ZrvWChar* AllocRegistryPath(const ZrvWChar* subkey);

void SetLineBit(uint16_t* word, uint32_t registerValue, uint32_t bit, uint32_t mask);
void SetMaskBits(uint8_t* registerByte, uint32_t state, uint8_t mask);

const HwmOps* SelectHwmOps();
const WdtOps* SelectWdtOps();
const DioOps* SelectDioOps();
