#include "core/config.h"

#include "core/config_values.h"
#include "core/report.h"
#include "core/rows.h"
#include "core/wstr.h"

ZRV_GLOBAL BoardConfigRecord BoardConfig;
ZRV_GLOBAL uint8_t ConfigLoaded;

const ZrvWChar kRegistryPrefix[] = ZRV_WIDE(ZRV_REG_ROOT_KERNEL);
const ZrvWChar kSubkeyHwmon[] = ZRV_WIDE(ZRV_REG_KEY_HWMON);
const ZrvWChar kSubkeyWdt[] = ZRV_WIDE(ZRV_REG_KEY_WDT);
const ZrvWChar kSubkeyDio[] = ZRV_WIDE(ZRV_REG_KEY_DIO);

namespace {

// Room for the full information of every value this driver reads: header,
// the longest value name and four bytes of data.
constexpr uint32_t kValueInfoBytes = ZRV_REG_VALUE_INFO_BYTES;
// Per-line value names ("OutMask15" and shorter), terminator included.
constexpr uint32_t kLineNameChars = 10;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The 32-bit number in a full-information record, read as every reader of
// the configuration reads a value.
uint32_t DwordFromFullInfo(const uint8_t* info) {
    const uint32_t offset = ReadLe32(info + 8);
    if (offset > kValueInfoBytes - ZRV_REG_DWORD_BYTES) return 0;
    return DwordOfValue(ReadLe32(info + 4), info + offset, ReadLe32(info + 12));
}

// Statuses of a read that found no value to take: the key or the value is
// absent, or the value does not fit the reader's buffer. Any other failure
// (the pool, the registry itself) says nothing about the board.
const ZrvStatus kValueMissing[] = {
    ZRV_STATUS_OBJECT_NAME_NOT_FOUND,
    ZRV_STATUS_OBJECT_PATH_NOT_FOUND,
    ZRV_STATUS_BUFFER_OVERFLOW,
    ZRV_STATUS_BUFFER_TOO_SMALL,
};

bool ValueMissing(ZrvStatus status) { return InList(kValueMissing, status); }

ZRV_INIT ZrvStatus ReadLineValue(const ZrvWChar* stem, uint32_t index, uint32_t* value) {
    ZrvWChar name[kLineNameChars];
    name[0] = 0;
    // A name that does not fit names no value.
    if (!WstrAppend(name, kLineNameChars, stem) || !WstrAppendDecimal(name, kLineNameChars, index))
        return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    return ReadRegistryDword(kSubkeyDio, name, value);
}

// Group and mask of `count` lines, from the values "<addrStem><n>" and
// "<maskStem><n>", line by line.
ZRV_INIT ZrvStatus ReadLines(const ZrvWChar* addrStem, const ZrvWChar* maskStem, uint32_t count,
                             uint16_t* group, uint8_t* mask) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t addr = 0, bits = 0;
        ZrvStatus status = ReadLineValue(addrStem, i, &addr);
        if (!ZRV_SUCCESS(status)) return status;
        group[i] = static_cast<uint16_t>(addr);
        status = ReadLineValue(maskStem, i, &bits);
        if (!ZRV_SUCCESS(status)) return status;
        mask[i] = static_cast<uint8_t>(bits);
    }
    return ZRV_STATUS_SUCCESS;
}

// Reads a line count; counts above the 16 lines of a line word are kept at 16.
ZRV_INIT ZrvStatus ReadLineCount(const ZrvWChar* name, uint8_t* count) {
    uint32_t value = 0;
    const ZrvStatus status = ReadRegistryDword(kSubkeyDio, name, &value);
    if (!ZRV_SUCCESS(status)) return status;
    *count = LineMapCount(value);
    return status;
}

// The outcome of the configuration load so far. A value the load needs and
// does not find clears Complete; a read that fails for any other reason than
// a missing value sets Failed, which fails the whole load: taking such a
// failure for an absent value would bind other back-ends than the board has
// (an absent "DIO" "DeviceType" is the port digital I/O).
struct ConfigLoad {
    bool Complete = true;
    bool Failed = false;

