#include "core/config.h"

#include "core/wstr.h"

ZRV_GLOBAL BoardConfigRecord BoardConfig;
ZRV_GLOBAL uint8_t ConfigLoaded;

const ZrvWChar kRegistryPrefix[] = u"\\Registry\\Machine\\Software\\Varnel\\Zorvik\\";
const ZrvWChar kSubkeyHwmon[] = u"HWMON";
const ZrvWChar kSubkeyWdt[] = u"WDT";
const ZrvWChar kSubkeyDio[] = u"DIO";

namespace {

// Room for the full information of every value this driver reads: header,
// the longest value name and four bytes of data.
constexpr uint32_t kValueInfoBytes = 58;
// Per-line value names ("OutMask15" and shorter), terminator included.
constexpr uint32_t kLineNameChars = 10;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The 32-bit number in a full-information record, or 0 when the value is
// not a well-formed REG_DWORD.
uint32_t DwordFromFullInfo(const uint8_t* info) {
    const uint32_t type = ReadLe32(info + 4);
    const uint32_t offset = ReadLe32(info + 8);
    const uint32_t length = ReadLe32(info + 12);
    if (type != ZRV_REG_DWORD || length < 4 || offset > kValueInfoBytes - 4) return 0;
    return ReadLe32(info + offset);
}

ZRV_INIT bool ReadLineValue(const ZrvWChar* stem, uint32_t index, uint32_t* value) {
    ZrvWChar name[kLineNameChars];
    name[0] = 0;
    if (!WstrAppend(name, kLineNameChars, stem) || !WstrAppendDecimal(name, kLineNameChars, index))
        return false;
    return ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, name, value));
}

// Reads a line count; counts above the 16 lines of a line word are kept at 16.
ZRV_INIT bool ReadLineCount(const ZrvWChar* name, uint8_t* count) {
    uint32_t value = 0;
    if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, name, &value))) return false;
    const uint8_t low = static_cast<uint8_t>(value);
    *count = low > ZRV_MAX_LINES ? static_cast<uint8_t>(ZRV_MAX_LINES) : low;
    return true;
}

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

void FreeLineMap() {
    FreeArray(BoardConfig.InAddr);
    FreeArray(BoardConfig.OutAddr);
    FreeArray(BoardConfig.InMask);
    FreeArray(BoardConfig.OutMask);
}

ZRV_INIT bool LoadLineMap() {
    // The counts are stored only together with arrays of that size, so that
    // no count ever promises entries that were not allocated.
    uint8_t inCount = 0, outCount = 0;
    if (!ReadLineCount(u"InBits", &inCount)) return false;
    if (!ReadLineCount(u"OutBits", &outCount)) return false;

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
        return false;
    }
    MemZero(BoardConfig.InAddr, (in ? in : 1) * sizeof(uint16_t));
    MemZero(BoardConfig.OutAddr, (out ? out : 1) * sizeof(uint16_t));
    MemZero(BoardConfig.InMask, in ? in : 1);
    MemZero(BoardConfig.OutMask, out ? out : 1);
    BoardConfig.InBits = inCount;
    BoardConfig.OutBits = outCount;

    for (uint32_t i = 0; i < in; ++i) {
        uint32_t addr = 0, mask = 0;
        if (!ReadLineValue(u"InAddr", i, &addr)) return false;
        BoardConfig.InAddr[i] = static_cast<uint16_t>(addr);
        if (!ReadLineValue(u"InMask", i, &mask)) return false;
        BoardConfig.InMask[i] = static_cast<uint8_t>(mask);
    }
    for (uint32_t i = 0; i < out; ++i) {
        uint32_t addr = 0, mask = 0;
        if (!ReadLineValue(u"OutAddr", i, &addr)) return false;
        BoardConfig.OutAddr[i] = static_cast<uint16_t>(addr);
        if (!ReadLineValue(u"OutMask", i, &mask)) return false;
        BoardConfig.OutMask[i] = static_cast<uint8_t>(mask);
    }
    return true;
}

ZRV_INIT bool LoadBoardConfig() {
    bool ok = true;
    if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyHwmon, u"SuperIO", &BoardConfig.HwmChip))) ok = false;
    if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyWdt, u"DeviceType", &BoardConfig.WdtDeviceType))) ok = false;
    if (BoardConfig.WdtDeviceType == 1) {
        if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyWdt, u"SuperIO", &BoardConfig.WdtChip))) ok = false;
    } else {
        BoardConfig.WdtChip = CHIP_PORTS;
    }
    if (!ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, u"DeviceType", &BoardConfig.DioDeviceType))) ok = false;

    const uint32_t dioType = BoardConfig.DioDeviceType;
    if (dioType == 1 || dioType == 3) {
        ReadRegistryDword(kSubkeyDio, u"SuperIO", &BoardConfig.DioChip);
    } else {
        BoardConfig.DioChip = CHIP_PORTS;
    }
    if (dioType == 3 || dioType == 4) LoadLineMap();
    if (dioType == 1) {
        uint32_t group = BoardConfig.GPIOGroup;
        if (ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, u"GPIOGroup", &group)))
            BoardConfig.GPIOGroup = static_cast<uint8_t>(group);
        uint32_t outGroup = BoardConfig.GPIOOutGroup;
        if (ZRV_SUCCESS(ReadRegistryDword(kSubkeyDio, u"GPIOOutGroup", &outGroup)))
            BoardConfig.GPIOOutGroup = static_cast<uint8_t>(outGroup);
    }
    return dioType == 0 ? true : ok;
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