    // Returns whether the value was read.
    bool Take(ZrvStatus status, bool needed) {
        if (ZRV_SUCCESS(status)) return true;
        if (needed) Complete = false;
        if (!ValueMissing(status)) Failed = true;
        return false;
    }
    bool Read(const ZrvWChar* subkey, const ZrvWChar* name, uint32_t* target, bool needed) {
        return Take(ReadRegistryDword(subkey, name, target), needed);
    }
};

template <typename T>
void FreeArray(T*& array) {
    if (array != nullptr) PlatFree(array);
    array = nullptr;
}

}  // namespace

ZrvWChar* AllocRegistryPath(const ZrvWChar* subkey) {
    const uint32_t chars = WstrLength(kRegistryPrefix) + WstrLength(subkey) + 1;
    ZrvWChar* path = static_cast<ZrvWChar*>(PlatAllocPaged(chars * sizeof(ZrvWChar)));
    if (path == nullptr) return nullptr;
    path[0] = 0;
    WstrAppend(path, chars, kRegistryPrefix);
    WstrAppend(path, chars, subkey);
    return path;
}

ZrvStatus ReadRegistryDword(const ZrvWChar* subkey, const ZrvWChar* valueName, uint32_t* result) {
    ZrvWChar* path = AllocRegistryPath(subkey);
    uint8_t* info = static_cast<uint8_t*>(PlatAllocPaged(kValueInfoBytes));
    if (path == nullptr || info == nullptr) {
        if (path != nullptr) PlatFree(path);
        if (info != nullptr) PlatFree(info);
        return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    }

    PlatKey key = nullptr;
    ZrvStatus status = PlatRegOpenKey(path, ZRV_KEY_ALL_ACCESS, &key);
    if (ZRV_SUCCESS(status)) {
        MemZero(info, kValueInfoBytes);
        uint32_t needed = 0;
        status = PlatRegQueryValueFull(key, valueName, info, kValueInfoBytes, &needed);
        if (ZRV_SUCCESS(status)) *result = DwordFromFullInfo(info);
        PlatRegCloseKey(key);
    }
    PlatFree(info);
    PlatFree(path);
    return status;
}

ZRV_INIT bool ReadPortValues(const ZrvWChar* subkey, const PlatRegDwordEntry* entries, uint32_t count) {
    ZrvWChar* path = AllocRegistryPath(subkey);
    if (path == nullptr) {
        LoadRefused(ZRV_REASON_NO_MEMORY);
        return false;
    }
    // One query, absent values read 0; the key is optional.
    const ZrvStatus status = PlatRegQueryDwords(path, entries, count, true);
    PlatFree(path);
    if (ZRV_SUCCESS(status)) return true;
    LoadRefused(status == ZRV_STATUS_INSUFFICIENT_RESOURCES ? ZRV_REASON_NO_MEMORY
                                                            : ZRV_REASON_VALUE_UNREADABLE);
    return false;
}

void FreeLineMap() {
    FreeArray(BoardConfig.InAddr);
    FreeArray(BoardConfig.OutAddr);
    FreeArray(BoardConfig.InMask);
    FreeArray(BoardConfig.OutMask);
}

ZRV_INIT ZrvStatus LoadLineMap() {
    // The counts are stored only together with arrays of that size, so that
    // no count ever promises entries that were not allocated.
    uint8_t inCount = 0, outCount = 0;
    ZrvStatus status = ReadLineCount(ZRV_WIDE(ZRV_REG_IN_BITS), &inCount);
    if (!ZRV_SUCCESS(status)) return status;
    status = ReadLineCount(ZRV_WIDE(ZRV_REG_OUT_BITS), &outCount);
    if (!ZRV_SUCCESS(status)) return status;

    // A repeated load (the previous one failed, so nothing uses the old
    // arrays) starts from new arrays.
    FreeLineMap();
    BoardConfig.InBits = 0;
    BoardConfig.OutBits = 0;
    const uint32_t in = inCount;
    const uint32_t out = outCount;
    // At least one entry each, so that a count of 0 still leaves valid arrays.
    BoardConfig.InAddr = static_cast<uint16_t*>(PlatAllocPaged((in ? in : 1) * sizeof(uint16_t)));
    BoardConfig.OutAddr = static_cast<uint16_t*>(PlatAllocPaged((out ? out : 1) * sizeof(uint16_t)));
    BoardConfig.InMask = static_cast<uint8_t*>(PlatAllocPaged(in ? in : 1));
    BoardConfig.OutMask = static_cast<uint8_t*>(PlatAllocPaged(out ? out : 1));
    if (BoardConfig.InAddr == nullptr || BoardConfig.OutAddr == nullptr || BoardConfig.InMask == nullptr ||
        BoardConfig.OutMask == nullptr) {
        // Without the arrays there are no lines to serve.
        FreeLineMap();
        return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    }
    MemZero(BoardConfig.InAddr, (in ? in : 1) * sizeof(uint16_t));
    MemZero(BoardConfig.OutAddr, (out ? out : 1) * sizeof(uint16_t));
    MemZero(BoardConfig.InMask, in ? in : 1);
    MemZero(BoardConfig.OutMask, out ? out : 1);
    BoardConfig.InBits = inCount;
    BoardConfig.OutBits = outCount;

    status = ReadLines(ZRV_WIDE(ZRV_REG_IN_ADDR), ZRV_WIDE(ZRV_REG_IN_MASK), in, BoardConfig.InAddr,
                       BoardConfig.InMask);
    if (!ZRV_SUCCESS(status)) return status;
    return ReadLines(ZRV_WIDE(ZRV_REG_OUT_ADDR), ZRV_WIDE(ZRV_REG_OUT_MASK), out, BoardConfig.OutAddr,
                     BoardConfig.OutMask);
}

ZRV_INIT bool LoadBoardConfig() {
    ConfigLoad load;
    load.Read(kSubkeyHwmon, ZRV_WIDE(ZRV_REG_SUPERIO), &BoardConfig.HwmChip, true);
    load.Read(kSubkeyWdt, ZRV_WIDE(ZRV_REG_DEVICE_TYPE), &BoardConfig.WdtDeviceType, true);
    if (BoardConfig.WdtDeviceType == ZRV_WDT_TYPE_CHIP) {
        load.Read(kSubkeyWdt, ZRV_WIDE(ZRV_REG_SUPERIO), &BoardConfig.WdtChip, true);
    } else {
        BoardConfig.WdtChip = CHIP_PORTS;
    }
    load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_DEVICE_TYPE), &BoardConfig.DioDeviceType, true);

    // The digital I/O's chip, line map and groups are not needed: a missing
    // one leaves the digital I/O without lines or without a back-end.
    const uint32_t dioType = BoardConfig.DioDeviceType;
    if (dioType == ZRV_DIO_TYPE_GROUPS || dioType == ZRV_DIO_TYPE_LINES) {
        load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_SUPERIO), &BoardConfig.DioChip, false);
    } else {
        BoardConfig.DioChip = CHIP_PORTS;
    }
    if (dioType == ZRV_DIO_TYPE_LINES || dioType == ZRV_DIO_TYPE_PORTS_MAP) load.Take(LoadLineMap(), false);
    if (dioType == ZRV_DIO_TYPE_GROUPS) {
        uint32_t group = BoardConfig.GPIOGroup;
        if (load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_GPIO_GROUP), &group, false))
            BoardConfig.GPIOGroup = static_cast<uint8_t>(group);
        uint32_t outGroup = BoardConfig.GPIOOutGroup;
        if (load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_GPIO_OUT_GROUP), &outGroup, false))
            BoardConfig.GPIOOutGroup = static_cast<uint8_t>(outGroup);
    }
    if (load.Failed) return false;
    return dioType == ZRV_DIO_TYPE_PORTS ? true : load.Complete;
}

void SetLineBit(uint16_t* word, uint32_t registerValue, uint32_t bit, uint32_t mask) {
    if (bit >= ZRV_MAX_LINES) return;  // a line word has 16 lines
    const uint16_t b = static_cast<uint16_t>(1u << bit);
    if (((registerValue & mask) & 0xFFFFu) != 0)
        *word = static_cast<uint16_t>(*word | b);
    else
        *word = static_cast<uint16_t>(*word & ~b);
}

void SetMaskBits(uint8_t* registerByte, uint32_t state, uint8_t mask) {
    if ((state & 0xFFu) != 0)
        *registerByte = static_cast<uint8_t>(*registerByte | mask);
    else
        *registerByte = static_cast<uint8_t>(*registerByte & ~mask);
}
